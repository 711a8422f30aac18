#include "scan.h"

#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>

#include "fnv1a.h"
#include "fnv1a_collisions.h"
#include "same_content.h"
#include "child_process.h"
#include "temp_tree.h"

namespace fs = std::filesystem;

namespace {
std::set<fs::path> as_set(const std::vector<fs::path>& paths) { return {paths.begin(), paths.end()}; }

void expect_stats(const DuplicateStats& s, std::uint64_t scanned, std::uint64_t errors, std::uint64_t candidates,
                  std::uint64_t groups, std::uint64_t files) {
    EXPECT_EQ(s.files_scanned, scanned);
    EXPECT_EQ(s.files_with_errors, errors);
    EXPECT_EQ(s.candidate_files, candidates);
    EXPECT_EQ(s.duplicate_groups, groups);
    EXPECT_EQ(s.duplicate_files, files);
}

// Walk order of the regular files under root, as the scan meets them.
std::vector<fs::path> walk_order(const fs::path& root) {
    std::vector<fs::path> order;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) order.push_back(entry.path());
    return order;
}

bool in_walk_order(const std::vector<fs::path>& group, const std::vector<fs::path>& walk) {
    std::vector<std::ptrdiff_t> positions;
    for (const fs::path& p : group) positions.push_back(std::find(walk.begin(), walk.end(), p) - walk.begin());
    return std::is_sorted(positions.begin(), positions.end());
}
}  // namespace

TEST(DuplicateScan, ThreeEqualFilesAndAFourthOfTheSameSize) {
    TempTree tree;
    const auto a = tree.write("a.txt", "same bytes");
    const auto b = tree.write("b.txt", "same bytes");
    const auto c = tree.write("c.txt", "same bytes");
    tree.write("d.txt", "other byte");
    tree.write("e.txt", "a size of its own");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 5, 0, 4, 1, 3);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{a, b, c}));
    EXPECT_TRUE(in_walk_order(groups[0], walk_order(tree.root())));
}

TEST(DuplicateScan, EmptyFilesFormOneGroup) {
    TempTree tree;
    tree.write("e1", "");
    tree.write("sub/e2", "");
    tree.write("sub/deeper/e3", "");
    tree.write("full", "x");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 4, 0, 3, 1, 3);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0].size(), 3u);
}

TEST(DuplicateScan, UniqueSizesAreNeverOpened) {
    TempTree tree;
    for (const char* name : {"one", "three", "seventeen"}) {
        const auto file = tree.write(name, name);
        // Opening any of them would count an error.
        fs::permissions(file, fs::perms::none);
    }
    const ScanOutcome outcome = scan_unprivileged(tree.root());
    expect_stats(outcome.stats, 3, 0, 0, 0, 0);
    EXPECT_TRUE(outcome.groups.empty());
}

TEST(DuplicateScan, UnreadableCandidateIsAnErrorAndInNoGroup) {
    TempTree tree;
    const auto a = tree.write("a", "payload");
    const auto b = tree.write("b", "payload");
    const auto locked = tree.write("locked", "payload");
    fs::permissions(locked, fs::perms::none);

    const ScanOutcome outcome = scan_unprivileged(tree.root());
    expect_stats(outcome.stats, 3, 1, 3, 1, 2);
    ASSERT_EQ(outcome.groups.size(), 1u);
    EXPECT_EQ(as_set(outcome.groups[0]), (std::set<fs::path>{a, b}));
}

TEST(DuplicateScan, FolderWithoutPermissionIsSkipped) {
    TempTree tree;
    const auto a = tree.write("open/a", "content");
    const auto b = tree.write("b", "content");
    tree.write("closed/c", "content");
    tree.write("closed/d", "more");
    fs::permissions(tree.root() / "closed", fs::perms::none);

    const ScanOutcome outcome = scan_unprivileged(tree.root());
    expect_stats(outcome.stats, 2, 0, 2, 1, 2);
    ASSERT_EQ(outcome.groups.size(), 1u);
    EXPECT_EQ(as_set(outcome.groups[0]), (std::set<fs::path>{a, b}));
}

// A file reached through links and its own name is one group, read once per
// stage with the other copy of its content.
TEST(DuplicateScan, LinksAreFollowedToFilesButNotIntoFolders) {
    TempTree tree;
    const auto target = tree.write("target", "linked content");
    const auto copy = tree.write("dir/copy", "linked content");
    fs::create_symlink(target, tree.root() / "link");
    fs::create_symlink(target, tree.root() / "link2");
    fs::create_directory_symlink(tree.root() / "dir", tree.root() / "dirlink");
    fs::create_symlink(tree.root() / "nowhere", tree.root() / "dangling");

    static std::map<std::string, int> opened;  // by the file a path leads to
    before_content_open = [](const char* path) { ++opened[fs::canonical(path).string()]; };
    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats, 1);
    before_content_open = nullptr;
    // The folder link adds nothing, the dangling link is no file.
    expect_stats(stats, 4, 0, 4, 1, 4);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{target, copy, tree.root() / "link", tree.root() / "link2"}));
    EXPECT_EQ(opened, (std::map<std::string, int>{{fs::canonical(target).string(), 2}, {copy.string(), 2}}));
}

TEST(DuplicateScan, LinkLoopDoesNotEndTheWalk) {
    TempTree tree;
    fs::create_symlink(tree.root() / "loop-b", tree.root() / "loop-a");
    fs::create_symlink(tree.root() / "loop-a", tree.root() / "loop-b");
    tree.write("x1", "xx");
    tree.write("x2", "xx");
    tree.write("sub/x3", "xx");
    tree.write("sub/y", "y");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 4, 0, 3, 1, 3);
    ASSERT_EQ(groups.size(), 1u);
}

TEST(DuplicateScan, SameContentInDifferentSubfolders) {
    TempTree tree;
    const auto x = tree.write("x/deep/report.doc", "quarterly numbers");
    const auto y = tree.write("y/copy-of-report.doc", "quarterly numbers");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 2, 0, 2, 1, 2);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{x, y}));
    EXPECT_TRUE(in_walk_order(groups[0], walk_order(tree.root())));
    // Paths are the root joined with the relative part.
    for (const fs::path& p : groups[0]) EXPECT_EQ(p.string().rfind(tree.root().string(), 0), 0u) << p;
}

TEST(DuplicateScan, SeveralGroupsShareOneSize) {
    TempTree tree;
    tree.write("a1", "AAAA");
    tree.write("a2", "AAAA");
    tree.write("b1", "BBBB");
    tree.write("b2", "BBBB");
    tree.write("b3", "BBBB");
    tree.write("c1", "CCCC");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 6, 0, 6, 2, 5);
    ASSERT_EQ(groups.size(), 2u);
    std::multiset<std::size_t> sizes{groups[0].size(), groups[1].size()};
    EXPECT_EQ(sizes, (std::multiset<std::size_t>{2, 3}));
}

TEST(DuplicateScan, LargeFilesDifferingInTheLastByte) {
    TempTree tree;
    std::string big(3 * 65536 + 11, 'q');
    const auto p = tree.write("p", big);
    const auto q = tree.write("q", big);
    big.back() = 'r';
    tree.write("r", big);

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    expect_stats(stats, 3, 0, 3, 1, 2);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{p, q}));
}

TEST(DuplicateScan, CountersAreAddedToAndAMissingRootEndsQuietly) {
    TempTree tree;
    tree.write("a", "1");
    tree.write("b", "1");
    DuplicateStats stats;
    stats.files_scanned = 10;
    stats.duplicate_groups = 1;
    find_duplicates(tree.root(), stats);
    EXPECT_EQ(stats.files_scanned, 12u);
    EXPECT_EQ(stats.duplicate_groups, 2u);

    DuplicateStats empty;
    EXPECT_NO_THROW(EXPECT_TRUE(find_duplicates(tree.root() / "missing", empty).empty()));
    expect_stats(empty, 0, 0, 0, 0, 0);
}

TEST(DuplicateScan, HashOfAFileAndOfAMissingOne) {
    TempTree tree;
    std::uint64_t hash = 7;
    ASSERT_TRUE(hash_file_fnv1a(tree.write("empty", ""), hash));
    EXPECT_EQ(hash, 0xcbf29ce484222325ULL);
    ASSERT_TRUE(hash_file_fnv1a(tree.write("foobar", "foobar"), hash));
    EXPECT_EQ(hash, 0x85944171f73967e8ULL);
    hash = 7;
    EXPECT_FALSE(hash_file_fnv1a(tree.root() / "missing", hash));
    EXPECT_EQ(hash, 7u);
}

TEST(FilesEqual, ComparesSizesThenEveryBlock) {
    TempTree tree;
    std::string big(2 * 65536 + 5, 'z');
    const auto a = tree.write("a", big);
    const auto b = tree.write("b", big);
    std::string other = big;
    other[65536 + 3] = 'y';  // differs in the second block only
    const auto c = tree.write("c", other);
    const auto shorter = tree.write("shorter", big.substr(1));
    const auto e1 = tree.write("e1", "");
    const auto e2 = tree.write("e2", "");

    EXPECT_TRUE(files_equal(a, b));
    EXPECT_TRUE(files_equal(a, a));
    EXPECT_FALSE(files_equal(a, c));
    EXPECT_FALSE(files_equal(a, shorter));
    EXPECT_TRUE(files_equal(e1, e2));
    EXPECT_FALSE(files_equal(a, tree.root() / "missing"));
    EXPECT_FALSE(files_equal(tree.root() / "missing", tree.root() / "missing"));
}

namespace {
std::string numbered(const char* prefix, std::size_t n) {
    std::string name = prefix;
    name += std::to_string(n);
    return name;
}

// Groups of byte-equal files found by reading every regular file whole:
// members in walk order, groups of two or more only.
std::set<std::vector<fs::path>> groups_by_content(const fs::path& root) {
    std::map<std::string, std::vector<fs::path>> by_content;
    for (const fs::path& p : walk_order(root)) by_content[read_whole_file(p)].push_back(p);
    std::set<std::vector<fs::path>> out;
    for (auto& [content, members] : by_content)
        if (members.size() >= 2) out.insert(members);
    return out;
}

// A few thousand files over nested folders: copies of 2 to 5 of mixed sizes
// (empty, small, around the 4 KiB head and the 64 KiB block, larger), decoys
// that differ from their copies in the last byte or right after the first
// 64 KiB, links to files, and files of a size of their own.
void build_mixed_tree(const TempTree& tree) {
    std::mt19937 rng(4711);
    const std::size_t sizes[] = {0, 1, 17, 4095, 4096, 4097, 65535, 65536, 65537, 70000, 200003};
    std::size_t n = 0;
    auto next = [&] {
        const std::size_t k = n++;
        return numbered("d", k % 13) + "/" + numbered("s", k % 7) + "/" + numbered("f", k);
    };
    for (std::size_t set = 0; set < 700; ++set) {
        const std::size_t size = set % 5 == 0 ? sizes[rng() % std::size(sizes)] : rng() % 3000;
        std::string data(size, '\0');
        for (char& c : data) c = static_cast<char>(rng() % 4);  // few byte values: many equal heads
        const std::size_t copies = 2 + rng() % 4;
        for (std::size_t c = 0; c < copies; ++c) tree.write(next(), data);
        if (size > 0 && set % 4 == 0) {
            std::string decoy = data;
            decoy.back() = static_cast<char>(decoy.back() ^ 0x40);
            tree.write(next(), decoy);
        }
        if (size > 65536 && set % 3 == 0) {
            std::string decoy = data;
            decoy[65536] = static_cast<char>(decoy[65536] ^ 0x40);
            tree.write(next(), decoy);
        }
        if (set % 50 == 0)
            fs::create_symlink(tree.root() / "d1" / "s1" / numbered("f", 1), tree.root() / numbered("l", set));
    }
    for (std::size_t u = 0; u < 300; ++u) tree.write(next(), std::string(5000 + u, 'u'));
}
}  // namespace

TEST(DuplicateScan, ThreadCountChangesNoGroupOrderOrCounter) {
    TempTree tree;
    build_mixed_tree(tree);
    const std::vector<fs::path> walk = walk_order(tree.root());
    ASSERT_GT(walk.size(), 2000u);

    DuplicateStats single;
    const DuplicateGroups reference = find_duplicates(tree.root(), single, 1);
    EXPECT_EQ(single.files_scanned, walk.size());
    EXPECT_EQ(single.files_with_errors, 0u);
    EXPECT_EQ(std::set<std::vector<fs::path>>(reference.begin(), reference.end()), groups_by_content(tree.root()));
    std::uint64_t members = 0;
    for (const auto& group : reference) members += group.size();
    EXPECT_EQ(single.duplicate_groups, reference.size());
    EXPECT_EQ(single.duplicate_files, members);

    for (unsigned workers : {1u, 2u, 3u, 8u, 16u}) {
        DuplicateStats stats;
        const DuplicateGroups groups = find_duplicates(tree.root(), stats, workers);
        EXPECT_TRUE(groups == reference) << workers << " workers";
        expect_stats(stats, single.files_scanned, single.files_with_errors, single.candidate_files,
                     single.duplicate_groups, single.duplicate_files);
    }
}

TEST(DuplicateScan, FilesDifferingOnlyAfterTheFirstBlock) {
    struct Case {
        std::size_t size;
        std::size_t differs_at;
    };
    const Case cases[] = {
        {4097, 4096},
        {65537, 65536},
        {2 * 65536, 2 * 65536 - 1},
        {3 * 65536 + 11, 3 * 65536 + 10},
        {(1u << 20) + 3, 65536},
        {(1u << 20) + 3, (1u << 20) + 2},
    };
    for (const Case& c : cases) {
        TempTree tree;
        std::string data(c.size, 'k');
        const auto a = tree.write("a", data);
        const auto b = tree.write("sub/b", data);
        data[c.differs_at] = 'K';
        tree.write("c", data);
        tree.write("sub/d", data.substr(1) + "k");  // the same bytes, shifted: equal head only

        for (unsigned workers : {1u, 4u}) {
            DuplicateStats stats;
            const auto groups = find_duplicates(tree.root(), stats, workers);
            expect_stats(stats, 4, 0, 4, 1, 2);
            ASSERT_EQ(groups.size(), 1u) << c.size << " " << c.differs_at;
            EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{a, b})) << c.size << " " << c.differs_at;
        }
    }
}

TEST(DuplicateScan, UnreadableCandidatesOfEverySizeAreErrors) {
    TempTree tree;
    std::set<std::set<fs::path>> expected;
    for (std::size_t size : {std::size_t{0}, std::size_t{10}, std::size_t{65536}, std::size_t{65536 * 3 + 1}}) {
        const std::string data(size, 'v');
        const std::string name = numbered("s", size);
        const auto a = tree.write(name + "/a", data);
        const auto locked = tree.write(name + "/locked", data);
        const auto b = tree.write(name + "/b", data);
        fs::permissions(locked, fs::perms::none);
        expected.insert({a, b});
    }
    // Alone at its size, an unreadable file is never opened.
    fs::permissions(tree.write("alone", std::string(99, 'x')), fs::perms::none);

    for (unsigned workers : {1u, 8u}) {
        const ScanOutcome outcome = scan_unprivileged(tree.root(), workers);
        expect_stats(outcome.stats, 13, 4, 12, 4, 8);
        std::set<std::set<fs::path>> found;
        for (const auto& group : outcome.groups) found.insert(as_set(group));
        EXPECT_EQ(found, expected) << workers << " workers";
    }
}

// Paths of any length are walked: a chain of folders deeper than one system
// call takes, beside sibling folders, every group found.
TEST(DuplicateScan, ChainDeeperThanThePathLimitBesideSiblings) {
    TempTree tree;
    const fs::path deep_a = tree.write_deep("chain", 25, "a", "deep twins");
    const fs::path deep_b = tree.write_deep("chain", 25, "b", "deep twins");
    ASSERT_GT(deep_a.native().size(), 5000u);
    for (std::size_t i = 0; i < 40; ++i) {
        const std::string content = numbered("sibling ", 10 + i);
        tree.write(numbered("s", i) + "/x", content);
        tree.write(numbered("s", i) + "/y", content);
    }
    for (unsigned workers : {1u, 8u}) {
        DuplicateStats stats;
        const auto groups = find_duplicates(tree.root(), stats, workers);
        expect_stats(stats, 82, 0, 82, 41, 82);
        EXPECT_TRUE(std::any_of(groups.begin(), groups.end(), [&](const auto& g) {
            return as_set(g) == std::set<fs::path>{deep_a, deep_b};
        }));
    }
}

// An error of a folder other than a denied entry ends the walk where it
// happens, as the iteration the scan follows ends: nothing after it counts.
TEST(DuplicateScan, FolderErrorEndsTheWalkThere) {
    TempTree tree;
    for (std::size_t i = 0; i < 20; ++i) {
        const std::string sibling = numbered("s", i);
        tree.write(sibling + "/x", numbered("pair ", 10 + i));
        tree.write(sibling + "/y", numbered("pair ", 10 + i));
        std::string chain = sibling;
        for (int level = 0; level < 30; ++level) chain += "/c";
        fs::create_directories(tree.root() / chain);
    }
    ScanOutcome outcome;
    ASSERT_TRUE(scan_within(tree.root(), 1, 60, outcome, [] {
        // Too few descriptors to go down the first chain the walk meets.
        const rlimit limit{16, 16};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }));
    EXPECT_LE(outcome.stats.files_scanned, 2u);
    EXPECT_LE(outcome.groups.size(), 1u);
}

namespace {
// What the content seam does at the n-th opening of a path ending in `name`.
struct Change {
    std::string name;
    int at_open;
    std::function<void()> act;
};
std::vector<Change> changes;
std::map<std::string, int> opens;

void change_on_open(const char* path) {
    for (const Change& c : changes) {
        const std::string p = path;
        if (p.size() >= c.name.size() && p.compare(p.size() - c.name.size(), c.name.size(), c.name) == 0 &&
            ++opens[c.name] == c.at_open)
            c.act();
    }
}

// Points the link `link` at `target`, in one step.
void repoint(const fs::path& link, const fs::path& target) {
    const fs::path temp = link.string() + ".new";
    fs::create_symlink(target, temp);
    fs::rename(temp, link);
}
}  // namespace

// Links that turn into a pipe or /dev/zero after the walk saw regular files,
// at the hash stage or at the comparison: neither is opened for reading, and
// the scan ends.
TEST(DuplicateScan, LinksSwappedForAPipeOrDevice) {
    for (const int at_open : {1, 2}) {  // 1: hashing, 2: comparison
        TempTree tree;
        const fs::path outside = tree.root() / "outside";
        const fs::path scan = tree.root() / "scan";
        tree.write("outside/r1", "ten bytes!");
        tree.write("outside/r2", "ten bytes!");
        ASSERT_EQ(::mkfifo((outside / "fifo").c_str(), 0600), 0);
        const auto a = tree.write("scan/a", "ten bytes!");
        const auto b = tree.write("scan/b", "ten bytes!");
        fs::create_symlink(outside / "r1", scan / "to-pipe");
        fs::create_symlink(outside / "r2", scan / "to-zero");
        ScanOutcome outcome;
        ASSERT_TRUE(scan_within(scan, 1, 30, outcome,
                                [&] {
                                    changes = {
                                        {"to-pipe", at_open, [&] { repoint(scan / "to-pipe", outside / "fifo"); }},
                                        {"to-zero", at_open, [&] { repoint(scan / "to-zero", "/dev/zero"); }}};
                                    before_content_open = change_on_open;
                                }))
            << "swapped at open " << at_open;
        // Unopened for hashing, they are errors; unopened for the comparison, only left out.
        EXPECT_EQ(outcome.stats.files_with_errors, at_open == 1 ? 2u : 0u);
        ASSERT_EQ(outcome.groups.size(), 1u);
        EXPECT_EQ(as_set(outcome.groups[0]), (std::set<fs::path>{a, b}));
    }
}

// A file that grows while the comparison reads it counts as unreadable there:
// its first bytes, read up to its size, would have matched.
TEST(DuplicateScan, FileGrowingWhileComparedIsLeftOut) {
    TempTree tree;
    const std::string data(600000, 'g');  // several blocks
    std::vector<fs::path> files;
    for (const char* name : {"a", "b", "c"}) files.push_back(tree.write(name, data));
    static std::vector<std::string> opened;
    ScanOutcome outcome;
    ASSERT_TRUE(scan_within(tree.root(), 1, 30, outcome, [] {
        // Head, rest, then the comparison: its second opening grows the file it opened first.
        before_content_open = [](const char* path) {
            opened.emplace_back(path);
            if (opened.size() == 3 * 2 + 2) std::ofstream(opened[3 * 2], std::ios::app) << "more";
        };
    }));
    EXPECT_EQ(outcome.stats.files_with_errors, 0u);
    ASSERT_EQ(outcome.groups.size(), 1u);
    EXPECT_EQ(outcome.groups[0].size(), 2u);
}

// Files of one size and one FNV-1a hash but different bytes (chained real
// collisions, then one common tail; more different blocks than one step of
// the comparison keeps) are told apart; copies among them are grouped.
TEST(DuplicateScan, MulticollisionIsToldApartByBytes) {
    const std::vector<std::string> contents = fnv1a_multicollision(6, std::string(70000, 't'));
    for (const std::string& c : contents)
        ASSERT_EQ(fnv1a_buffer(c.data(), c.size()), fnv1a_buffer(contents[0].data(), contents[0].size()));
    ASSERT_EQ(std::set<std::string>(contents.begin(), contents.end()).size(), 64u);
    TempTree tree;
    std::set<std::set<fs::path>> expected;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const auto first = tree.write(numbered("m/f", i), contents[i]);
        if (i % 3 == 0) expected.insert({first, tree.write(numbered("copies/f", i), contents[i])});
    }
    for (unsigned workers : {1u, 4u}) {
        DuplicateStats stats;
        const auto groups = find_duplicates(tree.root(), stats, workers);
        expect_stats(stats, 86, 0, 86, 22, 44);
        std::set<std::set<fs::path>> found;
        for (const auto& group : groups) found.insert(as_set(group));
        EXPECT_EQ(found, expected) << workers << " workers";
    }
}

// A procfs mounted inside the tree (in a private mount and process namespace,
// so that it shows one single-threaded process): the scan ends, no file of it
// is opened for its content, and the tree's own group is found.
TEST(DuplicateScan, ProcfsInsideTheTreeIsPassedOver) {
    TempTree tree;
    const auto x = tree.write("a/x", "same content");
    const auto y = tree.write("b/y", "same content");
    tree.write("c/z", "other content");
    fs::create_directories(tree.root() / "proc");
    const fs::path root = tree.root();
    const ChildResult child = run_in_child([&]() -> std::string {
        if (::unshare(CLONE_NEWNS | CLONE_NEWPID) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "skip";
        // The first child in the new namespace is its process 1, which only a handled signal ends.
        const ChildResult scanner = run_in_child([&]() -> std::string {
            ::signal(SIGALRM, [](int) { ::_exit(3); });
            ::alarm(60);
            if (::mount("proc", (root / "proc").c_str(), "proc", 0, nullptr) != 0) return "skip";
            static std::vector<std::string> opened;
            before_content_open = [](const char* path) { opened.emplace_back(path); };
            ScanOutcome outcome;
            outcome.groups = find_duplicates(root, outcome.stats, 1);
            std::string pseudo;
            for (const std::string& path : opened) {
                struct statfs fs {};
                if (::statfs(path.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC) pseudo += path + "\n";
            }
            return pseudo.empty() ? serialize(outcome) : "opened on procfs:\n" + pseudo;
        });
        return scanner.status == 0 ? scanner.out : "the scan did not end: " + std::to_string(scanner.status);
    });
    if (child.out == "skip") GTEST_SKIP() << "no private mount and process namespace here";
    ASSERT_EQ(child.out.find("opened on procfs"), std::string::npos) << child.out;
    ASSERT_EQ(child.out.find("the scan did not end"), std::string::npos) << child.out;
    // Links in the procfs (the process's own files) lead to regular files and
    // count like any link; the tree's own files make one group of their own.
    std::set<std::set<fs::path>> own;
    for (const auto& group : deserialize(child.out).groups) {
        std::set<fs::path> members;
        for (const fs::path& p : group)
            if (p.string().rfind((root / "proc").string(), 0) != 0) members.insert(p);
        if (!members.empty()) own.insert(members);
    }
    EXPECT_EQ(own, (std::set<std::set<fs::path>>{{x, y}}));
}
