#include "dir_walk.h"

#include <algorithm>
#include <string>
#include <vector>

#include "temp_tree.h"

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
