#include "scan.h"

#include <algorithm>
#include <string>

#include "hash_stages.h"
#include "walked_paths.h"
#include "work_pool.h"

namespace fs = std::filesystem;
using namespace gemmit;

namespace {
// Bytes hashed from each candidate before deciding whether the rest is worth
// hashing: a file whose head no other file of its size shares has no twin.
constexpr std::size_t kHeadBytes = 4096;
}  // namespace

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats) {
    return find_duplicates(root, stats, default_worker_count());
}

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats, unsigned workers) {
    workers = std::max(1u, workers);
    WalkedPaths paths;
    WalkedFiles files;
    try {
        walk_regular_files(root.native(), paths, files, stats);
    } catch (...) {
        // Running out of memory while walking ends the walk like any other error.
    }
    Candidates c = same_size_files(files, stats);
    std::vector<Group> groups;

    // Every identity is opened once on the way, its head hashed unless it is alone at its size.
    std::vector<std::vector<unsigned char>> scratch(workers);
    run_on_workers(c.identities.size(), workers, [&](std::size_t i, unsigned worker) {
        hash_identity(c.identities[i], std::min<std::uint64_t>(c.identities[i].size, kHeadBytes), c.members, files,
                      paths, scratch[worker]);
    }, kEndingSignals);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < c.identities.size(); ++i) {
        const Identity& identity = c.identities[i];
        stats.files_with_errors += identity.failed;
        if (identity.alone)
            add_identity_group(identity, c, groups);
        else if (identity.alive())
            order.push_back(i);
    }

    // Only identities whose head another one of their size shares are hashed to the end, largest first.
    sort_by_hash(order, c);
    std::vector<std::size_t> shared;
    std::vector<std::size_t> unfinished;
    for (const auto& [first, count] : hash_runs(order, c)) {
        if (count == 1) {
            add_identity_group(c.identities[order[first]], c, groups);
            continue;
        }
        for (std::size_t k = first; k < first + count; ++k) {
            shared.push_back(order[k]);
            if (c.identities[order[k]].size > kHeadBytes) unfinished.push_back(order[k]);
        }
    }
    std::stable_sort(unfinished.begin(), unfinished.end(),
                     [&](std::size_t x, std::size_t y) { return c.identities[x].size > c.identities[y].size; });
    std::vector<std::uint32_t> failed_at_head(unfinished.size());
    for (std::size_t k = 0; k < unfinished.size(); ++k) failed_at_head[k] = c.identities[unfinished[k]].failed;
    run_on_workers(unfinished.size(), workers, [&](std::size_t k, unsigned worker) {
        Identity& identity = c.identities[unfinished[k]];
        hash_identity(identity, identity.size, c.members, files, paths, scratch[worker]);
    }, kEndingSignals);
    scratch.clear();
    for (std::size_t k = 0; k < unfinished.size(); ++k)
        stats.files_with_errors += c.identities[unfinished[k]].failed - failed_at_head[k];
    order.clear();
    for (const std::size_t i : shared)
        if (c.identities[i].alive()) order.push_back(i);

    // Buckets of equal size and whole-file hash, confirmed byte by byte, largest first.
    sort_by_hash(order, c);
    std::vector<std::pair<std::size_t, std::size_t>> buckets;
    for (const auto& [first, count] : hash_runs(order, c)) {
        if (count == 1)
            add_identity_group(c.identities[order[first]], c, groups);
        else
            buckets.emplace_back(first, count);
    }
    std::stable_sort(buckets.begin(), buckets.end(), [&](const auto& x, const auto& y) {
        return c.identities[order[x.first]].size * x.second > c.identities[order[y.first]].size * y.second;
    });
    std::vector<std::vector<Group>> found(buckets.size());
    run_on_workers(buckets.size(), workers, [&](std::size_t b, unsigned) {
        found[b] = confirm_bucket(c, files, paths, &order[buckets[b].first], buckets[b].second);
    }, kEndingSignals);
    for (auto& bucket_groups : found)
        for (Group& group : bucket_groups) groups.push_back(std::move(group));
    found = {};
    c = {};

    // Groups in the walk order of their first members: the same on every run and for every thread count.
    std::sort(groups.begin(), groups.end(), [](const Group& x, const Group& y) { return x.front() < y.front(); });
    // The paths, every one parsed into its parts, are the largest part of the
    // result: what only the scan needed goes first.
    std::vector<std::pair<std::uint32_t, const char*>> where;
    for (const Group& members : groups)
        for (const std::size_t file : members) where.emplace_back(files[file].folder, files[file].name);
    files = {};
    DuplicateGroups result;
    result.reserve(groups.size());
    std::string path;
    std::size_t next = 0;
    for (Group& members : groups) {
        std::vector<fs::path> group;
        group.reserve(members.size());
        for (std::size_t k = 0; k < members.size(); ++k, ++next) {
            WalkedFile file;
            file.folder = where[next].first;
            file.name = where[next].second;
            group.emplace_back(paths.path_of(file, path));
        }
        ++stats.duplicate_groups;
        stats.duplicate_files += group.size();
        result.push_back(std::move(group));
        members = {};
    }
    return result;
}

bool gemmit::hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    FileIdentity id;
    std::uint64_t size = 0;
    const platform::Fd fd = open_content(file.c_str(), id, size);
    if (!fd) return false;
    Fnv1aProgress progress;
    std::vector<unsigned char> buffer;
    if (!fnv1a_read(fd.get(), size, progress, buffer, kEndingSignals) || !still_of_size(fd.get(), size)) return false;
    hash = progress.state;
    return true;
}

bool files_equal(const fs::path& a, const fs::path& b) {
    FileIdentity id_a;
    FileIdentity id_b;
    std::uint64_t size_a = 0;
    std::uint64_t size_b = 0;
    if (!open_content(a.c_str(), id_a, size_a) || !open_content(b.c_str(), id_b, size_b) || size_a != size_b)
        return false;
    const auto classes = split_by_content({{a.c_str(), id_a}, {b.c_str(), id_b}}, size_a, kEndingSignals);
    return classes[0] != kUnreadable && classes[0] == classes[1];
}
