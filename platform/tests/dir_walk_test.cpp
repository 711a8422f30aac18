#include "dir_walk.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <stdexcept>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

class TreeWalk : public TempTree {
protected:
    std::vector<fs::path> walked(bool recursive, const fs::path& removeFirstFolder = {}) {
        std::vector<fs::path> seen;
        bool removed = false;
        walk_directory(root_.native(), recursive, [&](const WalkEntry& entry) {
            seen.push_back(fs::path(entry.path).lexically_relative(root_));
            if (!removeFirstFolder.empty() && !removed && entry.kind == WalkEntry::Kind::directory) {
                // Gone before the walk enters it, as when a build cleans up meanwhile.
                fs::remove_all(entry.path);
                removed = true;
            }
        });
        return seen;
    }
};

std::vector<fs::path> iterator_order(const fs::path& root) {
    std::vector<fs::path> seen;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        seen.push_back(entry.path().lexically_relative(root));
    return seen;
}

}  // namespace

TEST_F(TreeWalk, SameOrderAsTheRecursiveIteratorWithoutFollowingLinks) {
    for (int i = 0; i < 4; ++i) {
        write("d" + std::to_string(i) + "/e/f.txt", "x");
        write("d" + std::to_string(i) + "/g.txt", "x");
        write("h" + std::to_string(i) + ".txt", "x");
    }
    fs::create_directory_symlink(root_ / "d0", root_ / "link");
    EXPECT_EQ(walked(true), iterator_order(root_));
    EXPECT_EQ(walked(false).size(), 9u);
}

TEST_F(TreeWalk, FolderRemovedDuringTheWalkLosesOnlyItsOwnEntries) {
    for (int i = 0; i < 5; ++i) {
        write("d" + std::to_string(i) + "/x.txt", "x");
        write("f" + std::to_string(i) + ".txt", "x");
    }
    // 10 entries at the top and one file in each of the four folders left.
    EXPECT_EQ(walked(true, "first folder").size(), 14u);
}

TEST_F(TreeWalk, LinksToFilesCountAsFilesAndPathsJoinLikeTheLibrary) {
    write("a.txt", "x");
    fs::create_symlink(root_ / "a.txt", root_ / "to-a");
    fs::create_symlink(root_ / "gone", root_ / "broken");
    std::vector<std::string> regular;
    std::vector<std::string> paths;
    walk_directory(root_.native() + "/", false, [&](const WalkEntry& entry) {
        paths.push_back(entry.path);
        if (entry.is_regular_file()) regular.push_back(fs::path(entry.path).filename().string());
    });
    std::sort(regular.begin(), regular.end());
    EXPECT_EQ(regular, (std::vector<std::string>{"a.txt", "to-a"}));
    for (const std::string& p : paths) EXPECT_EQ(p.find("//"), std::string::npos) << p;
    EXPECT_TRUE(std::count(paths.begin(), paths.end(), (root_ / "a.txt").native()) == 1);
}

TEST_F(TreeWalk, HelpersKeepTheOrderAndWhatLinksPointTo) {
    for (int i = 0; i < 12; ++i) {
        const std::string top = "t" + std::to_string(i);
        for (int j = 0; j < 40; ++j) write(top + "/s" + std::to_string(j % 5) + "/f" + std::to_string(j), "x");
        fs::create_symlink(root_ / top / "s0" / "f0", root_ / top / "to-file");
        fs::create_symlink(root_ / top, root_ / top / "s1" / "to-folder");
        write("file" + std::to_string(i), "x");
    }
    write("big/" + std::string(3, 'b') + "/x", "x");
    for (int j = 0; j < 300; ++j) write("big/many" + std::to_string(j), "x");
    const auto listed = [&](bool inParallel) {
        std::vector<std::pair<std::string, int>> seen;
        walk_directory(root_.native(), true, [&](const WalkEntry& entry) {
            EXPECT_EQ(fs::path(entry.path).filename().string(), entry.name);
            seen.emplace_back(entry.path, static_cast<int>(entry.kind) * 2 + (entry.is_regular_file() ? 1 : 0));
        }, inParallel);
        return seen;
    };
    const auto sequential = listed(false);
    ASSERT_EQ(sequential.size(), 12u * (40 + 5 + 3) + 12 + 1 + 1 + 1 + 300);
    for (int round = 0; round < 5; ++round) EXPECT_EQ(listed(true), sequential);
}

// One top folder holds nearly everything, spread over several levels, so that
// the helpers split it into subtrees of its subfolders and theirs; some of them
// are gone before any helper reaches them.
TEST_F(TreeWalk, LopsidedTreesSplitAmongHelpersKeepTheOrder) {
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 6; ++b)
            for (int c = 0; c < 4; ++c)
                for (int f = 0; f < 5; ++f)
                    write("big/a" + std::to_string(a) + "/b" + std::to_string(b) + "/c" + std::to_string(c) + "/d/f" +
                              std::to_string(f),
                          "x");
    write("big/top.txt", "x");
    write("small/one.txt", "x");
    fs::create_directory_symlink(root_ / "big" / "a0", root_ / "big" / "a1" / "b2" / "to-folder");
    fs::create_symlink(root_ / "small" / "one.txt", root_ / "big" / "a2" / "to-file");
    const auto listed = [&](bool inParallel) {
        std::vector<std::pair<std::string, int>> seen;
        walk_directory(
            root_.native(), true,
            [&](const WalkEntry& entry) {
                // A slow first visit lets the helpers walk every subtree ahead.
                if (seen.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
                EXPECT_EQ(fs::path(entry.path).filename().string(), entry.name);
                seen.emplace_back(entry.path, static_cast<int>(entry.kind) * 2 + (entry.is_regular_file() ? 1 : 0));
            },
            inParallel);
        return seen;
    };
    const auto sequential = listed(false);
    ASSERT_EQ(sequential.size(), 2u + 1 + 3 + 1 + 3 * 6 + 3 * 6 * 4 * 7 + 2);
    for (int round = 0; round < 5; ++round) EXPECT_EQ(listed(true), sequential);

    // Folders at each split level vanish: only their own entries are lost.
    fs::remove_all(root_ / "big" / "a1");
    fs::remove_all(root_ / "big" / "a2" / "b3");
    fs::remove_all(root_ / "big" / "a0" / "b0" / "c1");
    const auto after = listed(false);
    ASSERT_EQ(after.size(), sequential.size() - (1 + 6 + 6 * 4 * 7 + 1) - (1 + 4 * 7) - 7);
    for (int round = 0; round < 3; ++round) EXPECT_EQ(listed(true), after);
}

TEST_F(TreeWalk, HelpersStopWhenTheVisitThrows) {
    for (int i = 0; i < 6; ++i)
        for (int j = 0; j < 150; ++j) write("t" + std::to_string(i) + "/f" + std::to_string(j), "x");
    std::size_t visits = 0;
    EXPECT_THROW(walk_directory(root_.native(), true,
                                [&](const WalkEntry&) {
                                    if (++visits == 200) throw std::runtime_error("enough");
                                },
                                true),
                 std::runtime_error);
    EXPECT_EQ(visits, 200u);
}

// A chain of folders, each holding a file, with a side chain every 50 levels:
// deeper than the descriptors a process may hold, as an attacker could nest.
TEST_F(TreeWalk, DeepTreesNeedFewDescriptors) {
    for (const char* top : {"a", "b", "c"}) {
        int dir = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(mkdirat(dir, top, 0700), 0);
        int next = openat(dir, top, O_RDONLY | O_DIRECTORY);
        close(dir);
        dir = next;
        for (int depth = 0; depth < 250 && dir >= 0; ++depth) {
            close(openat(dir, "f", O_WRONLY | O_CREAT, 0600));
            if (depth % 50 == 10) {
                int side = dir;
                for (int s = 0; s < 60 && side >= 0; ++s) {
                    mkdirat(side, "s", 0700);
                    const int deeper = openat(side, "s", O_RDONLY | O_DIRECTORY);
                    if (side != dir) close(side);
                    side = deeper;
                }
                close(openat(side, "g", O_WRONLY | O_CREAT, 0600));
                close(side);
            }
            mkdirat(dir, "d", 0700);
            next = openat(dir, "d", O_RDONLY | O_DIRECTORY);
            close(dir);
            dir = next;
        }
        ASSERT_GE(dir, 0);
        close(dir);
    }
    const std::vector<fs::path> expected = iterator_order(root_);
    ASSERT_GT(expected.size(), 3u * (250 * 2 + 5 * 61));

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 300;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    const std::vector<fs::path> sequential = walked(true);
    std::vector<fs::path> parallel;
    walk_directory(
        root_.native(), true,
        [&](const WalkEntry& entry) { parallel.push_back(fs::path(entry.path).lexically_relative(root_)); }, true);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(sequential, expected);
    EXPECT_EQ(parallel, expected);
}
