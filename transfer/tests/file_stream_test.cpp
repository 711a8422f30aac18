#include "file_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <iostream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "atomic_file.h"
#include "ending_signals.h"
#include "part_file.h"
#include "test_support.h"

using namespace tovrel;

namespace fs = std::filesystem;

namespace {
// Standard output of the code under test, kept out of the test log.
struct CaptureStdout {
    std::ostringstream text;
    std::streambuf* old;
    CaptureStdout() : old(std::cout.rdbuf(text.rdbuf())) {}
    ~CaptureStdout() { std::cout.rdbuf(old); }
};

struct Received {
    bool ok = false;
    std::string out;
};

// Runs feed on one end while receive_file reads the other into dir.
Received receive_from(const std::function<void(const SocketHandle&)>& feed, const TempDir& dir) {
    SocketPair pair;
    std::thread t([&] {
        feed(pair.a);
        close_socket(pair.a);
    });
    Received r;
    {
        CaptureStdout cap;
        r.ok = receive_file(pair.b, dir.str());
        r.out = cap.text.str();
    }
    close_socket(pair.b);
    t.join();
    return r;
}

void announce(const SocketHandle& s, const std::string& name, std::uint64_t size) {
    send_u32(s, static_cast<std::uint32_t>(name.size()));
    send_exact(s, name.data(), name.size());
    send_u64(s, size);
}

void chunk(const SocketHandle& s, const std::vector<char>& bytes) {
    send_u32(s, static_cast<std::uint32_t>(bytes.size()));
    send_exact(s, bytes.data(), bytes.size());
}

std::size_t files_in(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}
}  // namespace

TEST(FileStream, ProgressLine) {
    EXPECT_EQ(progress_line(1, 3), "\rProgress: 33% (1/3 bytes)");
    EXPECT_EQ(progress_line(65536, 65537), "\rProgress: 99% (65536/65537 bytes)");
    EXPECT_EQ(progress_line(5, 5), "\rProgress: 100% (5/5 bytes)");
    EXPECT_EQ(progress_line(0, 0), "");
    EXPECT_EQ(progress_line(std::uint64_t{1} << 40, std::uint64_t{1} << 41),
              "\rProgress: 50% (1099511627776/2199023255552 bytes)");
    CaptureStdout cap;
    print_progress(3, 0);
    print_progress(2, 4);
    EXPECT_EQ(cap.text.str(), "\rProgress: 50% (2/4 bytes)");
}

TEST(FileStream, NamesReduceToTheirLastComponent) {
    const struct {
        const char* announced;
        const char* expected;  // null: refused
    } cases[] = {{"report.txt", "report.txt"},
                 {"sub/dir/report.txt", "report.txt"},
                 {"sub\\dir\\report.txt", "report.txt"},
                 {"C:\\Users\\x\\a b.bin", "a b.bin"},
                 {"/etc/passwd", "passwd"},
                 {"..", nullptr},
                 {".", nullptr},
                 {"sub/..", nullptr},
                 {"sub\\.", nullptr},
                 {"dir/", nullptr},
                 {"", nullptr},
                 // Control bytes and C1 characters anywhere, the dropped part included.
                 {"title\x1b]2;pwned\x07.txt", nullptr},
                 {"bell\x07", nullptr},
                 {"two\nlines", nullptr},
                 {"del\x7f", nullptr},
                 {"csi\xc2\x9b;31m", nullptr},
                 {"a\x1b/b.txt", nullptr},
                 {"tab\there", nullptr},
                 // Letters beyond ASCII pass; C2 A0 is no C1 character.
                 {"caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},
                 {"\xc2\xa0space", "\xc2\xa0space"}};
    for (const auto& c : cases) {
        auto got = received_file_name(c.announced);
        if (c.expected == nullptr)
            EXPECT_FALSE(got.has_value()) << c.announced;
        else
            EXPECT_EQ(got.value_or("<none>"), c.expected) << c.announced;
    }
    EXPECT_FALSE(received_file_name(std::string("a\0b", 3)).has_value());
    EXPECT_EQ(announced_name("/tmp/x/data.bin").value_or(""), "data.bin");
    EXPECT_FALSE(announced_name("/tmp/x/").has_value());
}

TEST(FileStream, FilesCrossByteIdentical) {
    // Empty, exactly one chunk, one chunk and a byte, and a few MiB.
    const std::size_t sizes[] = {0, 1, 65536, 65537, 3 * 1024 * 1024 + 123};
    for (std::size_t size : sizes) {
        TempDir src, dst;
        const auto bytes = random_bytes(size, static_cast<unsigned>(size));
        const fs::path path = src.path / "data.bin";
        write_file(path, bytes);

        SocketPair pair;
        bool sent = false;
        bool received = false;
        std::string receiver_out;
        {
            CaptureStdout cap;
            std::thread t([&] {
                sent = send_file(pair.a, TransferRequest{path.string(), "data.bin", 65536});
                close_socket(pair.a);
            });
            received = receive_file(pair.b, dst.str());
            // The sender reports success only once the receiver has closed.
            close_socket(pair.b);
            t.join();
            receiver_out = cap.text.str();
        }
        EXPECT_TRUE(sent) << size;
        ASSERT_TRUE(received) << size;
        EXPECT_EQ(read_file(dst.path / "data.bin"), bytes) << size;
        EXPECT_EQ(files_in(dst.path), 1u) << size;
        const std::string saved = "\nSaved: " + (dst.path / "data.bin").string() + "\n";
        EXPECT_NE(receiver_out.find(saved), std::string::npos) << size;
        // Neither side writes a progress line for an empty file; the sender adds one newline.
        if (size == 0) {
            EXPECT_EQ(receiver_out.size(), saved.size() + 1);
        }
        if (size == 65537) {
            EXPECT_NE(receiver_out.find("\rProgress: 99% (65536/65537 bytes)"), std::string::npos);
            EXPECT_NE(receiver_out.find("\rProgress: 100% (65537/65537 bytes)"), std::string::npos);
        }
    }
}

TEST(FileStream, EachSideWritesToTheSinkItIsGiven) {
    TempDir src, dst;
    const fs::path path = src.path / "data.bin";
    write_file(path, random_bytes(65537, 7));
    SocketPair pair;
    std::vector<std::string> sender_lines, receiver_lines;
    bool sent = false, received = false;
    CaptureStdout cap;
    std::thread t([&] {
        sent = tovrel::send_file(pair.a, TransferRequest{path.string(), "data.bin", 65536}, {},
                                 [&](std::string_view l) { sender_lines.emplace_back(l); });
        close_socket(pair.a);
    });
    received = tovrel::receive_file(pair.b, dst.str(), {}, [&](std::string_view l) { receiver_lines.emplace_back(l); });
    close_socket(pair.b);
    t.join();
    ASSERT_TRUE(sent && received);
    EXPECT_EQ(cap.text.str(), "");
    const std::vector<std::string> progress = {"\rProgress: 99% (65536/65537 bytes)",
                                               "\rProgress: 100% (65537/65537 bytes)"};
    std::vector<std::string> want_sender = progress, want_receiver = progress;
    want_sender.push_back("\n");
    want_receiver.push_back("\nSaved: " + (dst.path / "data.bin").string() + "\n");
    EXPECT_EQ(sender_lines, want_sender);
    EXPECT_EQ(receiver_lines, want_receiver);
}

TEST(FileStream, WireLayoutOfASmallFile) {
    TempDir src;
    const fs::path path = src.path / "ab.txt";
    write_file(path, {'h', 'i', '!'});
    SocketPair pair;
    std::vector<std::uint8_t> wire;
    std::thread receiver([&] {
        wire = drain(pair.b);
        close_socket(pair.b);
    });
    bool sent = false;
    {
        CaptureStdout cap;
        sent = send_file(pair.a, TransferRequest{path.string(), "ab.txt", 65536});
    }
    receiver.join();
    ASSERT_TRUE(sent);
    const std::vector<std::uint8_t> expected = {6, 0, 0, 0, 'a', 'b', '.', 't', 'x', 't', 3, 0, 0, 0, 0,
                                                0, 0, 0, 3, 0,   0,   0,   'h', 'i', '!', 0, 0, 0, 0};
    EXPECT_EQ(wire, expected);
}

TEST(FileStream, SenderWithoutAFileSendsNothing) {
    TempDir src;
    SocketPair pair;
    EXPECT_FALSE(send_file(pair.a, TransferRequest{(src.path / "missing").string(), "missing", 65536}));
    EXPECT_FALSE(send_file(pair.a, TransferRequest{src.str(), "dir", 65536}));
    close_socket(pair.a);
    EXPECT_TRUE(drain(pair.b).empty());
}

// Opening a pipe waits for a writer; the sender, whose keys do nothing while
// it transfers, must refuse it at once instead.
TEST(FileStream, SenderRefusesAPipeWithoutWaiting) {
    TempDir src;
    const fs::path pipe = src.path / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    SocketPair pair;
    auto sent = std::async(std::launch::async, [&] {
        return send_file(pair.a, TransferRequest{pipe.string(), "pipe", 65536});
    });
    if (sent.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the sender waits for a writer";
        const int writer = ::open(pipe.c_str(), O_WRONLY);
        ::close(writer);
    }
    EXPECT_FALSE(sent.get());
    close_socket(pair.a);
    EXPECT_TRUE(drain(pair.b).empty());
}

TEST(FileStream, SenderFailsWhenThePeerHasGone) {
    TempDir src;
    const fs::path path = src.path / "big.bin";
    write_file(path, random_bytes(4 * 1024 * 1024, 7));
    SocketPair pair;
    close_socket(pair.b);
    CaptureStdout cap;
    EXPECT_FALSE(send_file(pair.a, TransferRequest{path.string(), "big.bin", 65536}));
}

TEST(FileStream, DirectoriesInTheNameAreDropped) {
    TempDir dst;
    const std::vector<char> body = {'x', 'y'};
    for (const char* name : {"sub/dir/report.txt", "sub\\dir\\report.txt"}) {
        auto r = receive_from(
            [&](const SocketHandle& s) {
                announce(s, name, body.size());
                chunk(s, body);
                send_u32(s, 0);
            },
            dst);
        EXPECT_TRUE(r.ok) << name;
        EXPECT_EQ(read_file(dst.path / "report.txt"), body) << name;
        EXPECT_FALSE(fs::exists(dst.path / "sub")) << name;
    }
    EXPECT_EQ(files_in(dst.path), 1u);
}

TEST(FileStream, NameLengthLimits) {
    const std::string tail = "/x.bin";
    for (std::size_t length : {std::size_t{4096}, std::size_t{4097}}) {
        TempDir dst;
        const std::string name = std::string(length - tail.size(), 'd') + tail;
        auto r = receive_from(
            [&](const SocketHandle& s) {
                announce(s, name, 0);
                send_u32(s, 0);
            },
            dst);
        EXPECT_EQ(r.ok, length == 4096) << length;
        EXPECT_EQ(fs::exists(dst.path / "x.bin"), length == 4096) << length;
    }
    TempDir dst;
    auto r = receive_from([](const SocketHandle& s) { announce(s, "", 0); }, dst);
    EXPECT_FALSE(r.ok);
}

// A name the folder cannot hold (longer than a file name may be) would fail
// only at the rename, after the whole file crossed; it is refused up front.
TEST(FileStream, NameTheFolderCannotHoldIsRefusedBeforeTheData) {
    TempDir dst;
    SocketPair pair;
    announce(pair.a, std::string(300, 'n'), 1000);
    chunk(pair.a, std::vector<char>(1000, 'x'));
    send_u32(pair.a, 0);
    CaptureStdout cap;
    EXPECT_FALSE(receive_file(pair.b, dst.str()));
    int unread = 0;
    ASSERT_EQ(::ioctl(pair.b.value, FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 1008);
    EXPECT_TRUE(fs::is_empty(dst.path));
}

TEST(FileStream, ChunkLengthLimits) {
    TempDir dst;
    const auto big = random_bytes(67108864, 3);
    auto r = receive_from(
        [&](const SocketHandle& s) {
            announce(s, "big.bin", big.size());
            chunk(s, big);
            send_u32(s, 0);
        },
        dst);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(fs::file_size(dst.path / "big.bin"), 67108864u);

    r = receive_from(
        [&](const SocketHandle& s) {
            announce(s, "over.bin", 67108865);
            send_u32(s, 67108865);
        },
        dst);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(fs::exists(dst.path / "over.bin"));
    EXPECT_EQ(files_in(dst.path), 1u);
}

TEST(FileStream, FailedTransferLeavesAnExistingFileAndNoLeftovers) {
    TempDir dst;
    const std::vector<char> original = {'k', 'e', 'e', 'p'};
    write_file(dst.path / "report.txt", original);
    const std::vector<char> part(1000, 'z');
    const std::vector<std::function<void(const SocketHandle&)>> failures = {
        // Closed in the middle of a chunk.
        [&](const SocketHandle& s) {
            announce(s, "report.txt", 5000);
            send_u32(s, 5000);
            send_exact(s, part.data(), part.size());
        },
        // Closed after whole chunks but before the end marker.
        [&](const SocketHandle& s) {
            announce(s, "report.txt", 1000);
            chunk(s, part);
        },
        // A chunk length beyond the limit.
        [&](const SocketHandle& s) {
            announce(s, "report.txt", 1000);
            chunk(s, part);
            send_u32(s, 67108865);
        },
        // Closed before the size.
        [&](const SocketHandle& s) {
            send_u32(s, 10);
            send_exact(s, "report.txt", 10);
        },
    };
    for (std::size_t i = 0; i < failures.size(); ++i) {
        auto r = receive_from(failures[i], dst);
        EXPECT_FALSE(r.ok) << i;
        EXPECT_EQ(r.out.find("Saved: "), std::string::npos) << i;
        EXPECT_EQ(read_file(dst.path / "report.txt"), original) << i;
        EXPECT_EQ(files_in(dst.path), 1u) << i;
    }

    // The same name succeeds and replaces the file only once the end marker arrives.
    auto r = receive_from(
        [&](const SocketHandle& s) {
            announce(s, "sub/report.txt", part.size());
            chunk(s, part);
            send_u32(s, 0);
        },
        dst);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(read_file(dst.path / "report.txt"), part);
    EXPECT_EQ(files_in(dst.path), 1u);
}

TEST(FileStream, UnwritableDestinationsFail) {
    TempDir dst;
    fs::create_directory(dst.path / "taken");
    auto r = receive_from(
        [](const SocketHandle& s) {
            announce(s, "taken", 0);
            send_u32(s, 0);
        },
        dst);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(fs::is_directory(dst.path / "taken"));

    // An output folder that is a regular file.
    write_file(dst.path / "plain", {'p'});
    SocketPair pair;
    std::thread t([&] {
        announce(pair.a, "x.bin", 0);
        send_u32(pair.a, 0);
    });
    EXPECT_FALSE(receive_file(pair.b, (dst.path / "plain").string()));
    t.join();
    EXPECT_EQ(read_file(dst.path / "plain"), std::vector<char>{'p'});
}

// Permission checks do not bind root, so these run as an ordinary user.
TEST(FileStream, ReadOnlyDestinationAndWriteErrorsAsAnOrdinaryUser) {
    TempDir dst;
    const std::string report = run_unprivileged(dst.path, [&] {
        ChildChecks c;
        // An existing file its owner made read-only is refused, not replaced
        // by the finished download.
        const fs::path locked = dst.path / "locked.txt";
        write_file(locked, {'l'});
        fs::permissions(locked, fs::perms::owner_read, fs::perm_options::replace);
        auto r = receive_from(
            [](const SocketHandle& s) {
                announce(s, "locked.txt", 1);
                chunk(s, {'z'});
                send_u32(s, 0);
            },
            dst);
        c.check(!r.ok, "read-only destination accepted");
        c.check(read_file(locked) == std::vector<char>{'l'}, "read-only destination changed");
        c.check(files_in(dst.path) == 1, "leftovers beside the read-only destination");

        // A write that fails half-way (here the file size limit) fails the
        // receive and leaves no temporary file.
        const rlimit small{4096, 4096};
        std::signal(SIGXFSZ, SIG_IGN);
        c.check(::setrlimit(RLIMIT_FSIZE, &small) == 0, "setrlimit");
        const std::vector<char> body(3000, 'w');
        r = receive_from(
            [&](const SocketHandle& s) {
                announce(s, "big.bin", 3 * body.size());
                for (int i = 0; i < 3; ++i) chunk(s, body);
                send_u32(s, 0);
            },
            dst);
        c.check(!r.ok, "receive past a failed write succeeded");
        c.check(!fs::exists(dst.path / "big.bin"), "file kept after a failed write");
        c.check(files_in(dst.path) == 1, "temporary file kept after a failed write");
        return c.report;
    });
    EXPECT_EQ(report, "");
}

TEST(FileStream, CountMustMatchTheAnnouncedSize) {
    TempDir dst;
    const std::vector<char> original = {'k', 'e', 'e', 'p'};
    write_file(dst.path / "report.txt", original);
    const struct {
        const char* what;
        std::uint64_t announced;
        std::vector<std::size_t> chunks;
    } cases[] = {{"larger than sent", 1000, {10}},
                 {"smaller than one chunk", 10, {1000}},
                 {"smaller than two chunks", 10, {8, 8}},
                 {"zero with data", 0, {1}},
                 {"one byte short over chunks", 65537, {65536}}};
    for (const auto& c : cases) {
        auto r = receive_from(
            [&](const SocketHandle& s) {
                announce(s, "report.txt", c.announced);
                for (std::size_t n : c.chunks) chunk(s, std::vector<char>(n, 'x'));
                send_u32(s, 0);
            },
            dst);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.out.find("Saved: "), std::string::npos) << c.what;
        EXPECT_EQ(read_file(dst.path / "report.txt"), original) << c.what;
        EXPECT_EQ(files_in(dst.path), 1u) << c.what;
    }
}

TEST(FileStream, ChunkBeyondTheAnnouncedSizeIsRefusedBeforeItsBytes) {
    TempDir dst;
    SocketPair pair;
    const std::vector<char> body(1000, 'x');
    announce(pair.a, "over.bin", 10);
    chunk(pair.a, body);
    send_u32(pair.a, 0);
    CaptureStdout cap;
    EXPECT_FALSE(receive_file(pair.b, dst.str()));
    int unread = 0;
    ASSERT_EQ(::ioctl(pair.b.value, FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 1004);
    EXPECT_TRUE(fs::is_empty(dst.path));
}

TEST(FileStream, ReadErrorSendsNoEndMarker) {
    TempDir src;
    // Reading a folder through a file stream fails as a disk error does.
    std::ifstream folder(src.path, std::ios::in | std::ios::binary);
    ASSERT_TRUE(folder.is_open());
    // 192 KiB of a 1 MiB file read, then the disk fails.
    FailingFile failing(192 * 1024, 1024 * 1024);
    std::istream part_way(&failing);
    const struct {
        const char* what;
        std::istream& in;
        std::uint64_t size;
        std::size_t whole_chunks;
    } cases[] = {{"first read", folder, 5, 0}, {"part-way", part_way, 1024 * 1024, 3}};
    for (const auto& c : cases) {
        SocketPair pair;
        // A sender that wrongly sent the end marker would wait for the close.
        TransferLimits quick;
        quick.close_ms = 2000;
        std::vector<std::uint8_t> wire;
        std::thread receiver([&] { wire = drain(pair.b); });
        {
            CaptureStdout cap;
            EXPECT_FALSE(send_stream(pair.a, "f", c.size, c.in, 65536, quick)) << c.what;
        }
        close_socket(pair.a);
        receiver.join();
        // Name length, name, size, then only the chunks read in full.
        EXPECT_EQ(wire.size(), 13 + c.whole_chunks * (4 + 65536)) << c.what;
        EXPECT_EQ(std::vector<std::uint8_t>(wire.begin(), wire.begin() + 6),
                  (std::vector<std::uint8_t>{1, 0, 0, 0, 'f', static_cast<std::uint8_t>(c.size & 0xFF)}))
            << c.what;
    }
}

TEST(FileStream, SavedLineEscapesThePath) {
    TempDir root;
    const fs::path dir = root.path / "in\x1b]2;x\x07_box\\";
    fs::create_directory(dir);
    SocketPair pair;
    std::thread t([&] {
        announce(pair.a, "ok.txt", 2);
        chunk(pair.a, {'o', 'k'});
        send_u32(pair.a, 0);
    });
    std::string out;
    {
        CaptureStdout cap;
        EXPECT_TRUE(receive_file(pair.b, dir.string()));
        out = cap.text.str();
    }
    t.join();
    EXPECT_EQ(out, "\rProgress: 100% (2/2 bytes)\nSaved: " + root.str() + "/in\\x1b]2;x\\x07_box\\\\/ok.txt\n");
    EXPECT_EQ(read_file(dir / "ok.txt"), (std::vector<char>{'o', 'k'}));
}

// Ctrl-C or a closed terminal ends the program in the middle of a receive;
// no destructor runs, yet nothing may be left in the output folder.
TEST(FileStream, KilledReceiverLeavesNothingBehind) {
    TempDir dst;
    const int probe = ::open(dst.path.c_str(), O_WRONLY | O_TMPFILE, 0600);
    if (probe < 0) GTEST_SKIP() << "this file system makes no unnamed files";
    ::close(probe);
    SocketPair pair;
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], 1);
        ::_exit(receive_file(pair.b, dst.str()) ? 0 : 1);
    }
    ::close(out[1]);
    announce(pair.a, "cut.bin", 1 << 20);
    chunk(pair.a, std::vector<char>(4096, 'c'));
    // The progress line follows the chunk's write to the file.
    std::string seen;
    char buffer[256];
    for (ssize_t n; seen.find("bytes)") == std::string::npos && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        seen.append(buffer, static_cast<std::size_t>(n));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(out[0]);
    EXPECT_NE(seen.find("(4096/1048576 bytes)"), std::string::npos) << seen;
    EXPECT_EQ(files_in(dst.path), 0u);
}

// A file that replaces another takes over its mode (and, where this process
// may set it, its owner), so a private file stays private.
TEST(FileStream, ReplacedFileKeepsItsModeAndOwner) {
    TempDir dst;
    const fs::path target = dst.path / "secret.txt";
    write_file(target, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 12345, 23456), 0);
    }
    const mode_t old_mask = ::umask(022);
    auto r = receive_from(
        [](const SocketHandle& s) {
            announce(s, "secret.txt", 3);
            chunk(s, {'n', 'e', 'w'});
            send_u32(s, 0);
        },
        dst);
    ::umask(old_mask);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(read_file(target), (std::vector<char>{'n', 'e', 'w'}));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, 12345u);
        EXPECT_EQ(st.st_gid, 23456u);
    }
}

// Where a temporary file must have a name, an ending program removes it while
// the receive is still waiting for data, without waiting for the receive.
TEST(FileStream, EndingRemovesTheNamedTemporaryMidReceive) {
    TempDir dst;
    // In a child: once the program is ending, no receive starts again.
    const ChildResult child = run_in_child([&] {
        ChildChecks c;
        platform::atomic_file_named_only = true;
        CaptureStdout quiet;
        SocketPair pair;
        bool received = true;
        std::thread worker([&] { received = receive_file(pair.b, dst.str()); });
        announce(pair.a, "big.bin", 3 * 65536);
        chunk(pair.a, std::vector<char>(65536, 'b'));
        // Once the chunk has been read the temporary is open and listed.
        int unread = 1;
        for (int i = 0; i < 500 && ::ioctl(pair.b.value, FIONREAD, &unread) == 0 && unread > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        c.check(files_in(dst.path) == 1, "no named temporary while receiving");
        remove_unfinished_part_files();
        c.check(files_in(dst.path) == 0, "temporary left once the program ends");
        // The receive, which was waiting for more, fails once it comes.
        chunk(pair.a, std::vector<char>(2 * 65536, 'b'));
        send_u32(pair.a, 0);
        worker.join();
        c.check(!received, "the receive succeeded without its file");
        c.check(files_in(dst.path) == 0, "files left after the receive");
        PartFile late;
        c.check(!part_file_open(late, dst.str(), "late.bin"), "a receive started after the end");
        return c.report;
    });
    EXPECT_EQ(child.status, 0);
    EXPECT_EQ(child.out, "");
}

TEST(FileStream, SigtermMidReceiveLeavesNoNamedTemporary) {
    TempDir dst;
    // The program's own signal path in a child: watched as Tovrel watches,
    // the temporary's removal as its last step, the main thread acting on
    // the signal as the progress screen does.
    const ChildResult child = run_in_child([&] {
        watch_ending_signals(PipeSignal::ignored);
        set_last_step(remove_unfinished_part_files);
        platform::atomic_file_named_only = true;
        CaptureStdout quiet;
        SocketPair pair;
        std::thread([&] { receive_file(pair.b, dst.str()); }).detach();
        announce(pair.a, "big.bin", 3 * 65536);
        chunk(pair.a, std::vector<char>(65536, 'b'));
        // Once the chunk has been read the temporary is open and listed.
        int unread = 1;
        for (int i = 0; i < 500 && ::ioctl(pair.b.value, FIONREAD, &unread) == 0 && unread > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (files_in(dst.path) != 1) return std::string("no named temporary while receiving");
        ::kill(::getpid(), SIGTERM);
        for (int i = 0; i < 500; ++i) {
            act_on_signals();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::string("the signal did not end the receiver");
    });
    EXPECT_EQ(child.out, "");
    EXPECT_EQ(child.status, 128 + SIGTERM);
    EXPECT_EQ(files_in(dst.path), 0u);
}
