// One owning descriptor type and the read/write loops every engine uses, so
// that EINTR and short counts are handled in one place.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace platform {

// Closes its descriptor when it goes out of scope.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);
    // Closes now and tells whether the close succeeded (a deferred write error shows here).
    bool close();

private:
    int fd_ = -1;
};

// Reads until n bytes, the end of the file or an error. Returns the bytes read,
// or -1 on an error before any byte (errno set); an error after some bytes
// returns what was read and leaves errno set with `*failed` true when given.
ssize_t read_full(int fd, void* data, std::size_t n, bool* failed = nullptr);
ssize_t pread_full(int fd, void* data, std::size_t n, std::uint64_t offset, bool* failed = nullptr);
// Writes all n bytes or fails (errno set); a write that makes no progress is a failure.
bool write_all(int fd, const void* data, std::size_t n);
inline bool write_all(int fd, std::string_view text) { return write_all(fd, text.data(), text.size()); }
bool pwrite_all(int fd, const void* data, std::size_t n, std::uint64_t offset);

}  // namespace platform
