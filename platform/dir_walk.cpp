#include "dir_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
WalkEntry::Kind kind_of(const dirent& e, int folderFd) {
    switch (e.d_type) {
        case DT_REG:
            return WalkEntry::Kind::regular;
        case DT_DIR:
            return WalkEntry::Kind::directory;
        case DT_LNK:
            return WalkEntry::Kind::symlink;
        case DT_UNKNOWN:
            break;
        default:
            return WalkEntry::Kind::other;
    }
    // Some file systems leave the type to a separate query.
    struct stat st {};
    if (fstatat(folderFd, e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return WalkEntry::Kind::other;
    if (S_ISREG(st.st_mode)) return WalkEntry::Kind::regular;
    if (S_ISDIR(st.st_mode)) return WalkEntry::Kind::directory;
    if (S_ISLNK(st.st_mode)) return WalkEntry::Kind::symlink;
    return WalkEntry::Kind::other;
}

void join(std::string& out, const std::string& folder, const char* name) {
    out.assign(folder);
    if (!out.empty() && out.back() != '/') out += '/';
    out += name;
}

DIR* open_folder_at(int parentFd, const char* name) {
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        const int saved = errno;
        close(fd);
        errno = saved;
    }
    return dir;
}

// Thrown where a folder error ends the walk under WalkPolicy::stopOnError.
struct WalkStopped {};

// Whether a folder that failed with `error` ends the walk: a folder that may
// not be entered never does.
bool ends_walk(bool stopOnError, int error) { return stopOnError && error != 0 && error != EACCES; }

// One folder on the walk's way down. Deep trees would need a descriptor per
// level: beyond kMaxHeld levels the oldest held folder is parked (its
// remaining entries read into memory, its descriptor closed) and reopened by
// path when the walk comes back to it.
struct OpenFolder {
    DIR* dir = nullptr;  // while held; null once parked
    std::string path;
    std::vector<std::pair<std::string, unsigned char>> rest;  // parked: entries not yet visited, with d_type
    int restError = 0;  // parked: the error that cut the listing short, met after the entries in rest
    std::size_t next = 0;
    int fd = -1;  // a parked folder reopened for the entries in rest
    dirent parkedEntry{};

    int folder_fd() const { return dir ? dirfd(dir) : fd; }
    void release() {
        if (dir) closedir(dir);
        if (fd >= 0) close(fd);
        dir = nullptr;
        fd = -1;
    }
};
constexpr std::size_t kMaxHeld = 48;

void park(OpenFolder& folder) {
    if (folder.dir) {
        for (errno = 0; const dirent* e = readdir(folder.dir); errno = 0)
            folder.rest.emplace_back(e->d_name, e->d_type);
        folder.restError = errno;
        closedir(folder.dir);
        folder.dir = nullptr;
    }
    if (folder.fd >= 0) close(folder.fd);
    folder.fd = -1;
}

// The next entry of the folder, or null at its end (errno 0) or on an error
// (errno set). A parked folder that can no longer be reopened has none left.
const dirent* next_entry(OpenFolder& folder) {
    errno = 0;
    if (folder.dir) return readdir(folder.dir);
    if (folder.next >= folder.rest.size()) {
        errno = folder.restError;
        return nullptr;
    }
    if (folder.fd < 0) {
        folder.fd = open_any_length(folder.path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder.fd < 0) return nullptr;
    }
    const auto& [name, type] = folder.rest[folder.next++];
    std::memcpy(folder.parkedEntry.d_name, name.c_str(), name.size() + 1);
    folder.parkedEntry.d_type = type;
    return &folder.parkedEntry;
}

// Opens the folders of a too-long path one stretch at a time; returns the
// folder descriptor (AT_FDCWD when none was needed) and the rest of the path.
int descend_long_path(const std::string& path, std::string& rest) {
    int dirFd = AT_FDCWD;
    rest = path;
    while (rest.size() >= PATH_MAX) {
        const std::size_t slash = rest.rfind('/', PATH_MAX - 1);
        if (slash == std::string::npos) {
            if (dirFd != AT_FDCWD) close(dirFd);
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string stretch = slash == 0 ? std::string("/") : rest.substr(0, slash);
        const int next = openat(dirFd, stretch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int saved = errno;
        if (dirFd != AT_FDCWD) close(dirFd);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        dirFd = next;
        rest.erase(0, slash + 1);
    }
    return dirFd;
}
}  // namespace

bool WalkEntry::is_regular_file() const {
    if (kind == Kind::regular) return true;
    if (kind != Kind::symlink) return false;
    if (linkToRegular >= 0) return linkToRegular == 1;
    struct stat st {};
    return fstatat(folderFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

namespace {

// Walks below an open folder; takes ownership of dir.
void walk_open_folder(DIR* dir, const std::string& path, bool recursive,
                      const std::function<void(const WalkEntry&)>& visit, std::size_t maxHeld = kMaxHeld,
                      bool stopOnError = false) {
    std::vector<OpenFolder> open;
    open.emplace_back();
    open.back().dir = dir;
    open.back().path = path;
    std::size_t firstHeld = 0;  // folders below this index are parked
    WalkEntry entry;
    try {
        while (!open.empty()) {
            // The folder being read holds its descriptor, a parked one reopened included.
            firstHeld = std::min(firstHeld, open.size() - 1);
            const dirent* e = next_entry(open.back());
            if (e == nullptr) {  // the end, or a read error that ends this folder only
                if (ends_walk(stopOnError, errno)) throw WalkStopped{};
                open.back().release();
                open.pop_back();
                continue;
            }
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            const int folderFd = open.back().folder_fd();
            join(entry.path, open.back().path, e->d_name);
            entry.kind = kind_of(*e, folderFd);
            entry.folderFd = folderFd;
            entry.name = e->d_name;
            visit(entry);
            if (!recursive || entry.kind != WalkEntry::Kind::directory) continue;
            DIR* sub = open_folder_at(folderFd, e->d_name);
            if (!sub) {
                if (ends_walk(stopOnError, errno)) throw WalkStopped{};
                continue;
            }
            if (open.size() - firstHeld >= maxHeld) {
                park(open[firstHeld++]);
            }
            open.emplace_back();
            open.back().dir = sub;
            open.back().path = std::move(entry.path);
        }
    } catch (...) {
        for (OpenFolder& folder : open) folder.release();
        throw;
    }
}

// A folder walked by a helper into batches of entries that the calling thread
// then visits in order. Folders near the root only have their own listing read:
// each subfolder there becomes a subtree of its own, so that one large subtree
// still spreads over every helper.
struct Subtree;

// Entries walked and not yet visited: their paths one after another in one
// buffer, so that an entry waiting costs its path and a few bytes more.
struct WalkedBatch {
    struct Item {
        std::uint32_t end;     // the entry's path is paths[previous item's end, end)
        std::uint32_t nameAt;  // where its name starts within its path
        WalkEntry::Kind kind;
        signed char linkToRegular;
        Subtree* nested;  // a folder's own subtree, visited right after the folder
    };
    std::string paths;
    std::vector<Item> items;
    std::size_t extraBytes = 0;  // the nested subtrees made for these entries

    std::size_t bytes() const { return paths.capacity() + items.capacity() * sizeof(Item) + extraBytes; }
    void add(const WalkEntry& entry, Subtree* nested) {
        paths += entry.path;
        const std::size_t nameLength = std::strlen(entry.name);
        items.push_back({static_cast<std::uint32_t>(paths.size()),
                         static_cast<std::uint32_t>(entry.path.size() - nameLength), entry.kind,
                         entry.linkToRegular, nested});
    }
};

// Every field is guarded by the helpers' one mutex.
struct Subtree {
    std::string parentPath;
    std::string name;
    std::string path;
    unsigned depth = 1;             // the root's subfolders are 1
    std::vector<std::uint32_t> at;  // the position in the walk: child indices from the root
    std::deque<WalkedBatch> ready;  // walked, not yet visited
    std::size_t readyItems = 0;
    bool taken = false;  // by a helper, or by the calling thread itself
    bool finished = false;
    std::exception_ptr error;
};

struct Stopped {};

// Opens a queued folder relative to its parent, which is reopened by path.
DIR* open_subtree(const Subtree& subtree, int rootFd) {
    if (subtree.depth == 1) return open_folder_at(rootFd, subtree.name.c_str());
    const int parent = open_any_length(subtree.parentPath, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0) return nullptr;
    DIR* dir = open_folder_at(parent, subtree.name.c_str());
    close(parent);
    return dir;
}

class SubtreeHelpers {
public:
    explicit SubtreeHelpers(int rootFd) : rootFd_(rootFd) {
        const unsigned cores = std::thread::hardware_concurrency();
        const unsigned helpers = std::clamp(cores, 4u, kMaxHelpers);
        maxHeld_ = kHelperDescriptors / helpers;
        for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this] { run(); });
    }
    ~SubtreeHelpers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        queued_.notify_all();
        room_.notify_all();
        for (std::thread& t : threads_) t.join();
    }
    SubtreeHelpers(const SubtreeHelpers&) = delete;
    SubtreeHelpers& operator=(const SubtreeHelpers&) = delete;

    // A subtree for the folder parentPath/name; its size counts against the read-ahead of batch.
    Subtree* add(const std::string& parentPath, const char* name, unsigned depth, std::vector<std::uint32_t> at,
                 WalkedBatch* batch) {
        auto subtree = std::make_unique<Subtree>();
        subtree->parentPath = parentPath;
        subtree->name = name;
        join(subtree->path, parentPath, name);
        subtree->depth = depth;
        subtree->at = std::move(at);
        if (batch)
            batch->extraBytes += sizeof(Subtree) + subtree->parentPath.capacity() + subtree->name.capacity() +
                                 subtree->path.capacity();
        Subtree* added = subtree.get();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            owned_.emplace(added, std::move(subtree));
            waiting_.insert(added);
        }
        queued_.notify_one();
        return added;
    }

    // True when the calling thread is to walk this subtree itself: no helper got to it.
    bool take(Subtree& subtree) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (subtree.taken) return false;
        subtree.taken = true;
        waiting_.erase(&subtree);
        return true;
    }

    // The calling thread's next walked entries of subtree, in order; false once it has them all.
    bool next_batches(Subtree& subtree, std::deque<WalkedBatch>& into) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (visiting_ != &subtree) {
            // The helper walking this subtree may go on past the read-ahead bound now.
            visiting_ = &subtree;
            room_.notify_all();
        }
        walked_.wait(lock, [&] { return !subtree.ready.empty() || subtree.finished; });
        if (subtree.ready.empty()) {
            if (subtree.error) std::rethrow_exception(subtree.error);
            return false;
        }
        into.swap(subtree.ready);
        for (const WalkedBatch& batch : into) ahead_ -= batch.bytes();
        subtree.readyItems = 0;
        room_.notify_all();
        return true;
    }

    // A subtree visited to its end is no longer needed by anyone.
    void release(Subtree& subtree) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (visiting_ == &subtree) visiting_ = nullptr;
        owned_.erase(&subtree);
    }

    int root_fd() const { return rootFd_; }

private:
    // Walked entries wait in batches; a helper far ahead of the visits waits for room.
    static constexpr std::size_t kBatch = 256;
    static constexpr std::size_t kMaxWaiting = 1 << 16;  // entries of one subtree
    static constexpr std::size_t kMaxAhead = std::size_t{8} << 20;  // bytes of all subtrees but the visited one
    // On a deep tree the helpers together hold no more descriptors than kHelperDescriptors.
    static constexpr unsigned kMaxHelpers = 8;
    static constexpr std::size_t kHelperDescriptors = 4 * kMaxHeld;
    // Folders this close to the root are split into a subtree per subfolder.
    static constexpr unsigned kSplitDepth = 3;

    struct WalkOrder {
        bool operator()(const Subtree* a, const Subtree* b) const { return a->at < b->at; }
    };

    // The waiting subtree that comes first in the walk: the one the visits need soonest.
    Subtree* next() {
        std::unique_lock<std::mutex> lock(mutex_);
        queued_.wait(lock, [&] { return stop_ || !waiting_.empty(); });
        if (stop_) return nullptr;
        Subtree* subtree = *waiting_.begin();
        waiting_.erase(waiting_.begin());
        subtree->taken = true;
        return subtree;
    }

    void hand_on(Subtree& subtree, WalkedBatch& batch) {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] {
            return stop_ || (subtree.readyItems < kMaxWaiting && (ahead_ < kMaxAhead || visiting_ == &subtree));
        });
        if (stop_) throw Stopped{};
        ahead_ += batch.bytes();
        subtree.readyItems += batch.items.size();
        subtree.ready.push_back(std::move(batch));
        batch = WalkedBatch();
        walked_.notify_all();
    }

    void walk(Subtree& subtree) {
        WalkedBatch batch;
        DIR* dir = open_subtree(subtree, rootFd_);
        const bool split = subtree.depth < kSplitDepth;
        std::uint32_t index = 0;
        if (dir) {
            walk_open_folder(
                dir, subtree.path, !split,
                [&](const WalkEntry& entry) {
                    WalkEntry walked = entry;
                    // The folder closes before the visit: what a link points to is asked now.
                    if (entry.kind == WalkEntry::Kind::symlink) walked.linkToRegular = entry.is_regular_file() ? 1 : 0;
                    Subtree* nested = nullptr;
                    if (split && entry.kind == WalkEntry::Kind::directory) {
                        std::vector<std::uint32_t> at = subtree.at;
                        at.push_back(index);
                        nested = add(subtree.path, entry.name, subtree.depth + 1, std::move(at), &batch);
                    }
                    ++index;
                    batch.add(walked, nested);
                    if (batch.items.size() == kBatch) hand_on(subtree, batch);
                },
                maxHeld_);
        }
        hand_on(subtree, batch);
    }

    void run() {
        while (Subtree* subtree = next()) {
            std::exception_ptr error;
            try {
                walk(*subtree);
            } catch (const Stopped&) {
                return;
            } catch (...) {
                error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            subtree->error = error;
            subtree->finished = true;
            walked_.notify_all();
        }
    }

    int rootFd_;
    std::size_t maxHeld_ = kMaxHeld;
    std::mutex mutex_;
    std::condition_variable queued_;  // helpers: a subtree is waiting
    std::condition_variable walked_;  // the calling thread: entries are ready
    std::condition_variable room_;    // helpers: the read-ahead has room again
    std::unordered_map<const Subtree*, std::unique_ptr<Subtree>> owned_;
    std::set<Subtree*, WalkOrder> waiting_;
    std::size_t ahead_ = 0;  // bytes of the batches waiting in every subtree
    const Subtree* visiting_ = nullptr;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

void visit_subtree(SubtreeHelpers& helpers, Subtree& subtree, const std::function<void(const WalkEntry&)>& visit);

void visit_walked(SubtreeHelpers& helpers, Subtree& subtree, const std::function<void(const WalkEntry&)>& visit) {
    std::deque<WalkedBatch> taken;
    WalkEntry entry;
    while (helpers.next_batches(subtree, taken)) {
        for (const WalkedBatch& batch : taken) {
            std::uint32_t from = 0;
            for (const WalkedBatch::Item& item : batch.items) {
                entry.path.assign(batch.paths, from, item.end - from);
                entry.name = entry.path.c_str() + item.nameAt;
                entry.kind = item.kind;
                entry.linkToRegular = item.linkToRegular;
                from = item.end;
                visit(entry);
                if (item.nested) visit_subtree(helpers, *item.nested, visit);
            }
        }
        taken.clear();
    }
}

// A subtree no helper has started is walked on the calling thread, whole.
void visit_subtree(SubtreeHelpers& helpers, Subtree& subtree, const std::function<void(const WalkEntry&)>& visit) {
    if (helpers.take(subtree)) {
        if (DIR* dir = open_subtree(subtree, helpers.root_fd())) walk_open_folder(dir, subtree.path, true, visit);
    } else {
        visit_walked(helpers, subtree, visit);
    }
    helpers.release(subtree);
}

// The root's own entries on the calling thread; each subfolder's entries from a helper.
void walk_in_parallel(DIR* rootDir, const std::string& root, const std::function<void(const WalkEntry&)>& visit) {
    // The root's listing, its names one after another in one buffer.
    std::string names;
    std::vector<std::pair<std::size_t, WalkEntry::Kind>> entries;  // each name's end and kind
    const int rootFd = dirfd(rootDir);
    try {
        while (const dirent* e = readdir(rootDir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            names += e->d_name;
            names += '\0';
            entries.emplace_back(names.size(), kind_of(*e, rootFd));
        }
        SubtreeHelpers helpers(rootFd);
        std::vector<Subtree*> subtrees;
        std::size_t from = 0;
        for (std::uint32_t i = 0; i < entries.size(); ++i) {
            if (entries[i].second == WalkEntry::Kind::directory)
                subtrees.push_back(helpers.add(root, names.c_str() + from, 1, {i}, nullptr));
            from = entries[i].first;
        }
        std::size_t next = 0;
        WalkEntry entry;
        from = 0;
        for (const auto& [end, kind] : entries) {
            const char* name = names.c_str() + from;
            from = end;
            join(entry.path, root, name);
            entry.kind = kind;
            entry.folderFd = rootFd;
            entry.name = name;
            entry.linkToRegular = -1;
            visit(entry);
            if (kind == WalkEntry::Kind::directory) visit_subtree(helpers, *subtrees[next++], visit);
        }
    } catch (...) {
        closedir(rootDir);
        throw;
    }
    closedir(rootDir);
}

}  // namespace

bool walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit,
                    bool inParallel, WalkPolicy policy) {
    const int rootFd = open_any_length(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return false;
    DIR* dir = fdopendir(rootFd);
    if (!dir) {
        close(rootFd);
        return false;
    }
    // A walk that stops at its first error runs on the calling thread, where the error's place in the walk is plain.
    if (recursive && inParallel && !policy.stopOnError) {
        walk_in_parallel(dir, root, visit);
        return true;
    }
    try {
        walk_open_folder(dir, root, recursive, visit, kMaxHeld, policy.stopOnError);
    } catch (const WalkStopped&) {
        return false;
    }
    return true;
}

int open_any_length(const std::string& path, int flags) {
    if (path.size() < PATH_MAX) return open(path.c_str(), flags);
    std::string rest;
    const int dirFd = descend_long_path(path, rest);
    if (dirFd < 0) return -1;
    const int fd = openat(dirFd, rest.c_str(), flags);
    const int saved = errno;
    close(dirFd);
    errno = saved;
    return fd;
}

bool stat_any_length(const std::string& path, struct stat& st) {
    if (path.size() < PATH_MAX) return stat(path.c_str(), &st) == 0;
    std::string rest;
    const int dirFd = descend_long_path(path, rest);
    if (dirFd < 0) return false;
    const bool ok = fstatat(dirFd, rest.c_str(), &st, 0) == 0;
    close(dirFd);
    return ok;
}

bool on_pseudo_file_system(int fd) {
    struct statfs fs {};
    return fstatfs(fd, &fs) == 0 && (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC);
}

bool on_pseudo_file_system(const std::string& path) {
    const int fd = open_any_length(path, O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    const bool pseudo = on_pseudo_file_system(fd);
    close(fd);
    return pseudo;
}

int open_regular_for_reading(const std::string& path, struct stat& st, bool pseudoFiles) {
    // A path-only descriptor pins the file without opening it: a pipe, a
    // device or a lock is never touched before its type is known.
    const int pinned = open_any_length(path, O_PATH | O_CLOEXEC);
    if (pinned < 0) return -1;
    if (fstat(pinned, &st) != 0 || !S_ISREG(st.st_mode) || (!pseudoFiles && on_pseudo_file_system(pinned))) {
        close(pinned);
        errno = EINVAL;
        return -1;
    }
    // Reopened through the pinned descriptor, so it is the file checked above
    // whatever has happened to the name meanwhile.
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", pinned);
    int fd = open(self, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    int saved = errno;
    if (fd < 0 && errno == ENOENT && access("/proc/self/fd", F_OK) != 0) {
        // Without /proc: opened by name again, never blocking, and checked to be the same file.
        fd = open_any_length(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        saved = errno;
        struct stat again {};
        if (fd >= 0 && (fstat(fd, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino)) {
            close(fd);
            fd = -1;
            saved = EINVAL;
        }
    }
    close(pinned);
    errno = saved;
    return fd;
}
