// The parallel walk: helper threads list subtrees ahead of the visits, which
// still come on the calling thread in the sequential walk's order.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dir_walk.h"
#include "dir_walk_detail.h"

namespace {

using namespace dir_walk_detail;

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

}  // namespace

// The root's own entries on the calling thread; each subfolder's entries from a helper.
void dir_walk_detail::walk_in_parallel(DIR* rootDir, const std::string& root,
                                       const std::function<void(const WalkEntry&)>& visit) {
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
