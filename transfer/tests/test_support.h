// Sockets and folders for the transfer engine's tests.
#pragma once

#include <grp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

#include "child_process.h"
#include "handshake.h"

// Both ends of a connected stream socket pair, closed on destruction.
struct SocketPair {
    SocketHandle a, b;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            a.value = fds[0];
            b.value = fds[1];
        }
    }
    ~SocketPair() {
        tovrel::close_socket(a);
        tovrel::close_socket(b);
    }
};

// A fresh folder per test, removed with everything in it.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::random_device rd;
        path = std::filesystem::temp_directory_path() /
               ("tovrel-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string str() const { return path.string(); }
};

inline std::vector<char> random_bytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<char> out(n);
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

inline void write_file(const std::filesystem::path& p, const std::vector<char>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<char> read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Everything left to read on s until the peer closes it.
inline std::vector<std::uint8_t> drain(const SocketHandle& s) {
    std::vector<std::uint8_t> out;
    char buf[4096];
    for (;;) {
        int n = net_recv(s.value, buf, sizeof buf, 0);
        if (n < 1) return out;
        out.insert(out.end(), buf, buf + n);
    }
}

// Runs body in a child process that works as user 65534 when the tests run as
// root (as in CI): permission checks then bind it as they bind any user. dir
// and everything in it is given to that user first. Returns what body
// reports: empty for success, else what went wrong.
inline std::string run_unprivileged(const std::filesystem::path& dir, const std::function<std::string()>& body) {
    const ChildResult child = run_in_child([&]() -> std::string {
        if (::geteuid() == 0) {
            const uid_t nobody = 65534;
            bool given = ::lchown(dir.c_str(), nobody, nobody) == 0;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
                given = given && ::lchown(entry.path().c_str(), nobody, nobody) == 0;
            if (!given || !become_nobody()) return "cannot give up root";
        }
        return body();
    });
    if (child.status < 0) return "no child process";
    if (child.status >= 128) return "child ended by signal " + std::to_string(child.status - 128) + "; " + child.out;
    if (child.status != 0) return "child ended with status " + std::to_string(child.status) + "; " + child.out;
    return child.out;
}

// Whether this process has a file open inside dir (named or not yet named).
inline bool has_open_file_in(const std::filesystem::path& dir) {
    const std::string prefix = dir.string() + "/";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// Collects the failed checks of a child process in a report.
struct ChildChecks {
    std::string report;
    void check(bool ok, const std::string& what) {
        if (!ok) report += what + "\n";
    }
};

// A file of `size` bytes that reads like a disk failing with an error once
// `good` bytes have been read; hook runs once, before the read that reaches
// byte `hook_at` returns.
class FailingFile : public std::streambuf {
public:
    FailingFile(std::size_t good, std::size_t size, std::function<void()> hook = {}, std::size_t hook_at = 0)
        : good_(good), size_(size), hook_(std::move(hook)), hook_at_(hook_at) {}

protected:
    std::streamsize xsgetn(char* s, std::streamsize n) override {
        const std::size_t take = std::min(static_cast<std::size_t>(n), size_ - pos_);
        if (hook_ && pos_ + take >= hook_at_) {
            hook_();
            hook_ = nullptr;
        }
        // A real file stream throws from here when read() fails; the stream
        // turns that into its bad state.
        if (pos_ + take > good_) throw std::ios_base::failure("read error");
        for (std::size_t i = 0; i < take; ++i) s[i] = static_cast<char>('a' + (pos_ + i) % 26);
        pos_ += take;
        return static_cast<std::streamsize>(take);
    }
    int_type underflow() override { return traits_type::eof(); }

private:
    std::size_t good_, size_, pos_ = 0;
    std::function<void()> hook_;
    std::size_t hook_at_;
};
