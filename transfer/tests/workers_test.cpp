#include "workers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <thread>

#include "atomic_file.h"
#include "file_stream.h"
#include "part_file.h"
#include "i18n.h"
#include "test_support.h"

using namespace tovrel;

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

SocketHandle connect_loopback(std::uint16_t port) {
    SocketHandle s{::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (net_connect_timeout(s.value, reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5000) != 0) close_socket(s);
    net_set_timeouts(s.value, 10000);
    return s;
}

// The sending side of a correct handshake on an accepted connection.
bool sender_handshake(const SocketHandle& s) {
    KemSession session;
    ShareCard card;
    std::string fingerprint;
    return kem_generate_keypair(session, card) && handshake_as_sender(s, session, fingerprint);
}

// Standard output at the descriptor, so nothing written by any means escapes it.
struct CaptureFd1 {
    std::FILE* file = std::tmpfile();
    int saved = -1;
    std::streambuf* old;
    CaptureFd1(std::streambuf* real_cout) : old(std::cout.rdbuf(real_cout)) {
        std::fflush(stdout);
        saved = ::dup(1);
        ::dup2(::fileno(file), 1);
    }
    std::string finish() {
        std::cout.flush();
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        std::cout.rdbuf(old);
        std::string out;
        std::rewind(file);
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) out.append(buf, n);
        std::fclose(file);
        return out;
    }
};

// Bytes a terminal would act on: C0 controls but the carriage return that
// starts every progress line, DEL, and UTF-8 C1 characters.
std::string terminal_controls(const std::string& out) {
    std::string found;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        const bool c1 = c == 0xC2 && i + 1 < out.size() && (static_cast<unsigned char>(out[i + 1]) & 0xE0) == 0x80;
        if ((c < 0x20 && c != '\r') || c == 0x7F || c1) found += std::to_string(c) + " ";
    }
    return found;
}

// Passes one connection from a receiver through to a sender; the bytes going
// one way slow to one every `pause` once `after` of them have passed: a peer
// that trickles. It gives up after a while, so a side that wrongly waits on
// still ends.
struct TricklingRelay {
    LoopbackListener front;
    std::atomic<bool> stop{false};
    std::thread thread;

    TricklingRelay(std::uint16_t sender_port, bool slow_to_receiver, std::size_t after) {
        thread = std::thread([this, sender_port, slow_to_receiver, after] {
            if (!net_wait_readable(front.s, 10000)) return;
            SOCKET receiver = ::accept(front.s, nullptr, nullptr);
            SOCKET sender = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            // A small buffer, so a sender held back feels it at once.
            const int small = 16384;
            ::setsockopt(sender, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(sender_port);
            if (net_connect_timeout(sender, reinterpret_cast<sockaddr*>(&addr), sizeof addr, 5000) == 0) {
                std::thread back([&] { pass(receiver, sender, !slow_to_receiver, 0); });
                pass(sender, receiver, slow_to_receiver, after);
                back.join();
            }
            net_close_reset(sender);
            net_close_reset(receiver);
        });
    }
    ~TricklingRelay() {
        stop = true;
        thread.join();
    }

    void pass(SOCKET from, SOCKET to, bool slow, std::size_t after) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::size_t passed = 0;
        std::vector<char> buffer(65536);
        while (!stop && std::chrono::steady_clock::now() < give_up) {
            pollfd p{from, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            // A reset ends the relay at once, bytes still queued or not.
            if ((p.revents & POLLERR) != 0) break;
            const bool trickle = slow && passed >= after;
            const int want =
                trickle ? 1 : static_cast<int>(std::min(buffer.size(), slow ? after - passed : buffer.size()));
            const int n = net_recv(from, buffer.data(), want, 0);
            if (n <= 0 || net_send(to, buffer.data(), n, 0) != n) break;
            passed += static_cast<std::size_t>(n);
            if (trickle) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        stop = true;
    }
};

// A disk that writes kRate bytes a second, and only while it is waited for:
// each wait takes the time of what it had left to write. It stands in for the
// syncs of the receiver's file, and notes the most data ever left unsynced and
// what the folder's sync saw.
struct SlowDisk {
    static constexpr double kRate = 16u << 20;
    static inline std::uint64_t synced = 0, most_unsynced = 0;
    static inline int folder_syncs = 0;
    static inline std::uint64_t size_at_folder_sync = 0;
    static inline bool sender_told_before_folder_sync = false;
    static inline std::string final_name;
    static inline const std::atomic<bool>* sender_done = nullptr;

    static void write_until(int fd, std::uint64_t end) {
        struct stat st {};
        ::fstat(fd, &st);
        most_unsynced = std::max(most_unsynced, static_cast<std::uint64_t>(st.st_size) - synced);
        if (end <= synced) return;
        std::this_thread::sleep_for(std::chrono::duration<double>(static_cast<double>(end - synced) / kRate));
        synced = end;
    }
    static int sync_range(int fd, off64_t offset, off64_t n, unsigned int flags) {
        write_until(fd, (flags & SYNC_FILE_RANGE_WAIT_AFTER) != 0 ? static_cast<std::uint64_t>(offset + n) : 0);
        return 0;
    }
    static int sync(int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        if (!S_ISDIR(st.st_mode)) {
            write_until(fd, static_cast<std::uint64_t>(st.st_size));
            return 0;
        }
        ++folder_syncs;
        std::error_code ec;
        size_at_folder_sync = fs::file_size(final_name, ec);
        sender_told_before_folder_sync = sender_done->load();
        return 0;
    }
    SlowDisk(const std::string& destination, const std::atomic<bool>& done) {
        final_name = destination;
        sender_done = &done;
        part_file_sync_range = sync_range;
        platform::atomic_file_sync = sync;
    }
    ~SlowDisk() {
        part_file_sync_range = ::sync_file_range;
        platform::atomic_file_sync = ::fsync;
    }
};

class Workers : public ::testing::Test {
protected:
    void SetUp() override {
        set_language("en");
        old_ = std::cout.rdbuf(quiet_.rdbuf());
    }
    void TearDown() override { std::cout.rdbuf(old_); }
    std::streambuf* real_cout() { return old_; }
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
        limits.handshake_ms = 300;
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

TEST_F(Workers, HostileNamesAreRefusedAndNeverReachTheTerminal) {
    const std::string names[] = {"title\x1b]2;owned\x07.txt",
                                 "clip\x1b]52;c;cm0gLXJmIH4=\x07",
                                 "bell\x07.txt",
                                 "forged\nSaved: /etc/passwd",
                                 "del\x7f.txt",
                                 "csi\xc2\x9b;2J.txt"};
    for (const std::string& name : names) {
        TempDir dst;
        LoopbackListener sender;
        std::thread peer([&] {
            SocketHandle s{::accept(sender.s, nullptr, nullptr)};
            if (sender_handshake(s)) {
                send_u32(s, static_cast<std::uint32_t>(name.size()));
                send_exact(s, name.data(), name.size());
                send_u64(s, 3);
                send_u32(s, 3);
                send_exact(s, "abc", 3);
                send_u32(s, 0);
                drain(s);
            }
            close_socket(s);
        });
        CaptureFd1 capture(real_cout());
        ReceiverRun receiver;
        receiver.run("127.0.0.1", sender.port, dst.str());
        const std::string out = capture.finish();
        peer.join();
        EXPECT_FALSE(receiver.success) << name;
        EXPECT_EQ(receiver.error, "Receive failed.") << name;
        EXPECT_TRUE(fs::is_empty(dst.path)) << name;
        EXPECT_EQ(terminal_controls(out), "") << name;
        for (const std::string& line : receiver.log.snapshot()) EXPECT_EQ(terminal_controls(line), "") << line;
    }
}

TEST_F(Workers, LogLinesAndSavedLineAreEscaped) {
    TempDir src, root;
    const fs::path dst = root.path / "in\x1b[31m\x07_box";
    fs::create_directory(dst);
    write_file(src.path / "ok.txt", {'o', 'k'});
    const std::uint16_t port = free_port();
    SenderRun sender;
    sender.start(port, (src.path / "ok.txt").string());
    ASSERT_TRUE(sender.wait_listening());
    CaptureFd1 capture(real_cout());
    ReceiverRun receiver;
    receiver.run("127.0.0.1", port, dst.string());
    sender.thread.join();
    const std::string out = capture.finish();
    EXPECT_TRUE(receiver.success);
    EXPECT_TRUE(sender.success);
    // Only the program's own line feeds: the sender's after its progress, and the two around "Saved: ".
    EXPECT_EQ(terminal_controls(out), "10 10 10 ");
    EXPECT_NE(out.find("Saved: " + root.str() + "/in\\x1b[31m\\x07_box/ok.txt\n"), std::string::npos) << out;

    // A host typed with control bytes reaches the log escaped.
    ReceiverRun bad_host;
    bad_host.run("no\x1b[2Jhost.invalid", 9, dst.string());
    EXPECT_EQ(bad_host.log.snapshot(), std::vector<std::string>{"Connecting to no\\x1b[2Jhost.invalid:9 ..."});
}

TEST_F(Workers, ReadErrorPartWayFailsBothSides) {
    TempDir dst;
    const std::vector<char> original = {'k', 'e', 'e', 'p'};
    write_file(dst.path / "data.bin", original);
    LoopbackListener listener;
    bool sent = true;
    std::thread peer([&] {
        SocketHandle s{::accept(listener.s, nullptr, nullptr)};
        net_set_timeouts(s.value, 10000);
        if (sender_handshake(s)) {
            // 192 KiB of a 1 MiB file read, then the disk fails.
            FailingFile file(192 * 1024, 1024 * 1024);
            std::istream in(&file);
            sent = send_stream(s, "data.bin", 1024 * 1024, in, 65536);
        }
        close_socket(s);
    });
    ReceiverRun receiver;
    receiver.run("127.0.0.1", listener.port, dst.str());
    peer.join();
    EXPECT_FALSE(sent);
    EXPECT_FALSE(receiver.success);
    EXPECT_EQ(receiver.error, "Receive failed.");
    EXPECT_EQ(read_file(dst.path / "data.bin"), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dst.path), fs::directory_iterator()), 1);
}

// The file is smaller than the socket buffers, so every byte has left the
// sender long before it learns what the receiver did with them.
TEST_F(Workers, SenderSucceedsOnlyWhenTheReceiverClosesInOrder) {
    TempDir src;
    const auto bytes = random_bytes(20000, 5);
    write_file(src.path / "small.bin", bytes);
    enum class End { read_all_close, read_part_reset, read_part_close, read_all_silent, read_all_talk_back };
    const struct {
        const char* what;
        End end;
        bool sender_ok;
    } cases[] = {{"reads all, closes", End::read_all_close, true},
                 {"reads part, resets", End::read_part_reset, false},
                 {"reads part, closes", End::read_part_close, false},
                 {"reads all, stays silent", End::read_all_silent, false},
                 {"reads all, sends a byte", End::read_all_talk_back, false}};
    for (const auto& c : cases) {
        const std::uint16_t port = free_port();
        SenderRun sender;
        TransferLimits limits;
        limits.close_ms = 500;
        sender.start(port, (src.path / "small.bin").string(), limits);
        ASSERT_TRUE(sender.wait_listening()) << c.what;
        SocketHandle s = connect_loopback(port);
        KemSession session;
        std::string fingerprint;
        ASSERT_TRUE(handshake_as_receiver(s, session, fingerprint)) << c.what;
        // Name length, name, size, first chunk length.
        std::vector<char> head(4 + 9 + 8 + 4);
        ASSERT_TRUE(recv_exact(s, head.data(), head.size())) << c.what;
        if (c.end == End::read_part_reset || c.end == End::read_part_close) {
            std::vector<char> part(100);
            ASSERT_TRUE(recv_exact(s, part.data(), part.size())) << c.what;
        } else {
            std::vector<char> rest(bytes.size() + 4);
            ASSERT_TRUE(recv_exact(s, rest.data(), rest.size())) << c.what;
            EXPECT_EQ(std::vector<char>(rest.end() - 4, rest.end()), std::vector<char>(4, 0)) << c.what;
        }
        if (c.end == End::read_all_talk_back) send_exact(s, "?", 1);
        if (c.end == End::read_all_silent) {
            while (!sender.done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (c.end == End::read_part_reset)
            reset_socket(s);
        else
            close_socket(s);
        sender.thread.join();
        EXPECT_EQ(sender.success.load(), c.sender_ok) << c.what;
        EXPECT_EQ(sender.error, c.sender_ok ? "" : "File transfer failed.") << c.what;
    }
}

// Permission checks do not bind root, so this runs as an ordinary user: the
// folder turns read-only once the temporary file is open, so the receive fails
// where it names the file, after the last byte.
TEST_F(Workers, ReceiverFailingAfterTheLastByteFailsTheSender) {
    TempDir dst;
    const std::string report = run_unprivileged(dst.path, [&] {
        ChildChecks c;
        LoopbackListener listener;
        bool sent = true;
        std::thread peer([&] {
            SocketHandle s{::accept(listener.s, nullptr, nullptr)};
            net_set_timeouts(s.value, 10000);
            if (sender_handshake(s)) {
                const auto lock_folder = [&] {
                    // The receiver has made its temporary file once it has the header.
                    for (int i = 0; i < 1000 && !has_open_file_in(dst.path); ++i)
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    ::chmod(dst.path.c_str(), 0555);
                };
                FailingFile file(5000, 5000, lock_folder, 5000);
                std::istream in(&file);
                sent = send_stream(s, "data.bin", 5000, in, 65536);
            }
            close_socket(s);
        });
        SocketHandle s = connect_loopback(listener.port);
        TransferLog log;
        std::string error;
        const bool received = receive_on_connection(s, dst.str(), log, error);
        peer.join();
        ::chmod(dst.path.c_str(), 0755);
        c.check(!received, "receive succeeded");
        c.check(error == "Receive failed.", "receiver error: " + error);
        c.check(!sent, "sender succeeded although the file was not saved");
        c.check(!fs::exists(dst.path / "data.bin"), "file under the final name");
        return c.report;
    });
    EXPECT_EQ(report, "");
}

// The sender reads an orderly end as "saved". A receiver that dies (Ctrl-C, a
// closed terminal) after the last byte but before the file is in place ends
// with the process; that close must be a reset too.
TEST_F(Workers, ReceiverThatDiesBeforeSavingResetsTheConnection) {
    TempDir dst;
    LoopbackListener listener;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], 1);
        std::cout.rdbuf(real_cout());
        SocketHandle s = connect_loopback(listener.port);
        TransferLog log;
        std::string error;
        ::_exit(receive_on_connection(s, dst.str(), log, error) ? 0 : 1);
    }
    ::close(out[1]);
    SocketHandle s{::accept(listener.s, nullptr, nullptr)};
    net_set_timeouts(s.value, 10000);
    ASSERT_TRUE(sender_handshake(s));
    send_u32(s, 7);
    send_exact(s, "cut.bin", 7);
    send_u64(s, 4096);
    send_u32(s, 4096);
    const std::vector<char> body(4096, 'c');
    send_exact(s, body.data(), body.size());
    // Every byte is read and written once the progress line shows them all.
    std::string seen;
    char buffer[256];
    for (ssize_t n; seen.find("bytes)") == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(out[0]);
    char byte = 0;
    EXPECT_EQ(net_recv(s.value, &byte, 1, 0), SOCKET_ERROR) << "the sender would read the end as saved";
    EXPECT_EQ(errno, ECONNRESET);
    close_socket(s);
}

// However slowly the peer keeps a phase going, the phase as a whole ends within
// its bound; the other side then fails too and keeps no file.
TEST_F(Workers, TricklingPeerFailsEachPhaseWithinItsBound) {
    TempDir src;
    const auto bytes = random_bytes(8u << 20, 9);
    write_file(src.path / "big.bin", bytes);
    TransferLimits patient;
    patient.handshake_ms = patient.stream_window_ms = patient.close_ms = 20000;
    TransferLimits handshake = patient, stream = patient;
    handshake.handshake_ms = 1000;
    stream.stream_window_ms = 1000;
    // The sender's half of the handshake: magic, key length, key.
    const std::size_t key_steps = 4 + 4 + 1568;
    const struct {
        const char* what;
        bool slow_to_receiver;
        std::size_t after;
        bool sender_bounded;
        const TransferLimits& bounded;
        const char* sender_error;
        const char* receiver_error;
    } cases[] = {
        {"handshake, sender waits", false, 0, true, handshake, "Zeyla handshake failed.", "Receive failed."},
        {"handshake, receiver waits", true, 0, false, handshake, "Zeyla handshake failed.", "Zeyla handshake failed."},
        {"stream, receiver waits", true, key_steps + 6, false, stream, "File transfer failed.", "Receive failed."},
        {"stream, sender waits", true, key_steps + (1u << 20), true, stream, "File transfer failed.",
         "Receive failed."},
    };
    for (const auto& c : cases) {
        TempDir dst;
        const std::uint16_t port = free_port();
        SenderRun sender;
        sender.start(port, (src.path / "big.bin").string(), c.sender_bounded ? c.bounded : patient);
        ASSERT_TRUE(sender.wait_listening()) << c.what;
        TricklingRelay relay(port, c.slow_to_receiver, c.after);
        ReceiverRun receiver;
        const auto t0 = std::chrono::steady_clock::now();
        std::thread r(
            [&] { receiver.run("127.0.0.1", relay.front.port, dst.str(), c.sender_bounded ? patient : c.bounded); });
        const std::atomic<bool>& bounded_done = c.sender_bounded ? sender.done : receiver.done;
        while (!bounded_done.load() && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(15))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto took = std::chrono::steady_clock::now() - t0;
        r.join();
        sender.thread.join();
        EXPECT_LT(took, std::chrono::milliseconds(2500)) << c.what;
        EXPECT_EQ(sender.error, c.sender_error) << c.what;
        EXPECT_EQ(receiver.error, c.receiver_error) << c.what;
        EXPECT_TRUE(fs::is_empty(dst.path)) << c.what;
    }
}

// A disk slower than the network: the receiver reads at the disk's pace, so
// its final sync is short and the sender, which waits for it after the end
// marker, is told "Done."; the folder is synced once the file is in place,
// before the sender is told.
TEST_F(Workers, SlowDiskEndsDoneOnBothSidesWithLittleUnsynced) {
    TempDir src, dst;
    // 2.5 s of the disk's writing: more than the sender waits after the end marker.
    const auto bytes = random_bytes(40u << 20, 4);
    write_file(src.path / "movie.bin", bytes);
    TransferLimits limits;
    limits.close_ms = 2000;
    limits.unsynced_ms = 200;
    const std::uint16_t port = free_port();
    SenderRun sender;
    SlowDisk disk((dst.path / "movie.bin").string(), sender.done);
    sender.start(port, (src.path / "movie.bin").string(), limits);
    ASSERT_TRUE(sender.wait_listening());
    ReceiverRun receiver;
    receiver.run("127.0.0.1", port, dst.str(), limits);
    sender.thread.join();
    EXPECT_EQ(receiver.error, "");
    EXPECT_EQ(sender.error, "");
    EXPECT_TRUE(receiver.success && sender.success);
    EXPECT_EQ(SlowDisk::synced, bytes.size());
    EXPECT_LE(SlowDisk::most_unsynced, static_cast<std::uint64_t>(SlowDisk::kRate * 0.2));
    EXPECT_EQ(SlowDisk::folder_syncs, 1);
    EXPECT_EQ(SlowDisk::size_at_folder_sync, bytes.size());
    EXPECT_FALSE(SlowDisk::sender_told_before_folder_sync);
}
