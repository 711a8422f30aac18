#include "part_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

namespace {
// Writeback is started every few MiB while data still arrives, so the sync
// at the end has little left to wait for: the sender waits for that sync
// under its silence limit, and a large file would otherwise sit in the page
// cache until then.
constexpr std::uint64_t kWritebackStep = 8u << 20;

std::string random_temp_name() {
    static const char digits[] = "0123456789abcdef";
    std::random_device rd;
    std::string name = ".tovrel-";
    for (int i = 0; i < 4; ++i) {
        const unsigned word = rd();
        for (int shift = 28; shift >= 0; shift -= 4) name += digits[(word >> shift) & 0xFu];
    }
    return name + ".part";
}

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// An existing destination must be a file this user could write in place:
// the rename would otherwise replace a folder or a file its owner locked.
bool destination_acceptable(int dir_fd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dir_fd, name.c_str(), &st, 0) != 0) return true;
    if (S_ISDIR(st.st_mode)) return false;
    return ::faccessat(dir_fd, name.c_str(), W_OK, AT_EACCESS) == 0;
}
}  // namespace

PartFile::~PartFile() { part_file_discard(*this); }

bool part_file_open(PartFile& file, const std::string& out_dir, const std::string& name) {
    part_file_discard(file);
    file.dir_fd = ::open(out_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (file.dir_fd < 0) return false;
    if (!destination_acceptable(file.dir_fd, name)) {
        close_fd(file.dir_fd);
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temp = random_temp_name();
        const int fd = ::openat(file.dir_fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            file.fd = fd;
            file.temp_name = std::move(temp);
            file.final_name = name;
            file.written = 0;
            file.handed_to_disk = 0;
            return true;
        }
        if (errno != EEXIST) break;
    }
    close_fd(file.dir_fd);
    return false;
}

bool part_file_write(PartFile& file, const char* data, std::size_t n) {
    if (file.fd < 0) return false;
    while (n > 0) {
        const ssize_t done = ::write(file.fd, data, n);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        data += done;
        n -= static_cast<std::size_t>(done);
        file.written += static_cast<std::uint64_t>(done);
    }
    if (file.written - file.handed_to_disk >= kWritebackStep) {
        // Linux starts writeback of the dirty range here; elsewhere it is only advice.
        ::posix_fadvise(file.fd, static_cast<off_t>(file.handed_to_disk),
                        static_cast<off_t>(file.written - file.handed_to_disk), POSIX_FADV_DONTNEED);
        file.handed_to_disk = file.written;
    }
    return true;
}

bool part_file_commit(PartFile& file) {
    if (file.fd < 0) return false;
    bool ok = ::fsync(file.fd) == 0;
    ok = ::close(file.fd) == 0 && ok;
    file.fd = -1;
    ok = ok && ::renameat(file.dir_fd, file.temp_name.c_str(), file.dir_fd, file.final_name.c_str()) == 0;
    if (!ok) {
        part_file_discard(file);
        return false;
    }
    file.temp_name.clear();
    close_fd(file.dir_fd);
    return true;
}

void part_file_discard(PartFile& file) {
    close_fd(file.fd);
    if (file.dir_fd >= 0 && !file.temp_name.empty()) ::unlinkat(file.dir_fd, file.temp_name.c_str(), 0);
    file.temp_name.clear();
    close_fd(file.dir_fd);
}
