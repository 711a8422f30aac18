// The sequential walk: folders held open down the walk's way, the oldest
// parked when too many are open, and the policy that ends a walk at an error.
#include "dir_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dir_walk_detail.h"

namespace dir_walk_detail {

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

}  // namespace dir_walk_detail

namespace {

using namespace dir_walk_detail;

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

}  // namespace

bool WalkEntry::is_regular_file() const {
    if (kind == Kind::regular) return true;
    if (kind != Kind::symlink) return false;
    if (linkToRegular >= 0) return linkToRegular == 1;
    struct stat st {};
    return fstatat(folderFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

namespace dir_walk_detail {

void walk_open_folder(DIR* dir, const std::string& path, bool recursive,
                      const std::function<void(const WalkEntry&)>& visit, std::size_t maxHeld, bool stopOnError) {
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

}  // namespace dir_walk_detail

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
