#include "net.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {
// A listener on 127.0.0.1 with a port the system chose.
struct Listener {
    SOCKET s = INVALID_SOCKET;
    sockaddr_in addr{};
    Listener() {
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_EQ(::listen(s, 1), 0);
        socklen_t len = sizeof addr;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    }
    ~Listener() { closesocket(s); }
    const sockaddr* sa() const { return reinterpret_cast<const sockaddr*>(&addr); }
};

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

TEST(Net, StartupAcceptsVersionTwoAndCounts) {
    WSADATA data;
    int before = wsa_startup_count();
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0202);
    EXPECT_EQ(wsa_startup_count(), before + 1);
}

TEST(Net, ConnectSendRecvAndClosedPeer) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    Listener l;
    SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(net_connect_timeout(c, l.sa(), sizeof l.addr, 2000), 0);
    SOCKET a = ::accept(l.s, nullptr, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);

    EXPECT_EQ(net_send(c, "abc", 3, 0), 3);
    char buf[8] = {};
    EXPECT_EQ(net_recv(a, buf, sizeof buf, 0), 3);
    EXPECT_STREQ(buf, "abc");

    closesocket(a);
    EXPECT_EQ(net_recv(c, buf, sizeof buf, 0), 0);
    // Writing into a connection the peer closed fails instead of killing the process.
    std::vector<char> big(1 << 20, 'x');
    int r = 0;
    for (int i = 0; i < 50 && r >= 0; ++i) r = net_send(c, big.data(), static_cast<int>(big.size()), 0);
    EXPECT_EQ(r, SOCKET_ERROR);
    closesocket(c);
}

TEST(Net, ConnectToClosedPortFails) {
    sockaddr_in addr{};
    {
        Listener l;
        addr = l.addr;
    }
    SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(net_connect_timeout(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5000), SOCKET_ERROR);
    EXPECT_LT(seconds_since(t0), 4.0);
    closesocket(c);
}

TEST(Net, SilentPeerTimesOutAndWaitReadableBounds) {
    Listener l;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(net_wait_readable(l.s, 150));
    EXPECT_GE(seconds_since(t0), 0.14);

    SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_EQ(net_connect_timeout(c, l.sa(), sizeof l.addr, 2000), 0);
    EXPECT_TRUE(net_wait_readable(l.s, 2000));
    SOCKET a = ::accept(l.s, nullptr, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);

    ASSERT_TRUE(net_set_timeouts(a, 200));
    char buf[4];
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(net_recv(a, buf, sizeof buf, 0), SOCKET_ERROR);
    double waited = seconds_since(t0);
    EXPECT_GE(waited, 0.15);
    EXPECT_LT(waited, 3.0);
    closesocket(a);
    closesocket(c);
}

// After shutting down its sending side a peer still reads; how the other side
// then closes (orderly or reset) is what it learns.
TEST(Net, ShutdownSendThenOrderlyCloseOrReset) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (bool reset : {false, true}) {
        Listener l;
        SOCKET c = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_EQ(net_connect_timeout(c, l.sa(), sizeof l.addr, 2000), 0);
        SOCKET a = ::accept(l.s, nullptr, nullptr);
        ASSERT_NE(a, INVALID_SOCKET);
        ASSERT_TRUE(net_set_timeouts(c, 5000));
        ASSERT_TRUE(net_set_timeouts(a, 5000));

        EXPECT_EQ(net_send(c, "end", 3, 0), 3);
        EXPECT_EQ(net_shutdown_send(c), 0);
        char buf[8] = {};
        EXPECT_EQ(net_recv(a, buf, sizeof buf, 0), 3) << reset;
        EXPECT_EQ(net_recv(a, buf, sizeof buf, 0), 0) << reset;
        EXPECT_EQ(net_send(c, "x", 1, 0), SOCKET_ERROR) << reset;

        if (reset)
            net_close_reset(a);
        else
            closesocket(a);
        EXPECT_EQ(net_recv(c, buf, sizeof buf, 0), reset ? SOCKET_ERROR : 0) << reset;
        closesocket(c);
    }
}

// A bound on waiting never refuses what is already there: a side that was
// busy with its own disk still takes the data that came meanwhile.
TEST(Net, BoundedCallsTakeWhatIsThereAndOtherwiseTimeOut) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    char buf[4];
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(net_recv_within(fds[1], buf, sizeof buf, 100), SOCKET_ERROR);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(seconds_since(t0), 0.09);
    ASSERT_EQ(net_send(fds[0], "ab", 2, 0), 2);
    EXPECT_EQ(net_recv_within(fds[1], buf, sizeof buf, 0), 2);

    std::vector<char> big(1 << 16, 'x');
    int sent = 0;
    while (sent >= 0) sent = net_send_within(fds[0], big.data(), static_cast<int>(big.size()), 0);
    EXPECT_EQ(errno, ETIMEDOUT) << "a full buffer waits, and no time is left";
    ::close(fds[0]);
    ::close(fds[1]);
}
