#include "workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <sstream>
#include <thread>

#include "i18n.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {
// A listening socket on 127.0.0.1 with a port the system chose.
struct LoopbackListener {
    SOCKET s = INVALID_SOCKET;
    std::uint16_t port = 0;
    LoopbackListener() {
        s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(s, 1);
        socklen_t len = sizeof addr;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~LoopbackListener() { closesocket(s); }
};

std::uint16_t free_port() { return LoopbackListener().port; }

struct SenderRun {
    TransferLog log;
    std::atomic<bool> done{false}, success{false};
    std::string error;
    KemSession session;
    std::thread thread;

    void start(std::uint16_t port, const std::string& path, TransferLimits limits = {}) {
        ShareCard card;
        ASSERT_TRUE(kem_generate_keypair(session, card));
        thread = std::thread(
            [this, port, path, limits] { sender_worker(port, error, success, done, log, session, path, limits); });
    }
    // The receiver may connect once the sender has logged that it waits.
    bool wait_listening() {
        for (int i = 0; i < 500; ++i) {
            if (log.snapshot().size() >= 2 || done.load()) return !done.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    ~SenderRun() {
        if (thread.joinable()) thread.join();
    }
};

struct ReceiverRun {
    TransferLog log;
    std::atomic<bool> done{false}, success{false};
    std::string error;
    void run(const std::string& host, std::uint16_t port, const std::string& dir, TransferLimits limits = {}) {
        receiver_thread(host, port, dir, log, success, error, done, limits);
    }
};

std::string fp_line(const std::vector<std::string>& lines) {
    for (const auto& l : lines)
        if (l.rfind("FP: ", 0) == 0) return l;
    return {};
}

class Workers : public ::testing::Test {
protected:
    void SetUp() override {
        set_language("en");
        old_ = std::cout.rdbuf(quiet_.rdbuf());
    }
    void TearDown() override { std::cout.rdbuf(old_); }
    std::ostringstream quiet_;
    std::streambuf* old_ = nullptr;
};
}  // namespace

TEST_F(Workers, FileCrossesAndBothLogsShowOneFingerprint) {
    TempDir src, dst;
    const auto bytes = random_bytes(200000, 11);
    write_file(src.path / "photo.jpg", bytes);
    const std::uint16_t port = free_port();

    SenderRun sender;
    sender.start(port, (src.path / "photo.jpg").string());
    ASSERT_TRUE(sender.wait_listening());
    ReceiverRun receiver;
    receiver.run("localhost", port, dst.str());
    sender.thread.join();

    EXPECT_TRUE(receiver.success);
    EXPECT_TRUE(receiver.done);
    EXPECT_EQ(receiver.error, "");
    EXPECT_TRUE(sender.success);
    EXPECT_EQ(sender.error, "");
    EXPECT_EQ(read_file(dst.path / "photo.jpg"), bytes);

    const auto slog = sender.log.snapshot();
    const auto rlog = receiver.log.snapshot();
    const std::vector<std::string> sender_expected = {"Listening on port " + std::to_string(port) + "...",
                                                      "Waiting for receiver to connect...",
                                                      "Connected.",
                                                      "Handshake OK.",
                                                      fp_line(slog),
                                                      "Transferring file..."};
    const std::vector<std::string> receiver_expected = {"Connecting to localhost:" + std::to_string(port) + " ...",
                                                        "Connected.", "Handshake OK.", fp_line(rlog),
                                                        "Transferring file..."};
    EXPECT_EQ(slog, sender_expected);
    EXPECT_EQ(rlog, receiver_expected);
    EXPECT_EQ(fp_line(slog).size(), 10u);
    EXPECT_EQ(fp_line(slog), fp_line(rlog));
}

TEST_F(Workers, SenderFailures) {
    TempDir src;
    write_file(src.path / "a.txt", {'a'});
    {
        LoopbackListener taken;
        SenderRun sender;
        sender.start(taken.port, (src.path / "a.txt").string());
        sender.thread.join();
        EXPECT_TRUE(sender.done);
        EXPECT_FALSE(sender.success);
        EXPECT_EQ(sender.error, "Could not listen on port " + std::to_string(taken.port) + ".");
        EXPECT_TRUE(sender.log.snapshot().empty());
    }
    {
        TransferLimits limits;
        limits.accept_ms = 200;
        SenderRun sender;
        sender.start(free_port(), (src.path / "a.txt").string(), limits);
        sender.thread.join();
        EXPECT_FALSE(sender.success);
        EXPECT_EQ(sender.error, "Accept failed.");
    }
}

TEST_F(Workers, MissingFileFailsBothSidesAfterTheHandshake) {
    TempDir src, dst;
    const std::uint16_t port = free_port();
    SenderRun sender;
    sender.start(port, (src.path / "nope.bin").string());
    ASSERT_TRUE(sender.wait_listening());
    ReceiverRun receiver;
    receiver.run("127.0.0.1", port, dst.str());
    sender.thread.join();
    EXPECT_EQ(sender.error, "File transfer failed.");
    EXPECT_EQ(receiver.error, "Receive failed.");
    EXPECT_FALSE(receiver.success);
    EXPECT_FALSE(fp_line(receiver.log.snapshot()).empty());
    EXPECT_TRUE(fs::is_empty(dst.path));
}

TEST_F(Workers, ReceiverChecksInputsBeforeTheNetwork) {
    TempDir dst;
    const struct {
        const char* host;
        std::string dir;
        const char* error;
    } cases[] = {{"", dst.str(), "Host cannot be empty."},
                 {"127.0.0.1", (dst.path / "missing").string(), "Output directory does not exist."},
                 {"127.0.0.1", "", "Output directory does not exist."}};
    for (const auto& c : cases) {
        ReceiverRun r;
        r.run(c.host, 9, c.dir);
        EXPECT_TRUE(r.done);
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.error, c.error);
        EXPECT_TRUE(r.log.snapshot().empty());
    }
}

TEST_F(Workers, ReceiverNetworkFailures) {
    TempDir dst;
    {
        const std::uint16_t port = free_port();
        ReceiverRun r;
        r.run("127.0.0.1", port, dst.str());
        EXPECT_EQ(r.error, "Connect failed.");
        EXPECT_EQ(r.log.snapshot(),
                  std::vector<std::string>{"Connecting to 127.0.0.1:" + std::to_string(port) + " ..."});
    }
    {
        // A peer that accepts and then stays silent ends the handshake after the bound.
        LoopbackListener silent;
        TransferLimits limits;
        limits.silence_ms = 300;
        ReceiverRun r;
        const auto t0 = std::chrono::steady_clock::now();
        r.run("127.0.0.1", silent.port, dst.str(), limits);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
        EXPECT_EQ(r.error, "Zeyla handshake failed.");
    }
    {
        // Four wrong bytes first.
        LoopbackListener wrong;
        std::thread peer([&] {
            SocketHandle s{::accept(wrong.s, nullptr, nullptr)};
            send_u32(s, 0x12345678);
            drain(s);
            close_socket(s);
        });
        ReceiverRun r;
        r.run("127.0.0.1", wrong.port, dst.str());
        peer.join();
        EXPECT_EQ(r.error, "Zeyla handshake failed.");
    }
}
