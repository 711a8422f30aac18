#include "dir_walk.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
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
    if (!dir) close(fd);
    return dir;
}

struct OpenFolder {
    DIR* dir;
    std::string path;
};

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
    struct stat st {};
    return fstatat(folderFd, name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

void walk_directory(const std::string& root, bool recursive, const std::function<void(const WalkEntry&)>& visit) {
    std::vector<OpenFolder> open;
    const int rootFd = open_any_length(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd >= 0) {
        if (DIR* dir = fdopendir(rootFd))
            open.push_back({dir, root});
        else
            close(rootFd);
    }
    WalkEntry entry;
    try {
        while (!open.empty()) {
            const dirent* e = readdir(open.back().dir);
            if (e == nullptr) {  // the end, or a read error that ends this folder only
                closedir(open.back().dir);
                open.pop_back();
                continue;
            }
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            const int folderFd = dirfd(open.back().dir);
            join(entry.path, open.back().path, e->d_name);
            entry.kind = kind_of(*e, folderFd);
            entry.folderFd = folderFd;
            entry.name = e->d_name;
            visit(entry);
            if (recursive && entry.kind == WalkEntry::Kind::directory) {
                if (DIR* dir = open_folder_at(folderFd, e->d_name)) open.push_back({dir, std::move(entry.path)});
            }
        }
    } catch (...) {
        for (OpenFolder& folder : open) closedir(folder.dir);
        throw;
    }
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
