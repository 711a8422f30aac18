// The scan's stages after the walk: files of one size grouped by identity,
// hashed (the head first, the rest only where heads agree), and buckets of one
// size and hash confirmed byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "ending_signals.h"
#include "fnv1a.h"
#include "same_content.h"
#include "stop_check.h"
#include "walked_paths.h"

namespace gemmit {

// An ending signal ends the reading between blocks and files; the program
// then ends where the workers have been joined.
inline constexpr platform::StopCheck kEndingSignals{ending_signal, act_on_signals};

// One distinct file among the candidates: the paths that lead to it are
// members[first, first + count), in walk order, the first `failed` of which
// would not open as it. Hashing works per identity, so a file reached by
// several paths is read once.
struct Identity {
    std::size_t first = 0;
    std::uint32_t count = 0;
    std::uint32_t failed = 0;
    std::uint64_t size = 0;
    FileIdentity id;
    Fnv1aProgress hash;
    bool alone = false;  // the only identity of its size: no reading needed

    bool alive() const { return failed < count; }
    std::uint32_t live() const { return count - failed; }
};

struct Candidates {
    std::vector<std::size_t> members;  // walk indices, grouped by identity
    std::vector<Identity> identities;  // by size, then identity
};

using Group = std::vector<std::size_t>;  // walk indices

// Files that share their size with another path, grouped by identity.
Candidates same_size_files(const WalkedFiles& files, DuplicateStats& stats);

// Hashes up to `until`; a file that fails to read there, or changed size once
// read to its end, fails for every path that leads to it.
void hash_identity(Identity& identity, std::uint64_t until, const std::vector<std::size_t>& members,
                   const WalkedFiles& files, const WalkedPaths& paths, std::vector<unsigned char>& buffer);

// Identities ordered by size, then the hash state they reached, then walk order.
void sort_by_hash(std::vector<std::size_t>& order, const Candidates& c);

// Runs of identities that share size and hash state.
std::vector<std::pair<std::size_t, std::size_t>> hash_runs(const std::vector<std::size_t>& order, const Candidates& c);

// The live paths of one identity: a group of their own when there are two or more.
void add_identity_group(const Identity& identity, const Candidates& c, std::vector<Group>& groups);

// Splits one bucket of equal size and hash into groups of byte-equal files,
// reading each distinct file once, all together.
std::vector<Group> confirm_bucket(const Candidates& c, const WalkedFiles& files, const WalkedPaths& paths,
                                  const std::size_t* ids, std::size_t count);

}  // namespace gemmit
