#include "scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>

#include "ending_signals.h"
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

// Paths of the walk as NUL-ended texts in large shared blocks: a
// std::string or std::filesystem::path per file would cost an allocation
// (and parsed components) each.
class PathStore {
public:
    const char* add(const std::string& folder, const char* name) {
        const std::size_t name_size = std::strlen(name);
        const bool separator = folder.empty() || folder.back() != '/';
        const std::size_t need = folder.size() + (separator ? 1 : 0) + name_size + 1;
        char* out;
        if (need > kBlock / 4) {  // a long path gets a block of its own
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(need));
            out = blocks_.back().get();
        } else {
            if (need > left_) {
                blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
                next_ = blocks_.back().get();
                left_ = kBlock;
            }
            out = next_;
            next_ += need;
            left_ -= need;
        }
        char* at = std::copy(folder.begin(), folder.end(), out);
        if (separator) *at++ = '/';
        std::memcpy(at, name, name_size + 1);
        return out;
    }

private:
    static constexpr std::size_t kBlock = 1 << 18;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

// Regular files in walk order.
struct WalkedFiles {
    PathStore store;
    std::vector<const char*> paths;
    std::vector<std::uint64_t> sizes;
};

// One folder of the walk, read whole by one worker. Its items keep readdir
// order; a subfolder's own items come in where the subfolder stands, so the
// flattened items are the order of a recursive directory iteration.
struct Folder {
    enum class Kind : std::uint8_t { file, size_error, folder, stop };
    struct Item {
        std::uint64_t value;    // a file's size, a folder's index among all folders
        std::uint32_t name_at;  // a file's name in `names`
        Kind kind;
    };
    std::string path;
    int open_flags;
    std::vector<Item> items;
    std::string names;  // the files' names, each ended by NUL
};

std::string join(const std::string& folder, const char* name) {
    std::string path;
    path.reserve(folder.size() + 1 + std::strlen(name));
    path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
}

// Reads one folder: regular files (links followed) with their sizes, and
// subfolders to be read later; links to folders are not entered. A folder
// that may not be entered stays empty; any other error becomes a stop item
// that ends the whole walk at that point.
void read_folder(Folder& folder, std::vector<std::unique_ptr<Folder>>& subfolders) {
    using Kind = Folder::Kind;
    const int fd = ::open(folder.path.c_str(), folder.open_flags);
    if (fd < 0) {
        if (errno != EACCES) folder.items.push_back({0, 0, Kind::stop});
        return;
    }
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(fd), closedir);
    if (dir == nullptr) {
        ::close(fd);
        folder.items.push_back({0, 0, Kind::stop});
        return;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir.get());
        if (entry == nullptr) {
            if (errno != 0) folder.items.push_back({0, 0, Kind::stop});
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        unsigned char type = entry->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {  // some file systems leave the type to a separate query
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : S_ISREG(st.st_mode) ? DT_REG : DT_FIFO;
        }
        if (type == DT_DIR) {
            auto sub = std::make_unique<Folder>();
            sub->path = join(folder.path, name);
            sub->open_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
            folder.items.push_back({0, 0, Kind::folder});
            subfolders.push_back(std::move(sub));
            continue;
        }
        if (type != DT_REG && type != DT_LNK) continue;
        // Status and size in one query, links followed. A link that leads
        // nowhere is no regular file; a regular file without a size is an error.
        if (fstatat(fd, name, &st, 0) != 0) {
            if (type == DT_REG) folder.items.push_back({0, 0, Kind::size_error});
            continue;
        }
        if (!S_ISREG(st.st_mode)) continue;
        folder.items.push_back(
            {static_cast<std::uint64_t>(st.st_size), static_cast<std::uint32_t>(folder.names.size()), Kind::file});
        folder.names.append(name, std::strlen(name) + 1);
    }
}

// Folders waiting to be read and the count being read; the walk is over
// when both are empty.
class FolderQueue {
public:
    explicit FolderQueue(std::unique_ptr<Folder> root) {
        folders_.push_back(std::move(root));
        waiting_.push_back(0);
    }

    // Reads folders until none is left, or until running out of memory
    // somewhere ends the walk for all.
    void work() {
        std::vector<std::unique_ptr<Folder>> subfolders;
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return failed_ || !waiting_.empty() || reading_ == 0; });
            if (failed_ || waiting_.empty() || ending_signal() != 0) return;
            Folder* folder = folders_[waiting_.back()].get();
            waiting_.pop_back();
            ++reading_;
            hold.unlock();
            bool done = true;
            try {
                subfolders.clear();
                read_folder(*folder, subfolders);
            } catch (...) {
                done = false;
            }
            hold.lock();
            try {
                if (done) queue_subfolders(*folder, subfolders);
            } catch (...) {
                done = false;
            }
            if (!done) failed_ = true;
            --reading_;
            wake_.notify_all();
        }
    }

    // The regular files in walk order, after every worker has ended.
    void flatten(DuplicateStats& stats, WalkedFiles& files) {
        if (failed_) return;
        std::vector<std::pair<Folder*, std::size_t>> branch{{folders_[0].get(), 0}};
        while (!branch.empty()) {
            auto& [folder, next] = branch.back();
            if (next == folder->items.size()) {
                std::vector<Folder::Item>().swap(folder->items);
                std::string().swap(folder->names);
                branch.pop_back();
                continue;
            }
            const Folder::Item& item = folder->items[next++];
            switch (item.kind) {
                case Folder::Kind::file:
                    files.paths.push_back(files.store.add(folder->path, folder->names.c_str() + item.name_at));
                    files.sizes.push_back(item.value);
                    ++stats.files_scanned;
                    break;
                case Folder::Kind::size_error:
                    ++stats.files_with_errors;
                    break;
                case Folder::Kind::folder:
                    branch.emplace_back(folders_[item.value].get(), 0);
                    break;
                case Folder::Kind::stop:
                    return;
            }
        }
    }

private:
    // With the lock held: numbers the folder's subfolders and queues them,
    // later siblings below earlier ones, so that the walk goes deep first and
    // keeps few folders waiting.
    void queue_subfolders(Folder& folder, std::vector<std::unique_ptr<Folder>>& subfolders) {
        folders_.reserve(folders_.size() + subfolders.size());
        waiting_.reserve(waiting_.size() + subfolders.size());
        std::size_t k = 0;
        for (Folder::Item& item : folder.items) {
            if (item.kind != Folder::Kind::folder) continue;
            item.value = folders_.size();
            folders_.push_back(std::move(subfolders[k++]));
        }
        for (std::size_t i = folders_.size(); i > folders_.size() - k; --i) waiting_.push_back(i - 1);
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::unique_ptr<Folder>> folders_;
    std::vector<std::size_t> waiting_;
    std::size_t reading_ = 0;
    bool failed_ = false;
};

// The walk of a recursive directory iteration that skips folders it may not
// enter and does not follow links to folders, its folders read on worker
// threads. Any other error ends the walk quietly; what came before is kept.
void walk_regular_files(const std::string& root, unsigned workers, DuplicateStats& stats, WalkedFiles& files) {
    auto top = std::make_unique<Folder>();
    top->path = root;
    top->open_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    FolderQueue queue(std::move(top));
    run_on_workers(workers, workers, [&](std::size_t, unsigned) { queue.work(); });
    queue.flatten(stats, files);
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
        if (ending_signal() != 0) return false;
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
        const char* first = files.paths[bucket[i].file];
        for (std::size_t j = i + 1; j < count; ++j) {
            if (used[j] || !contents_equal(first, files.paths[bucket[j].file], buffers)) continue;
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
        walk_regular_files(root.native(), workers, stats, files);
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
    const auto unopened =
        std::count_if(candidates.begin(), candidates.end(), [](const Candidate& c) { return !c.opened; });
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
