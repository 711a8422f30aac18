#include "fd.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void Fd::reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

bool Fd::close() {
    if (fd_ < 0) return true;
    // Linux frees the descriptor even when close fails: it is never retried.
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    return ok;
}

namespace {
template <typename Call>
ssize_t fill(void* data, std::size_t n, bool* failed, Call call) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t got = 0;
    if (failed) *failed = false;
    while (got < n) {
        const ssize_t r = call(bytes + got, n - got, got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            if (failed) *failed = true;
            if (got == 0) return -1;
            break;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

template <typename Call>
bool drain(const void* data, std::size_t n, Call call) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = call(bytes + done, n - done, done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    return true;
}
}  // namespace

ssize_t read_full(int fd, void* data, std::size_t n, bool* failed) {
    return fill(data, n, failed, [fd](unsigned char* p, std::size_t len, std::size_t) { return ::read(fd, p, len); });
}

ssize_t pread_full(int fd, void* data, std::size_t n, std::uint64_t offset, bool* failed) {
    return fill(data, n, failed, [fd, offset](unsigned char* p, std::size_t len, std::size_t got) {
        return ::pread(fd, p, len, static_cast<off_t>(offset + got));
    });
}

bool write_all(int fd, const void* data, std::size_t n) {
    return drain(data, n, [fd](const unsigned char* p, std::size_t len, std::size_t) { return ::write(fd, p, len); });
}

bool pwrite_all(int fd, const void* data, std::size_t n, std::uint64_t offset) {
    return drain(data, n, [fd, offset](const unsigned char* p, std::size_t len, std::size_t done) {
        return ::pwrite(fd, p, len, static_cast<off_t>(offset + done));
    });
}

}  // namespace platform
