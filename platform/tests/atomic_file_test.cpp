#include "atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "child_process.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    fs::path path = fs::temp_directory_path() / ("atomic-test-" + std::to_string(std::random_device{}()));
    Folder() { fs::create_directories(path); }
    ~Folder() { fs::remove_all(path); }
    std::string at(const std::string& name) const { return (path / name).string(); }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(path)) out.insert(e.path().filename().string());
        return out;
    }
};

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void write_text(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Restores the seams whatever the test does.
struct Seams {
    ~Seams() {
        platform::atomic_file_sync = ::fsync;
        platform::atomic_file_named_only = false;
    }
};

}  // namespace

TEST(AtomicFile, ReplacesAndNothingElseIsLeft) {
    for (const bool named : {false, true}) {
        Seams seams;
        platform::atomic_file_named_only = named;
        Folder dir;
        write_text(dir.at("f"), "old");
        ASSERT_TRUE(platform::write_file_atomically(dir.at("f"), "new content", true)) << named;
        EXPECT_EQ(read_text(dir.at("f")), "new content") << named;
        EXPECT_EQ(dir.names(), std::set<std::string>{"f"}) << named;
    }
}

TEST(AtomicFile, ALinkInTheNamesPlaceIsReplacedNotWrittenThrough) {
    Folder dir;
    write_text(dir.at("victim"), "theirs");
    fs::create_symlink(dir.at("victim"), dir.at("report"));
    ASSERT_TRUE(platform::write_file_atomically(dir.at("report"), "ours", true));
    EXPECT_EQ(read_text(dir.at("victim")), "theirs");
    EXPECT_FALSE(fs::is_symlink(dir.at("report")));
    EXPECT_EQ(read_text(dir.at("report")), "ours");
}

TEST(AtomicFile, AFailedWriteOrSyncKeepsTheOldFileWhole) {
    for (const bool named : {false, true}) {
        Folder dir;
        write_text(dir.at("f"), "old content");
        // A file-size limit stands for a full disk.
        const ChildResult child = run_in_child([&] {
            platform::atomic_file_named_only = named;
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4, 4};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            return std::string(platform::write_file_atomically(dir.at("f"), "longer new content", true) ? "ok" : "failed");
        });
        EXPECT_EQ(child.out, "failed") << named;
        EXPECT_EQ(read_text(dir.at("f")), "old content") << named;
        EXPECT_EQ(dir.names(), std::set<std::string>{"f"}) << named;
    }
    Seams seams;
    Folder dir;
    write_text(dir.at("f"), "old content");
    platform::atomic_file_sync = [](int) {
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(platform::write_file_atomically(dir.at("f"), "new", true));
    EXPECT_EQ(read_text(dir.at("f")), "old content");
    EXPECT_EQ(dir.names(), std::set<std::string>{"f"});
}

TEST(AtomicFile, TheFolderIsSyncedAfterTheRename) {
    Seams seams;
    static std::vector<std::string> events;
    static std::string watched;
    events.clear();
    Folder dir;
    watched = dir.at("f");
    write_text(watched, "old");
    platform::atomic_file_sync = [](int fd) {
        struct stat st {};
        ::fstat(fd, &st);
        // The folder's sync must see the new content under the final name.
        events.push_back(S_ISDIR(st.st_mode) ? "folder:" + read_text(watched) : "file");
        return ::fsync(fd);
    };
    ASSERT_TRUE(platform::write_file_atomically(watched, "new", true));
    EXPECT_EQ(events, (std::vector<std::string>{"file", "folder:new"}));
}

TEST(AtomicFile, TakesOverModeAndOwner) {
    Folder dir;
    write_text(dir.at("f"), "old");
    ::chmod(dir.at("f").c_str(), 04600);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(dir.at("f").c_str(), 12345, 23456), 0);
    }
    const mode_t old_mask = ::umask(022);
    ASSERT_TRUE(platform::write_file_atomically(dir.at("f"), "new", true));
    ::umask(old_mask);
    struct stat st {};
    ASSERT_EQ(::stat(dir.at("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "permission bits kept, set-user-ID dropped";
    if (root) {
        EXPECT_EQ(st.st_uid, 12345u);
        EXPECT_EQ(st.st_gid, 23456u);
    }
}

TEST(FdIo, FullReadsAndWritesAcrossShortCounts) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    platform::Fd in(fds[0]), out(fds[1]);
    const std::string big(1 << 20, 'x');  // far beyond a pipe's buffer: many short writes
    std::string got(big.size(), '\0');
    std::thread reader([&] {
        EXPECT_EQ(platform::read_full(in.get(), got.data(), got.size()), static_cast<ssize_t>(got.size()));
    });
    EXPECT_TRUE(platform::write_all(out.get(), big));
    reader.join();
    EXPECT_EQ(got, big);
    out.reset();
    char rest[4];
    EXPECT_EQ(platform::read_full(in.get(), rest, sizeof rest), 0) << "end of file";

    Folder dir;
    platform::Fd file(::open(dir.at("f").c_str(), O_RDWR | O_CREAT, 0600));
    ASSERT_TRUE(platform::pwrite_all(file.get(), "abcdef", 6, 10));
    char buf[16] = {};
    EXPECT_EQ(platform::pread_full(file.get(), buf, sizeof buf, 8), 8) << "stops at the end of the file";
    EXPECT_EQ(std::string(buf + 2, 6), "abcdef");
    EXPECT_EQ(platform::pread_full(-1, buf, 1, 0), -1);
}
