// A file opened read-only by name (links followed), closed with its scope,
// read by offset so that several readers never share a file position.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

// Up to `size` bytes of `fd` from `offset`; fewer only at the end of the file
// or on a read error, which sets `failed`.
inline std::size_t read_fully_at(int fd, void* data, std::size_t size, std::uint64_t offset, bool& failed) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t got = 0;
    failed = false;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const char* path) : fd_(::open(path, O_RDONLY | O_CLOEXEC)) {}
    ~ReadOnlyFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    int descriptor() const { return fd_; }

    // Up to `size` bytes from `offset`; fewer only at the end of the file or
    // on a read error, which sets `failed`.
    std::size_t read_at(void* data, std::size_t size, std::uint64_t offset, bool& failed) const {
        return read_fully_at(fd_, data, size, offset, failed);
    }

private:
    int fd_;
};
