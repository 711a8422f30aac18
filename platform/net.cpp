#include "net.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>

namespace {
std::atomic<int> startups{0};

int remaining_ms(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// poll() that resumes after signals until the deadline; -1 waits without bound.
int poll_one(SOCKET s, short events, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pollfd p{s, events, 0};
        int r = ::poll(&p, 1, milliseconds < 0 ? -1 : remaining_ms(deadline));
        if (r >= 0 || errno != EINTR) return r > 0 ? p.revents : r;
    }
}

// One non-blocking try, then waits for readiness and tries again; whatever
// the peer's pace, the caller's time is spent once.
template <typename Io>
int io_within(SOCKET s, short events, int milliseconds, Io io) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const ssize_t n = io();
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return SOCKET_ERROR;
        const int r = poll_one(s, events, milliseconds < 0 ? -1 : remaining_ms(deadline));
        if (r == 0) errno = ETIMEDOUT;
        if (r <= 0) return SOCKET_ERROR;
    }
}
}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
    std::signal(SIGPIPE, SIG_IGN);
    startups.fetch_add(1);
    if (data != nullptr) {
        data->wVersion = version;
        data->wHighVersion = MAKEWORD(2, 2);
    }
    return (version & 0xFF) == 2 ? 0 : -1;
}

int wsa_startup_count() { return startups.load(); }

int closesocket(SOCKET s) { return ::close(s); }

// One send or recv as Winsock makes it: a short count goes back to the
// caller, whose deadline decides what follows, so write_all and read_full
// (which would carry on until all bytes) do not fit; only EINTR is retried.
int net_send(SOCKET s, const char* buf, int len, int flags) {
    for (;;) {
        ssize_t n = ::send(s, buf, static_cast<std::size_t>(len), flags | MSG_NOSIGNAL);
        if (n >= 0 || errno != EINTR) return n < 0 ? SOCKET_ERROR : static_cast<int>(n);
    }
}

int net_recv(SOCKET s, char* buf, int len, int flags) {
    for (;;) {
        ssize_t n = ::recv(s, buf, static_cast<std::size_t>(len), flags);
        if (n >= 0 || errno != EINTR) return n < 0 ? SOCKET_ERROR : static_cast<int>(n);
    }
}

int net_send_within(SOCKET s, const char* buf, int len, int milliseconds) {
    return io_within(s, POLLOUT, milliseconds,
                     [&] { return ::send(s, buf, static_cast<std::size_t>(len), MSG_DONTWAIT | MSG_NOSIGNAL); });
}

int net_recv_within(SOCKET s, char* buf, int len, int milliseconds) {
    return io_within(s, POLLIN, milliseconds,
                     [&] { return ::recv(s, buf, static_cast<std::size_t>(len), MSG_DONTWAIT); });
}

int net_shutdown_send(SOCKET s) { return ::shutdown(s, SHUT_WR) == 0 ? 0 : SOCKET_ERROR; }

int net_close_reset(SOCKET s) {
    net_reset_on_close(s, true);
    return ::close(s);
}

bool net_reset_on_close(SOCKET s, bool reset) {
    linger abort{};
    abort.l_onoff = reset ? 1 : 0;
    abort.l_linger = 0;
    return ::setsockopt(s, SOL_SOCKET, SO_LINGER, &abort, sizeof abort) == 0;
}

bool net_set_timeouts(SOCKET s, int milliseconds) {
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 &&
           ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

int net_connect_timeout(SOCKET s, const sockaddr* addr, socklen_t len, int milliseconds) {
    const int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0 || ::fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0) return SOCKET_ERROR;
    int result = ::connect(s, addr, len);
    if (result < 0 && (errno == EINPROGRESS || errno == EINTR)) {
        result = SOCKET_ERROR;
        if (poll_one(s, POLLOUT, milliseconds) > 0) {
            int err = 0;
            socklen_t err_len = sizeof err;
            if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &err_len) == 0 && err == 0) result = 0;
        }
    }
    if (::fcntl(s, F_SETFL, flags) < 0) return SOCKET_ERROR;
    return result == 0 ? 0 : SOCKET_ERROR;
}

bool net_wait_readable(SOCKET s, int milliseconds) {
    int revents = poll_one(s, POLLIN, milliseconds);
    return revents > 0 && (revents & POLLIN) != 0;
}
