// 64-bit FNV-1a over buffers and open files: the hashing core
// shared by the duplicate finder and the search program's duplicate filter.
// It never writes to any stream; a caller that warns about a file it could
// not read does so itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stop_check.h"

inline constexpr std::uint64_t kFnv1aOffsetBasis = 0xcbf29ce484222325ULL;
inline constexpr std::uint64_t kFnv1aPrime = 0x100000001b3ULL;
// Open files are read in blocks of this many bytes.
inline constexpr std::size_t kFnv1aFileBlockSize = 1 << 18;

// Folds `size` bytes into `state`, each as an unsigned 8-bit value.
std::uint64_t fnv1a_update(std::uint64_t state, const void* data, std::size_t size) noexcept;

// The hash of one buffer, starting from the offset basis.
std::uint64_t fnv1a_buffer(const void* data, std::size_t size) noexcept;

// A file's hash taken in steps, so that a cheap look at its head can decide
// whether the rest is worth reading. The state after the head is the state
// the whole-file hash passes through, so resuming costs nothing extra.
struct Fnv1aProgress {
    std::uint64_t state = kFnv1aOffsetBasis;
    std::uint64_t offset = 0;  // bytes folded in so far
};

// Folds the bytes of `fd` from progress.offset up to `until` into the state.
// False when the file yields fewer (it shrank, or a read failed): a file is
// never read past the size it was opened with. `buffer` is the caller's
// scratch space, reused across calls. A stop asked for ends it between blocks,
// as a failed read would.
bool fnv1a_read(int fd, std::uint64_t until, Fnv1aProgress& progress, std::vector<unsigned char>& buffer,
                platform::StopCheck stop = {});
