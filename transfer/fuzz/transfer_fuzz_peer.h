// What the transfer targets share: a connected socket pair whose far end has
// already sent the fuzzer's bytes and closed its sending side, the wire's
// little-endian numbers, and the program's output kept off the fuzzer's.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "handshake.h"

// Inputs larger than this would not fit the socket's buffers unread.
inline constexpr std::size_t kMaxPeerBytes = 65536;

struct FedSocket {
    SocketHandle near;  // the code under test's end
    int far = -1;       // the peer's end: what the code sends arrives here

    FedSocket(const std::uint8_t* data, std::size_t size) {
        int fds[2];
        FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0);
        near.value = fds[0];
        far = fds[1];
        const int room = 1 << 20;
        ::setsockopt(far, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        ::setsockopt(far, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        while (size > 0) {
            const ssize_t n = ::send(far, data, size, MSG_NOSIGNAL);
            FUZZ_CHECK(n > 0);
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        ::shutdown(far, SHUT_WR);
    }
    ~FedSocket() {
        tovrel::close_socket(near);
        ::close(far);
    }
    FedSocket(const FedSocket&) = delete;
    FedSocket& operator=(const FedSocket&) = delete;

    // Everything the code under test sent, once it has closed its end.
    std::string sent() {
        tovrel::close_socket(near);
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = ::recv(far, buf, sizeof buf, 0)) > 0;) out.append(buf, static_cast<std::size_t>(n));
        return out;
    }
};

// Reads little-endian numbers off a byte string; false once it runs short.
struct WireReader {
    const std::uint8_t* p;
    std::size_t left;

    bool take(std::size_t n, std::string* out = nullptr) {
        if (n > left) return false;
        if (out) out->assign(reinterpret_cast<const char*>(p), n);
        p += n;
        left -= n;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (left < 4) return false;
        v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
        return take(4);
    }
    bool u64(std::uint64_t& v) {
        if (left < 8) return false;
        v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
        return take(8);
    }
};

// The progress and "Saved:" lines go to standard output; the fuzzer's own
// report is on standard error.
inline void silence_stdout() {
    static const bool done = [] {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        FUZZ_CHECK(null >= 0 && ::dup2(null, STDOUT_FILENO) == STDOUT_FILENO);
        ::close(null);
        return true;
    }();
    (void)done;
}
