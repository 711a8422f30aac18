// The wipe stays inside its target and really reaches the medium: swaps of
// folders for links during the run, other mounts, hard links, permissions,
// deep trees, and the syncs after every pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <map>
#include <optional>
#include <sched.h>
#include <set>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <thread>

#include "test_support.h"
#include "wipe_engine.h"

using namespace vornix;

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kBlock = 4096;

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Gives the unprivileged child of run_in_child a way into a folder made by root.
void hand_to_nobody(const fs::path& p) {
    if (geteuid() != 0) return;
    if (chown(p.c_str(), 65534, 65534) != 0) throw std::runtime_error("chown failed: " + p.string());
}

// --- The race ---------------------------------------------------------------

struct RaceTree {
    fs::path root, outside;
    std::map<fs::path, std::string> outside_files;
};

RaceTree make_race_tree(const fs::path& base) {
    RaceTree t;
    t.root = base / "tree";
    t.outside = base / "outside";
    fs::create_directories(t.root / "sub" / "inner");
    fs::create_directories(t.outside / "nested");
    for (int i = 0; i < 300; ++i) {
        const fs::path p = (i % 10 == 0 ? t.outside / "nested" : t.outside) / ("o" + std::to_string(i) + ".txt");
        std::string data;
        while (data.size() < 300u + 11u * static_cast<unsigned>(i)) data += "outside file " + std::to_string(i) + ". ";
        write_file(p, data);
        t.outside_files[p] = data;
    }
    for (int i = 0; i < 200; ++i)
        write_file(t.root / "sub" / ("s" + std::to_string(i) + ".bin"), std::string(700 + i, 's'));
    for (int i = 0; i < 60; ++i)
        write_file(t.root / "sub" / "inner" / ("i" + std::to_string(i) + ".bin"), std::string(900, 'i'));
    for (int i = 0; i < 60; ++i) write_file(t.root / ("t" + std::to_string(i) + ".bin"), std::string(500, 't'));
    fs::create_symlink(t.outside, t.root / "swap");
    return t;
}

// Two ways to swap the subfolder and a link to the outside folder, back and
// forth: an atomic exchange of the two names, and a rename away with a link
// put in its place.
void swap_once(const RaceTree& t, bool exchange) {
    const fs::path sub = t.root / "sub", swap = t.root / "swap", parked = t.root / "parked";
    if (exchange) {
        renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        return;
    }
    if (rename(sub.c_str(), parked.c_str()) == 0) {
        symlink(t.outside.c_str(), sub.c_str());
        unlink(sub.c_str());
        rename(parked.c_str(), sub.c_str());
    }
}

TEST(WipeRace, SwappingASubfolderForALinkNeverReachesOutside) {
    for (int round = 0; round < 6; ++round) {
        TempDir dir;
        const RaceTree t = make_race_tree(dir.path);
        LogCapture log;
        std::atomic<bool> stop{false};
        std::atomic<long> swaps{0};
        const bool exchange = round % 2 == 0;
        std::thread swapper([&] {
            while (!stop.load()) {
                swap_once(t, exchange);
                ++swaps;
            }
        });
        wipe_target(t.root, 1, kBlock, false);
        stop = true;
        swapper.join();

        EXPECT_GT(swaps.load(), 10) << round;
        std::size_t present = 0;
        for (const auto& entry : fs::recursive_directory_iterator(t.outside))
            if (entry.is_regular_file()) ++present;
        EXPECT_EQ(present, t.outside_files.size()) << round;
        for (const auto& [path, data] : t.outside_files) {
            ASSERT_EQ(read_file(path), data) << "round " << round << ": " << path;
        }
        // The run wiped the tree and reported it; no exception ended it.
        EXPECT_FALSE(log.lines.empty());
        for (const std::string& line : log.lines) EXPECT_EQ(line.rfind("Exception", 0), std::string::npos) << line;
    }
}

// --- Syncs ------------------------------------------------------------------

struct SyncRecord {
    ino_t ino;
    std::string content;
};
std::vector<SyncRecord> g_syncs;
int g_fail_at = -1;
std::function<void()> g_on_sync;

int recording_sync(int fd) {
    struct stat st {};
    fstat(fd, &st);
    std::string content(static_cast<std::size_t>(st.st_size), '\0');
    if (pread(fd, content.data(), content.size(), 0) != static_cast<ssize_t>(content.size())) content = "unreadable";
    g_syncs.push_back({st.st_ino, content});
    if (g_on_sync) g_on_sync();
    if (static_cast<int>(g_syncs.size()) - 1 == g_fail_at) {
        errno = EIO;
        return -1;
    }
    return fdatasync(fd);
}

struct SyncSeam {
    explicit SyncSeam(int fail_at = -1) {
        g_syncs.clear();
        g_fail_at = fail_at;
        wipe_sync = recording_sync;
    }
    ~SyncSeam() {
        wipe_sync = ::fdatasync;
        g_on_sync = nullptr;
    }
    SyncSeam(const SyncSeam&) = delete;
    SyncSeam& operator=(const SyncSeam&) = delete;
};

TEST(WipeSync, EveryPassOfEveryFileIsSyncedBeforeTheNext) {
    for (std::uint64_t passes : {1u, 2u, 3u, 4u}) {
        TempDir dir;
        const fs::path tree = dir.path / "tree";
        fs::create_directories(tree / "sub");
        const std::vector<std::pair<fs::path, std::size_t>> files = {
            {tree / "five", 5}, {tree / "sub" / "edge", kBlock + 1}, {tree / "sub" / "big", 3 * kBlock + 7}};
        std::map<ino_t, std::size_t> size_of;
        for (const auto& [p, size] : files) {
            write_file(p, std::string(size, 'q'));
            struct stat st {};
            ASSERT_EQ(stat(p.c_str(), &st), 0);
            size_of[st.st_ino] = size;
        }
        write_file(tree / "empty", "");
        LogCapture log;
        SyncSeam seam;
        wipe_target(tree, passes, kBlock, false);

        EXPECT_EQ(g_syncs.size(), passes * files.size()) << passes;
        std::map<ino_t, std::vector<std::string>> per_file;
        for (const SyncRecord& r : g_syncs) per_file[r.ino].push_back(r.content);
        ASSERT_EQ(per_file.size(), files.size()) << passes;
        for (const auto& [ino, contents] : per_file) {
            ASSERT_EQ(contents.size(), passes) << passes;
            for (std::size_t pass = 0; pass < passes; ++pass) {
                const std::string& c = contents[pass];
                ASSERT_EQ(c.size(), size_of[ino]) << passes << " pass " << pass;
                // What was synced is the whole pass: zeros, then random data.
                if (pass % 2 == 0)
                    EXPECT_TRUE(all_zero(c)) << passes << " pass " << pass;
                else if (c.size() > 1000)
                    EXPECT_TRUE(looks_random(c)) << passes << " pass " << pass;
                else
                    EXPECT_FALSE(all_zero(c)) << passes << " pass " << pass;
            }
        }
        EXPECT_EQ(log.lines.back(), "Directory tree removed: " + tree.string());
    }
}

TEST(WipeSync, AFailedSyncIsAWriteErrorAndTheFileStays) {
    struct Case {
        const char* name;
        bool in_tree;
        int fail_at;
    };
    for (const Case& c : {Case{"single file, first pass", false, 0}, Case{"tree, second pass", true, 1}}) {
        TempDir dir;
        const fs::path tree = dir.path / "tree";
        fs::create_directories(tree);
        const fs::path file = tree / "a.txt";
        write_file(file, "secret data");
        LogCapture log;
        SyncSeam seam(c.fail_at);
        wipe_target(c.in_tree ? tree : file, 3, kBlock, false);

        EXPECT_TRUE(fs::exists(file)) << c.name;
        EXPECT_EQ(g_syncs.size(), static_cast<std::size_t>(c.fail_at + 1)) << c.name;
        std::vector<std::string> want = {"Preparing to overwrite: " + file.string() + " (11 bytes)",
                                         "Write error on: " + file.string()};
        if (c.in_tree) want.push_back("Could not remove directory tree: " + tree.string() + " (Directory not empty)");
        EXPECT_EQ(log.lines, want) << c.name;
    }
}

// A folder moved out of the tree while its files are wiped: the way back up
// is checked, so the walk goes on in the tree, not beside the moved folder.
TEST(WipeRace, FolderMovedOutDuringItsWipeLeavesTheWalkInTheTree) {
    TempDir dir;
    const fs::path tree = dir.path / "tree", outside = dir.path / "outside";
    fs::create_directories(tree / "a" / "b");
    fs::create_directories(outside);
    write_file(tree / "a" / "b" / "moved.txt", "in b");
    for (int i = 0; i < 20; ++i) {
        const std::string name = "x" + std::to_string(i) + ".txt";
        write_file(tree / "a" / name, "tree");
        write_file(outside / name, "outside " + std::to_string(i));
    }
    struct stat moved {};
    ASSERT_EQ(stat((tree / "a" / "b" / "moved.txt").c_str(), &moved), 0);
    LogCapture log;
    SyncSeam seam;
    g_on_sync = [&] {
        if (g_syncs.back().ino == moved.st_ino) fs::rename(tree / "a" / "b", outside / "b");
    };
    wipe_target(tree, 1, kBlock, false);

    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(read_file(outside / ("x" + std::to_string(i) + ".txt")), "outside " + std::to_string(i)) << i;
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_EQ(log.lines.back(), "Directory tree removed: " + tree.string());
}

// --- Files changed while they are wiped -------------------------------------

// A new version written beside and renamed over the file, or bytes appended
// to it, during its passes: what the name holds now was never (all)
// overwritten, so it stays, and the log says so.
TEST(WipeChanged, FileReplacedOrAppendedDuringItsPassesIsKept) {
    struct Case {
        const char* name;
        bool replace;
        bool in_tree;
    };
    for (const Case& c : {Case{"replaced, tree", true, true}, Case{"replaced, single file", true, false},
                          Case{"appended, tree", false, true}, Case{"appended, single file", false, false}}) {
        TempDir dir;
        const fs::path tree = dir.path / "tree";
        fs::create_directories(tree);
        const fs::path file = tree / "doc.txt";
        write_file(file, "old secret");
        const Watch old(file);
        LogCapture log;
        SyncSeam seam;
        g_on_sync = [&] {
            if (g_syncs.size() != 1) return;  // after the first of two passes
            if (c.replace) {
                write_file(tree / "doc.txt.new", "new version");
                fs::rename(tree / "doc.txt.new", file);
            } else {
                std::ofstream(file, std::ios::app | std::ios::binary) << " appended";
            }
        };
        wipe_target(c.in_tree ? tree : file, 2, kBlock, false);

        EXPECT_EQ(g_syncs.size(), 2u) << c.name;
        const std::string now = read_file(file);
        if (c.replace) {
            EXPECT_EQ(now, "new version") << c.name;
        } else {
            ASSERT_EQ(now.size(), 19u) << c.name;
            EXPECT_EQ(now.substr(10), " appended") << c.name;
        }
        EXPECT_NE(old.content().substr(0, 10), "old secret") << c.name;
        std::vector<std::string> want = {"Preparing to overwrite: " + file.string() + " (10 bytes)",
                                         "File changed while it was overwritten, left in place: " + file.string()};
        if (c.in_tree) want.push_back("Could not remove directory tree: " + tree.string() + " (Directory not empty)");
        EXPECT_EQ(log.lines, want) << c.name;
    }
}

// An empty file is removed without passes: a file renamed over it in the
// meantime is not removed in its place.
TEST(WipeChanged, EmptyFileReplacedBeforeItsRemovalIsKept) {
    TempDir dir;
    const fs::path file = dir.path / "empty.txt";
    write_file(file, "");
    std::vector<std::string> lines;
    log_enabled = true;
    log_sink = [&](const std::string& line) {
        lines.push_back(line.substr(22));
        if (lines.size() == 1) {
            write_file(dir.path / "new.txt", "new data");
            fs::rename(dir.path / "new.txt", file);
        }
    };
    wipe_target(file, 1, kBlock, false);
    log_enabled = false;
    log_sink = nullptr;

    EXPECT_EQ(read_file(file), "new data");
    const std::vector<std::string> want = {"Preparing to overwrite: " + file.string() + " (0 bytes)",
                                           "File changed while it was overwritten, left in place: " + file.string()};
    EXPECT_EQ(lines, want);
}

// --- Files that are not the target's to overwrite ---------------------------

TEST(WipeKeep, HardLinkedFileIsLeftWithItsData) {
    for (bool dry_run : {false, true}) {
        TempDir dir;
        const fs::path tree = dir.path / "tree";
        fs::create_directories(tree);
        write_file(tree / "linked.txt", "shared data");
        fs::create_hard_link(tree / "linked.txt", dir.path / "snapshot.txt");
        write_file(tree / "plain.txt", "plain");
        LogCapture log;
        wipe_target(tree, 1, kBlock, dry_run);

        EXPECT_EQ(read_file(dir.path / "snapshot.txt"), "shared data") << dry_run;
        EXPECT_EQ(read_file(tree / "linked.txt"), "shared data") << dry_run;
        EXPECT_TRUE(contains(log.lines, "Skipping file with other hard links: " + (tree / "linked.txt").string()));
        for (const std::string& line : log.lines)
            EXPECT_EQ(line.find("Preparing to overwrite: " + (tree / "linked.txt").string()), std::string::npos);
        if (dry_run) {
            EXPECT_EQ(log.lines.back(), "[DRY] Directory removal skipped for: " + tree.string());
        } else {
            EXPECT_FALSE(fs::exists(tree / "plain.txt"));
            EXPECT_EQ(log.lines.back(), "Could not remove directory tree: " + tree.string() + " (Directory not empty)");
        }
    }
}

std::optional<std::uint64_t> first_physical_byte(int fd) {
    // The header's flexible array: room for one extent right behind it.
    alignas(fiemap) unsigned char buf[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
    auto* map = reinterpret_cast<fiemap*>(buf);
    map->fm_length = ~0ULL;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 1;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0) return std::nullopt;
    fiemap_extent extent;
    std::memcpy(&extent, buf + sizeof(fiemap), sizeof extent);
    return extent.fe_physical;
}

// Root would write a read-only file anyway, so an unprivileged child wipes.
// An empty file has nothing to overwrite: it goes even when it cannot be opened.
TEST(WipeKeep, ReadOnlyFileStaysAndWriteOnlyFileIsOverwrittenInPlace) {
    TempDir dir;
    hand_to_nobody(dir.path);
    const fs::path tree = dir.path / "tree";
    fs::create_directories(tree);
    hand_to_nobody(tree);
    const fs::path read_only = tree / "read-only.txt", write_only = tree / "write-only.txt";
    const fs::path empty_read_only = tree / "empty-read-only.txt";
    const std::string wo_data(3 * kBlock, 'w');
    write_file(read_only, "read only");
    write_file(write_only, wo_data);
    write_file(empty_read_only, "");
    for (const fs::path& p : {read_only, write_only, empty_read_only}) hand_to_nobody(p);
    fs::permissions(read_only, fs::perms::owner_read);
    fs::permissions(empty_read_only, fs::perms::owner_read);
    fs::permissions(write_only, fs::perms::owner_write);
    std::optional<Watch> watch;
    if (geteuid() == 0) watch.emplace(write_only);
    const std::optional<std::uint64_t> before = watch ? first_physical_byte(watch->fd()) : std::nullopt;

    const ChildResult r = run_in_child(
        [&] {
            std::string out;
            capture_log_into(out);
            wipe_target(tree, 1, kBlock, false);
            return out;
        },
        true);
    if (r.status == 3) GTEST_SKIP() << "cannot give up root here";
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> lines = split_lines(r.out);

    EXPECT_EQ(read_file(read_only), "read only");
    EXPECT_TRUE(contains(lines, "Failed to open for overwrite: " + read_only.string())) << r.out;
    EXPECT_FALSE(fs::exists(write_only));
    EXPECT_TRUE(contains(lines, "File overwritten and removed: " + write_only.string())) << r.out;
    EXPECT_FALSE(fs::exists(empty_read_only));
    EXPECT_TRUE(contains(lines, "Preparing to overwrite: " + empty_read_only.string() + " (0 bytes)")) << r.out;
    EXPECT_TRUE(contains(lines, "Zero-length file removed: " + empty_read_only.string())) << r.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Could not remove directory tree: " + tree.string() + " (Directory not empty)");
    if (watch) {
        EXPECT_EQ(watch->content(), std::string(wo_data.size(), '\0'));
        // Truncating would have freed the blocks and written new ones elsewhere.
        if (before) {
            EXPECT_EQ(first_physical_byte(watch->fd()), before);
        }
    }
}

// A folder that may be passed through but not listed (mode 0311) still
// gives access to what is named inside it, as it does for every other tool.
TEST(WipeKeep, TargetsInsideAFolderThatCannotBeListed) {
    TempDir dir;
    hand_to_nobody(dir.path);
    const fs::path hidden = dir.path / "hidden";
    fs::create_directories(hidden / "tree");
    const fs::path file = hidden / "file.txt", single = hidden / "single.txt", tree = hidden / "tree";
    write_file(file, "file data");
    write_file(single, "single data");
    write_file(tree / "inner.txt", "inner data");
    for (const fs::path& p : {hidden, file, single, tree, tree / "inner.txt"}) hand_to_nobody(p);
    fs::permissions(hidden,
                    fs::perms::owner_write | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);

    const ChildResult r = run_in_child(
        [&] {
            std::string out;
            capture_log_into(out);
            wipe_target(file, 1, kBlock, false);
            wipe_file(single, 1, kBlock, false);
            wipe_target(tree, 1, kBlock, false);
            return out;
        },
        true);
    if (r.status == 3) GTEST_SKIP() << "cannot give up root here";
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> lines = split_lines(r.out);
    for (const fs::path& p : {file, single, tree / "inner.txt"}) {
        EXPECT_FALSE(fs::exists(p)) << p;
        EXPECT_TRUE(contains(lines, "File overwritten and removed: " + p.string())) << r.out;
    }
    EXPECT_FALSE(fs::exists(tree));
    EXPECT_TRUE(contains(lines, "Directory tree removed: " + tree.string())) << r.out;
}

// --- Depth ------------------------------------------------------------------

TEST(WipeDepth, FilesBeyond4096BytesOfPathAreWipedWithFewDescriptors) {
    TempDir dir;
    const fs::path base = dir.path / "deep";
    fs::create_directory(base);
    struct Planted {
        std::string shown;
        std::size_t size;
    };
    std::vector<Planted> planted;
    std::vector<Watch> watches;
    std::string shown = base.string();
    int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    const int levels = 45;
    for (int level = 1; level <= levels; ++level) {
        const std::string name = std::string(96, 'd') + std::to_string(1000 + level);
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
        const int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        shown += "/" + name;
        if (level % 15 == 0 || level == levels) {
            const std::size_t size = 100u + static_cast<std::size_t>(level);
            const int f = openat(fd, "f.txt", O_WRONLY | O_CREAT, 0600);
            const std::string data(size, 'f');
            ASSERT_EQ(write(f, data.data(), data.size()), static_cast<ssize_t>(data.size()));
            close(f);
            planted.push_back({shown + "/f.txt", size});
            // Watched through the folder descriptor: the path is too long to open.
            const int w = openat(fd, "f.txt", O_RDONLY);
            ASSERT_GE(w, 0);
            watches.emplace_back(fs::path("/proc/self/fd") / std::to_string(w));
            close(w);
        }
        if (level == 20) {
            // A side branch, visited after the walk came back up.
            ASSERT_EQ(mkdirat(fd, "side", 0700), 0);
            const int side = openat(fd, "side", O_RDONLY | O_DIRECTORY);
            const int f = openat(side, "s.txt", O_WRONLY | O_CREAT, 0600);
            ASSERT_EQ(write(f, "side", 4), 4);
            close(f);
            close(side);
            planted.push_back({shown + "/side/s.txt", 4});
        }
    }
    close(fd);
    ASSERT_GT(planted.back().shown.size(), 4096u);

    const ChildResult r = run_in_child(
        [&] {
            // Room for a handful of descriptors above those already open, far
            // fewer than the tree has levels.
            int highest = 0;
            for (const auto& e : fs::directory_iterator("/proc/self/fd"))
                highest = std::max(highest, std::stoi(e.path().filename().string()));
            const rlimit limit{static_cast<rlim_t>(highest + 10), static_cast<rlim_t>(highest + 10)};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return std::string("setrlimit failed");
            std::string out;
            capture_log_into(out);
            wipe_target(base, 1, kBlock, false);
            return out;
        },
        false);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> lines = split_lines(r.out);
    for (const Planted& p : planted) {
        EXPECT_TRUE(contains(lines, "Preparing to overwrite: " + p.shown + " (" + std::to_string(p.size) + " bytes)"))
            << p.shown.size();
        EXPECT_TRUE(contains(lines, "File overwritten and removed: " + p.shown)) << p.shown.size();
    }
    ASSERT_FALSE(lines.empty()) << r.out;
    EXPECT_EQ(lines.back(), "Directory tree removed: " + base.string()) << r.out.substr(0, 300);
    EXPECT_FALSE(fs::exists(base));
    for (const Watch& w : watches) {
        const std::string after = w.content();
        EXPECT_FALSE(after.empty());
        EXPECT_TRUE(all_zero(after));
    }
}

// --- Mounts (where this process may mount) -----------------------------------

// Mounts made after this stay private to the test process and vanish with it.
bool private_mount_namespace() {
    return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

TEST(WipeMounts, MountsInsideTheTreeAreNeitherEnteredNorOverwritten) {
    if (!private_mount_namespace()) GTEST_SKIP() << "mounting is not permitted here (needs root)";
    TempDir dir;
    const fs::path tree = dir.path / "tree", elsewhere = dir.path / "elsewhere";
    fs::create_directories(tree / "other");
    fs::create_directories(tree / "same");
    fs::create_directories(elsewhere);
    write_file(elsewhere / "bound.txt", "same file system");
    write_file(dir.path / "bound-file.txt", "a file mounted on a file");
    write_file(tree / "file-mount.txt", "covered");
    write_file(tree / "plain.txt", "plain");
    ASSERT_EQ(mount("none", (tree / "other").c_str(), "tmpfs", 0, "size=1m"), 0);
    write_file(tree / "other" / "on-tmpfs.txt", "another file system");
    ASSERT_EQ(mount(elsewhere.c_str(), (tree / "same").c_str(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(
        mount((dir.path / "bound-file.txt").c_str(), (tree / "file-mount.txt").c_str(), nullptr, MS_BIND, nullptr), 0);

    LogCapture log;
    wipe_target(tree, 1, kBlock, false);

    EXPECT_EQ(read_file(tree / "other" / "on-tmpfs.txt"), "another file system");
    EXPECT_EQ(read_file(elsewhere / "bound.txt"), "same file system");
    EXPECT_EQ(read_file(dir.path / "bound-file.txt"), "a file mounted on a file");
    EXPECT_FALSE(fs::exists(tree / "plain.txt"));
    for (const char* name : {"other", "same", "file-mount.txt"})
        EXPECT_TRUE(contains(log.lines, "Skipping mount point: " + (tree / name).string())) << name;
    EXPECT_EQ(log.lines.back(), "Could not remove directory tree: " + tree.string() + " (Device or resource busy)");
    for (const char* name : {"file-mount.txt", "same", "other"}) umount2((tree / name).c_str(), MNT_DETACH);
}

// Folders bound out of a refused folder are refused wherever they are bound;
// a file mounted over the target is skipped, nothing written. In a child,
// over a tmpfs laid on /usr/local.
TEST(WipeMounts, PlacesBoundOutOfARefusedFolderAreRefused) {
    TempDir dir;
    const ChildResult r = run_in_child([&]() -> std::string {
        if (const std::string why = cover_usr_local_privately(); !why.empty()) return "skip: " + why;
        const fs::path scratch = dir.path / "scratch";
        fs::create_directories("/usr/local/data/sub");
        write_file("/usr/local/file.txt", "system file");
        fs::create_directories(scratch);
        if (mount("none", scratch.c_str(), "tmpfs", 0, "size=1m") != 0) return "cannot mount a tmpfs";
        fs::create_directories(scratch / "data");
        write_file(dir.path / "own.txt", "own data");
        const std::pair<fs::path, fs::path> binds[] = {{"/usr/local/data", dir.path / "bound"},
                                                       {"/usr/local/file.txt", dir.path / "bound-file.txt"},
                                                       {scratch / "data", dir.path / "bound-ok"},
                                                       {dir.path / "own.txt", dir.path / "file-target.txt"}};
        for (const auto& [from, to] : binds) {
            if (fs::is_directory(from))
                fs::create_directory(to);
            else
                write_file(to, "covered");
            if (mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) return "cannot bind " + from.string();
        }
        std::string out;
        for (const fs::path& p : {dir.path / "bound", dir.path / "bound" / "sub", dir.path / "bound-file.txt",
                                  dir.path / "bound-ok", scratch / "data", dir.path / "file-target.txt"})
            out += p.filename().string() + (is_unsafe_place(open_target(p)) ? " refused\n" : " allowed\n");
        capture_log_into(out);
        wipe_target(dir.path / "file-target.txt", 1, kBlock, false);
        return out + read_file(dir.path / "own.txt");
    });
    if (r.out.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.out.substr(6);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "bound refused\nsub refused\nbound-file.txt refused\nbound-ok allowed\ndata allowed\n"
              "file-target.txt allowed\nSkipping mount point: " +
                  (dir.path / "file-target.txt").string() + "\nown data");
}

std::string file_bytes(const fs::path& p) { return read_file(p); }

std::size_t count_of(const std::string& hay, const std::string& needle) {
    std::size_t n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
    return n;
}

// Without a sync after each pass the removal lets the kernel drop the
// overwritten pages, and the old data stays on the medium.
TEST(WipeMedium, NoMarkerLeftInAnExt4ImageAfterUnmount) {
    if (!private_mount_namespace()) GTEST_SKIP() << "mounting is not permitted here (needs root)";
    if (std::system("command -v mkfs.ext4 >/dev/null 2>&1") != 0) GTEST_SKIP() << "mkfs.ext4 is not installed";
    TempDir dir;
    hand_to_nobody(dir.path);
    const fs::path image = dir.path / "fs.img", mnt = dir.path / "mnt";
    fs::create_directory(mnt);
    {
        std::ofstream(image, std::ios::binary).close();
        fs::resize_file(image, 32u << 20);
    }
    ASSERT_EQ(std::system(("mkfs.ext4 -q -F '" + image.string() + "' >/dev/null 2>&1").c_str()), 0);
    if (std::system(("mount -o loop '" + image.string() + "' '" + mnt.string() + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "loop mounting is not permitted here";

    auto marker_file = [](const fs::path& p, char tag, std::size_t bytes) {
        const std::string unit = std::string("ZEYLA-WIPE-MARKER-") + tag + "|";
        std::string data;
        while (data.size() < bytes) data += unit;
        write_file(p, data.substr(0, bytes));
        return std::string("ZEYLA-WIPE-MARKER-") + tag;
    };
    fs::create_directories(mnt / "tree" / "sub");
    fs::create_directories(mnt / "unprivileged");
    std::vector<std::string> markers = {
        marker_file(mnt / "tree" / "a.bin", 'A', 256 * 1024),
        marker_file(mnt / "tree" / "sub" / "b.bin", 'B', 100 * 1024 + 3),
        marker_file(mnt / "single.bin", 'C', 64 * 1024),
        marker_file(mnt / "unprivileged" / "write-only.bin", 'D', 80 * 1024),
    };
    for (const fs::path& p : {mnt, mnt / "unprivileged", mnt / "unprivileged" / "write-only.bin"}) hand_to_nobody(p);
    fs::permissions(mnt / "unprivileged" / "write-only.bin", fs::perms::owner_write);
    sync();
    {
        const std::string bytes = file_bytes(image);
        for (const std::string& m : markers) ASSERT_GT(count_of(bytes, m), 0u) << m << " never reached the image";
    }

    LogCapture log;
    wipe_target(mnt / "tree", 1, 1 << 20, false);
    wipe_target(mnt / "single.bin", 3, 1 << 20, false);
    const ChildResult r = run_in_child(
        [&] {
            std::string out;
            capture_log_into(out);
            wipe_target(mnt / "unprivileged", 2, 1 << 20, false);
            return out;
        },
        true);
    EXPECT_EQ(log.lines.back(), "File overwritten and removed: " + (mnt / "single.bin").string());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("File overwritten and removed: " + (mnt / "unprivileged" / "write-only.bin").string()),
              std::string::npos)
        << r.out;
    ASSERT_EQ(std::system(("umount '" + mnt.string() + "'").c_str()), 0);

    const std::string bytes = file_bytes(image);
    for (const std::string& m : markers) EXPECT_EQ(count_of(bytes, m), 0u) << m << " is still in the image";
}
}  // namespace
