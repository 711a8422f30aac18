#include "scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>

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

TEST(DuplicateScan, LinksAreFollowedToFilesButNotIntoFolders) {
    TempTree tree;
    const auto target = tree.write("target", "linked content");
    fs::create_symlink(target, tree.root() / "link");
    tree.write("dir/inside", "other");
    fs::create_directory_symlink(tree.root() / "dir", tree.root() / "dirlink");
    fs::create_symlink(tree.root() / "nowhere", tree.root() / "dangling");

    DuplicateStats stats;
    const auto groups = find_duplicates(tree.root(), stats);
    // target, link and dir/inside; the folder link adds nothing, the dangling link is no file.
    expect_stats(stats, 3, 0, 2, 1, 2);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(as_set(groups[0]), (std::set<fs::path>{target, tree.root() / "link"}));
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
// (empty, small, around the 64 KiB head, larger), decoys that differ from
// their copies in the last byte or right after the head, links to files, and
// files of a size of their own.
void build_mixed_tree(const TempTree& tree) {
    std::mt19937 rng(4711);
    const std::size_t sizes[] = {0, 1, 17, 4096, 65535, 65536, 65537, 70000, 200003};
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
        {65537, 65536},          {2 * 65536, 2 * 65536 - 1},       {3 * 65536 + 11, 3 * 65536 + 10},
        {(1u << 20) + 3, 65536}, {(1u << 20) + 3, (1u << 20) + 2},
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
