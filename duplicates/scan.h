// The duplicate scan: size buckets, then FNV-1a hashes, then byte-by-byte
// confirmation. It deletes, moves and writes nothing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

struct DuplicateStats {
    std::uint64_t files_scanned = 0;      // regular files that entered the size buckets
    std::uint64_t files_with_errors = 0;  // size unreadable, or candidate that would not open
    std::uint64_t candidate_files = 0;    // files sharing their size with another file
    std::uint64_t duplicate_groups = 0;
    std::uint64_t duplicate_files = 0;  // members of all groups
};

using DuplicateGroups = std::vector<std::vector<std::filesystem::path>>;

// Every set of two or more byte-identical regular files under `root`; the
// counters are added to, never reset. Members keep walk order.
// The files are read on the machine's thread count, or on `workers` threads;
// groups come in the walk order of their first members, whatever the count.
DuplicateGroups find_duplicates(const std::filesystem::path& root, DuplicateStats& stats);
DuplicateGroups find_duplicates(const std::filesystem::path& root, DuplicateStats& stats, unsigned workers);

// The whole file's 64-bit FNV-1a hash; false (hash untouched) when it will not
// open. The search program's filter has a rule of its own under the same name.
namespace gemmit {
bool hash_file_fnv1a(const std::filesystem::path& file, std::uint64_t& hash);
}  // namespace gemmit
using gemmit::hash_file_fnv1a;

// True only when both sizes are readable and equal, both files open, and
// every block read from one equals the block read from the other.
bool files_equal(const std::filesystem::path& a, const std::filesystem::path& b);
