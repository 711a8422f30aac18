#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace platform {

int (*atomic_file_sync)(int fd) = ::fsync;
bool atomic_file_named_only = false;

namespace {
// Hidden and of fixed length, so it fits beside a final name of any length.
std::string random_temp_name() {
    static const char digits[] = "0123456789abcdef";
    std::random_device rd;
    std::string name = ".zeyla-";
    for (int i = 0; i < 4; ++i) {
        const unsigned word = rd();
        for (int shift = 28; shift >= 0; shift -= 4) name += digits[(word >> shift) & 0xFu];
    }
    return name + ".part";
}

constexpr int kNameAttempts = 100;

// Permission bits only: set-user-ID and its kin never pass to new content.
void take_over(int fd, const struct stat& old) {
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    (void)::fchmod(fd, old.st_mode & 0777);
}
}  // namespace

bool AtomicFile::open(const std::string& folder, const std::string& name, bool take_over_mode) {
    discard();
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return false;
    return open_in(dir.get(), name, take_over_mode);
}

bool AtomicFile::open_in(int folder_fd, const std::string& name, bool take_over_mode) {
    discard();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        errno = EINVAL;
        return false;
    }
    folder_.reset(::fcntl(folder_fd, F_DUPFD_CLOEXEC, 0));
    if (!folder_) return false;
    name_ = name;

    struct stat old {};
    const bool replacing = take_over_mode && ::fstatat(folder_.get(), name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                           S_ISREG(old.st_mode);

    // An unnamed file needs /proc to be linked later.
    if (!atomic_file_named_only && ::faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0)
        file_.reset(::openat(folder_.get(), ".", O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666));
    for (int attempt = 0; !file_ && attempt < kNameAttempts; ++attempt) {
        std::string temp = random_temp_name();
        file_.reset(::openat(folder_.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (file_) temp_name_ = std::move(temp);
        else if (errno != EEXIST) break;
    }
    if (!file_) {
        const int saved = errno;
        discard();
        errno = saved;
        return false;
    }
    if (replacing) take_over(file_.get(), old);
    return true;
}

bool AtomicFile::write(const void* data, std::size_t n) { return file_ && write_all(file_.get(), data, n); }

bool AtomicFile::link_unnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(file_.get());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string temp = random_temp_name();
        if (::linkat(AT_FDCWD, self.c_str(), folder_.get(), temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp_name_ = std::move(temp);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

bool AtomicFile::commit() {
    if (!file_) return false;
    // A link cannot replace an existing name: the unnamed file gets a
    // temporary name first, which the rename then moves over the final one.
    bool ok = atomic_file_sync(file_.get()) == 0 && (!temp_name_.empty() || link_unnamed());
    ok = file_.close() && ok;
    ok = ok && ::renameat(folder_.get(), temp_name_.c_str(), folder_.get(), name_.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        discard();
        errno = saved;
        return false;
    }
    temp_name_.clear();
    const bool synced = atomic_file_sync(folder_.get()) == 0;
    discard();
    return synced;
}

void AtomicFile::discard() {
    file_.reset();
    if (folder_ && !temp_name_.empty()) ::unlinkat(folder_.get(), temp_name_.c_str(), 0);
    temp_name_.clear();
    folder_.reset();
}

bool write_file_atomically(const std::string& path, std::string_view content, bool take_over_mode) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    AtomicFile file;
    return file.open(folder, name, take_over_mode) && file.write(content) && file.commit();
}

}  // namespace platform
