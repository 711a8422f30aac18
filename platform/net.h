// The Winsock names the transfer program is written against, over POSIX
// sockets, plus the few bounded waits that Winsock code would get from
// select() and socket options.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

using SOCKET = int;
using WORD = std::uint16_t;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

struct WSADATA {
    WORD wVersion = 0;
    WORD wHighVersion = 0;
};

constexpr WORD MAKEWORD(unsigned low, unsigned high) {
    return static_cast<WORD>((low & 0xFFu) | ((high & 0xFFu) << 8));
}

// Always succeeds for version 2.x. A peer that goes away must never end the
// process, so this also makes writes to a closed connection fail instead of
// raising SIGPIPE.
int WSAStartup(WORD version, WSADATA* data);
// How many times WSAStartup has run in this process.
int wsa_startup_count();
int closesocket(SOCKET s);

// Winsock's send and recv: a byte count, 0 for a closed peer (recv), or
// SOCKET_ERROR. send never raises SIGPIPE.
int net_send(SOCKET s, const char* buf, int len, int flags);
int net_recv(SOCKET s, char* buf, int len, int flags);

// Winsock's shutdown(SD_SEND): the peer reads the end of the stream, while
// this side can still read what the peer sends or the peer's own close.
int net_shutdown_send(SOCKET s);
// Closes s with a reset (SO_LINGER {1, 0}) instead of an orderly end, so the
// peer learns that this side gave up rather than finished.
int net_close_reset(SOCKET s);
// Makes every later close of s a reset (SO_LINGER {1, 0}), the one the
// system makes when the process dies included; false restores the orderly end.
bool net_reset_on_close(SOCKET s, bool reset);

// Gives every later send and recv on s this bound; one that waits longer fails.
bool net_set_timeouts(SOCKET s, int milliseconds);
// net_send and net_recv that wait at most this long for s to be ready (-1:
// without bound); one that would wait longer fails with errno ETIMEDOUT. Data
// already there is taken even when no time is left.
int net_send_within(SOCKET s, const char* buf, int len, int milliseconds);
int net_recv_within(SOCKET s, char* buf, int len, int milliseconds);
// connect that gives up after the time; 0 or SOCKET_ERROR, s stays blocking.
int net_connect_timeout(SOCKET s, const sockaddr* addr, socklen_t len, int milliseconds);
// Whether s becomes readable (a listening socket: a connection is waiting)
// within the time.
bool net_wait_readable(SOCKET s, int milliseconds);
