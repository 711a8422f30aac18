// Sockets and folders for the transfer engine's tests.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

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
        close_socket(a);
        close_socket(b);
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
