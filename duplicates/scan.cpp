#include "scan.h"

#include <cstring>
#include <fstream>
#include <unordered_map>

#include "fnv1a.h"

namespace fs = std::filesystem;

namespace {
using SizeBuckets = std::unordered_map<std::uint64_t, std::vector<fs::path>>;

// Gathers regular files (symbolic links followed) by size. An error of the
// iteration itself ends the walk quietly; what was gathered is kept.
void bucket_by_size(const fs::path& root, DuplicateStats& stats, SizeBuckets& buckets) {
    try {
        for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied), end; it != end;
             ++it) {
            const fs::directory_entry& entry = *it;
            std::error_code ec;
            // A status that cannot be read is not a regular file; it must not end the walk.
            if (!entry.is_regular_file(ec)) continue;
            const std::uintmax_t size = entry.file_size(ec);
            if (ec) {
                ++stats.files_with_errors;
                continue;
            }
            buckets[static_cast<std::uint64_t>(size)].push_back(entry.path());
            ++stats.files_scanned;
        }
    } catch (...) {
    }
}

// Splits one hash bucket into groups of equal files, each led by its
// earliest not yet used member.
void confirm_groups(const std::vector<fs::path>& paths, DuplicateStats& stats, DuplicateGroups& groups) {
    std::vector<bool> used(paths.size(), false);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (used[i]) continue;
        std::vector<fs::path> group{paths[i]};
        used[i] = true;
        for (std::size_t j = i + 1; j < paths.size(); ++j) {
            if (used[j] || !files_equal(paths[i], paths[j])) continue;
            group.push_back(paths[j]);
            used[j] = true;
        }
        if (group.size() < 2) continue;
        ++stats.duplicate_groups;
        stats.duplicate_files += group.size();
        groups.push_back(std::move(group));
    }
}
}  // namespace

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats) {
    SizeBuckets sizes;
    bucket_by_size(root, stats, sizes);

    DuplicateGroups groups;
    for (const auto& [size, paths] : sizes) {
        if (paths.size() < 2) continue;
        stats.candidate_files += paths.size();
        std::unordered_map<std::uint64_t, std::vector<fs::path>> hashes;
        for (const fs::path& path : paths) {
            std::uint64_t hash = 0;
            if (hash_file_fnv1a(path, hash))
                hashes[hash].push_back(path);
            else
                ++stats.files_with_errors;
        }
        for (const auto& [hash, same] : hashes)
            if (same.size() >= 2) confirm_groups(same, stats, groups);
    }
    return groups;
}

bool hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) { return fnv1a_file(file, hash); }

bool files_equal(const fs::path& a, const fs::path& b) {
    std::error_code ec_a;
    std::error_code ec_b;
    const std::uintmax_t size_a = fs::file_size(a, ec_a);
    const std::uintmax_t size_b = fs::file_size(b, ec_b);
    if (ec_a || ec_b || size_a != size_b) return false;

    std::ifstream in_a(a, std::ios::binary);
    std::ifstream in_b(b, std::ios::binary);
    if (!in_a.is_open() || !in_b.is_open()) return false;

    std::vector<char> block_a(kFnv1aBlockSize);
    std::vector<char> block_b(kFnv1aBlockSize);
    while (in_a.good() && in_b.good()) {
        in_a.read(block_a.data(), static_cast<std::streamsize>(block_a.size()));
        in_b.read(block_b.data(), static_cast<std::streamsize>(block_b.size()));
        const std::streamsize got = in_a.gcount();
        if (got != in_b.gcount()) return false;
        if (got == 0) break;
        if (std::memcmp(block_a.data(), block_b.data(), static_cast<std::size_t>(got)) != 0) return false;
    }
    return true;
}
