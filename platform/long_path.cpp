// open and stat for paths longer than one system call takes.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "dir_walk.h"

namespace {
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
