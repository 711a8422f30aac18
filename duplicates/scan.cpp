#include "scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <string>

#include "fnv1a.h"
#include "read_only_file.h"
#include "work_pool.h"

namespace fs = std::filesystem;

namespace {
// Bytes read from each candidate before deciding whether the rest is worth
// hashing: a file whose head no other file of its size shares has no twin.
constexpr std::size_t kHeadBytes = 65536;
// Comparison reads this much from each file at a time.
constexpr std::size_t kCompareBlock = 1 << 18;

// Regular files in walk order. Paths are kept as plain text: a
// std::filesystem::path per file would cost its parsed components.
struct WalkedFiles {
    std::vector<std::string> paths;
    std::vector<std::uint64_t> sizes;
};

struct OpenFolder {
    DIR* dir;
    std::string path;
};

// The folders of the current branch of the walk, closed on every way out.
class FolderStack {
public:
    FolderStack() = default;
    FolderStack(const FolderStack&) = delete;
    FolderStack& operator=(const FolderStack&) = delete;
    ~FolderStack() {
        while (!folders_.empty()) pop();
    }
    // Takes ownership of `fd`; false (fd closed) when it cannot be read as a folder.
    bool push(int fd, std::string path) {
        DIR* dir = fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            return false;
        }
        folders_.push_back({dir, std::move(path)});
        return true;
    }
    void pop() {
        closedir(folders_.back().dir);
        folders_.pop_back();
    }
    bool empty() const { return folders_.empty(); }
    OpenFolder& top() { return folders_.back(); }

private:
    std::vector<OpenFolder> folders_;
};

std::string join(const std::string& folder, const char* name) {
    std::string path;
    path.reserve(folder.size() + 1 + std::strlen(name));
    path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

// The walk of a recursive directory iteration that skips folders it may not
// enter and does not follow links to folders: each folder's entries right
// after the folder, in readdir order. Names are looked up relative to their
// open folder, so each file costs one status query. Any other error ends the
// walk quietly; what was gathered is kept.
void walk_regular_files(const std::string& root, DuplicateStats& stats, WalkedFiles& files) {
    FolderStack open;
    const int root_fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd < 0 || !open.push(root_fd, root)) return;
    while (!open.empty()) {
        errno = 0;
        const dirent* entry = readdir(open.top().dir);
        if (entry == nullptr) {
            if (errno != 0) return;
            open.pop();
            continue;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        const int folder_fd = dirfd(open.top().dir);
        unsigned char type = entry->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {  // some file systems leave the type to a separate query
            if (fstatat(folder_fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
        }
        if (type == DT_DIR) {
            const int fd = openat(folder_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && errno == EACCES) continue;
            if (fd < 0 || !open.push(fd, join(open.top().path, name))) return;
            continue;
        }
        if (type != DT_REG && type != DT_LNK) continue;
        // Status and size in one query, links followed. A link that leads
        // nowhere is no regular file; a regular file without a size is an error.
        if (fstatat(folder_fd, name, &st, 0) != 0) {
            if (type == DT_REG) ++stats.files_with_errors;
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        files.paths.push_back(join(open.top().path, name));
        files.sizes.push_back(static_cast<std::uint64_t>(st.st_size));
        ++stats.files_scanned;
    }
}

// Reusable buffers, grown to what a comparison of `size` bytes needs.
struct CompareBuffers {
    std::vector<unsigned char> a;
    std::vector<unsigned char> b;
};

bool contents_equal(const char* a, const char* b, CompareBuffers& buffers) {
    struct stat st_a {};
    struct stat st_b {};
    if (::stat(a, &st_a) != 0 || ::stat(b, &st_b) != 0 || st_a.st_size != st_b.st_size) return false;
    const ReadOnlyFile in_a(a);
    const ReadOnlyFile in_b(b);
    if (!in_a.is_open() || !in_b.is_open()) return false;

    const std::size_t block = std::clamp<std::size_t>(static_cast<std::size_t>(st_a.st_size), 1, kCompareBlock);
    if (buffers.a.size() < block) buffers.a.resize(block);
    if (buffers.b.size() < block) buffers.b.resize(block);
    std::uint64_t offset = 0;
    for (;;) {
        bool failed_a = false;
        bool failed_b = false;
        const std::size_t got = in_a.read_at(buffers.a.data(), block, offset, failed_a);
        if (got != in_b.read_at(buffers.b.data(), block, offset, failed_b)) return false;
        if (got == 0) break;
        if (std::memcmp(buffers.a.data(), buffers.b.data(), got) != 0) return false;
        // A read error ends both reads like the end of the file.
        if (failed_a || failed_b || got < block) break;
        offset += got;
    }
    return true;
}

struct Candidate {
    std::size_t file;  // index into the walk
    std::uint64_t size;
    Fnv1aProgress hash;
    bool opened = false;
};

// Candidates ordered by size, then by the hash state they reached, then walk order.
bool by_size_hash_walk(const Candidate& x, const Candidate& y) {
    if (x.size != y.size) return x.size < y.size;
    if (x.hash.state != y.hash.state) return x.hash.state < y.hash.state;
    return x.file < y.file;
}

bool same_size_and_hash(const Candidate& x, const Candidate& y) {
    return x.size == y.size && x.hash.state == y.hash.state;
}

// Keeps only the candidates that share size and hash state with another.
void keep_shared(std::vector<Candidate>& candidates) {
    std::sort(candidates.begin(), candidates.end(), by_size_hash_walk);
    std::vector<Candidate> kept;
    for (std::size_t first = 0, last = 0; first < candidates.size(); first = last) {
        for (last = first + 1; last < candidates.size() && same_size_and_hash(candidates[first], candidates[last]);)
            ++last;
        if (last - first >= 2) kept.insert(kept.end(), candidates.begin() + first, candidates.begin() + last);
    }
    candidates = std::move(kept);
}

// Files that share their size with another, in walk order within each size.
std::vector<Candidate> same_size_files(const WalkedFiles& files) {
    std::vector<std::size_t> order(files.sizes.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t x, std::size_t y) { return files.sizes[x] < files.sizes[y]; });
    std::vector<Candidate> candidates;
    for (std::size_t first = 0, last = 0; first < order.size(); first = last) {
        const std::uint64_t size = files.sizes[order[first]];
        for (last = first + 1; last < order.size() && files.sizes[order[last]] == size;) ++last;
        if (last - first < 2) continue;
        for (std::size_t k = first; k < last; ++k) candidates.push_back(Candidate{order[k], size, {}, false});
    }
    return candidates;
}

// Splits one bucket of equal size and hash (walk order) into groups of equal
// files, each led by its earliest not yet used member.
std::vector<std::vector<std::size_t>> confirm_bucket(const WalkedFiles& files, const Candidate* bucket,
                                                     std::size_t count, CompareBuffers& buffers) {
    std::vector<std::vector<std::size_t>> groups;
    std::vector<bool> used(count, false);
    for (std::size_t i = 0; i < count; ++i) {
        if (used[i]) continue;
        std::vector<std::size_t> group{bucket[i].file};
        used[i] = true;
        const char* first = files.paths[bucket[i].file].c_str();
        for (std::size_t j = i + 1; j < count; ++j) {
            if (used[j] || !contents_equal(first, files.paths[bucket[j].file].c_str(), buffers)) continue;
            group.push_back(bucket[j].file);
            used[j] = true;
        }
        if (group.size() >= 2) groups.push_back(std::move(group));
    }
    return groups;
}
}  // namespace

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats) {
    return find_duplicates(root, stats, default_worker_count());
}

DuplicateGroups find_duplicates(const fs::path& root, DuplicateStats& stats, unsigned workers) {
    workers = std::max(1u, workers);
    WalkedFiles files;
    try {
        walk_regular_files(root.native(), stats, files);
    } catch (...) {
    }

    std::vector<Candidate> candidates = same_size_files(files);
    stats.candidate_files += candidates.size();

    // Every candidate is opened once; its head is hashed on the way.
    std::vector<std::vector<unsigned char>> scratch(workers);
    run_on_workers(candidates.size(), workers, [&](std::size_t i, unsigned worker) {
        Candidate& c = candidates[i];
        c.opened = fnv1a_file_head(files.paths[c.file], kHeadBytes, c.hash, scratch[worker]);
    });
    const auto unopened = std::count_if(candidates.begin(), candidates.end(), [](const Candidate& c) { return !c.opened; });
    stats.files_with_errors += static_cast<std::uint64_t>(unopened);
    std::erase_if(candidates, [](const Candidate& c) { return !c.opened; });

    // Only files whose head another file of their size shares are hashed to the end, largest first.
    keep_shared(candidates);
    std::vector<std::size_t> unfinished;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (!candidates[i].hash.complete) unfinished.push_back(i);
    std::stable_sort(unfinished.begin(), unfinished.end(),
                     [&](std::size_t x, std::size_t y) { return candidates[x].size > candidates[y].size; });
    run_on_workers(unfinished.size(), workers, [&](std::size_t k, unsigned worker) {
        Candidate& c = candidates[unfinished[k]];
        fnv1a_file_rest(files.paths[c.file], c.hash, scratch[worker]);
    });
    scratch.clear();
    keep_shared(candidates);

    // Buckets of equal size and whole-file hash, confirmed byte by byte, largest first.
    std::vector<std::pair<std::size_t, std::size_t>> buckets;  // first, count
    for (std::size_t first = 0, last = 0; first < candidates.size(); first = last) {
        for (last = first + 1; last < candidates.size() && same_size_and_hash(candidates[first], candidates[last]);)
            ++last;
        buckets.emplace_back(first, last - first);
    }
    std::stable_sort(buckets.begin(), buckets.end(), [&](const auto& x, const auto& y) {
        return candidates[x.first].size * x.second > candidates[y.first].size * y.second;
    });
    std::vector<std::vector<std::vector<std::size_t>>> found(buckets.size());
    std::vector<CompareBuffers> buffers(workers);
    run_on_workers(buckets.size(), workers, [&](std::size_t b, unsigned worker) {
        found[b] = confirm_bucket(files, &candidates[buckets[b].first], buckets[b].second, buffers[worker]);
    });
    buffers.clear();

    // Groups in the walk order of their first members: the same on every run and for every thread count.
    std::vector<std::vector<std::size_t>> all;
    for (auto& bucket_groups : found)
        for (auto& group : bucket_groups) all.push_back(std::move(group));
    std::sort(all.begin(), all.end(), [](const auto& x, const auto& y) { return x.front() < y.front(); });

    DuplicateGroups groups;
    groups.reserve(all.size());
    for (const auto& members : all) {
        std::vector<fs::path> group;
        group.reserve(members.size());
        for (std::size_t file : members) group.emplace_back(files.paths[file]);
        ++stats.duplicate_groups;
        stats.duplicate_files += group.size();
        groups.push_back(std::move(group));
    }
    return groups;
}

bool hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) { return fnv1a_file(file, hash); }

bool files_equal(const fs::path& a, const fs::path& b) {
    CompareBuffers buffers;
    return contents_equal(a.c_str(), b.c_str(), buffers);
}
