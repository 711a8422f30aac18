// The one open for reading that opens nothing but a regular file, and the
// test for procfs and sysfs.
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "dir_walk.h"

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
