#include "duplicate_filter.h"

#include <map>
#include <random>

#include "fnv1a.h"
#include "fnv1a_collisions.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

class DuplicateFilter : public TempTree {
protected:
    MatchInfo result(const std::string& relative, const std::string& content) {
        MatchInfo m;
        m.path = write(relative, content);
        m.size = content.size();
        m.snippet = "s:" + relative;
        m.firstMatchLine = 7;
        m.contentMatched = true;
        return m;
    }
    static std::vector<std::string> names(const std::vector<MatchInfo>& results) {
        std::vector<std::string> out;
        for (const MatchInfo& m : results) out.push_back(m.path.filename().string());
        return out;
    }
    std::string filter(Options o, std::vector<MatchInfo>& results) {
        testing::internal::CaptureStderr();
        filter_duplicates(o, results);
        return testing::internal::GetCapturedStderr();
    }
};

Options with_mode(std::uint32_t mode) {
    Options o;
    o.duplicatesMode = mode;
    return o;
}

}  // namespace

TEST_F(DuplicateFilter, HashIsFnv1a64) {
    std::uint64_t hash = 1;
    ASSERT_TRUE(hash_file_fnv1a(write("empty", ""), hash));
    EXPECT_EQ(hash, 0xcbf29ce484222325ULL);
    ASSERT_TRUE(hash_file_fnv1a(write("a", "a"), hash));
    EXPECT_EQ(hash, 0xaf63dc4c8601ec8cULL);
    ASSERT_TRUE(hash_file_fnv1a(write("foobar", "foobar"), hash));
    EXPECT_EQ(hash, 0x85944171f73967e8ULL);
    // More than one 64 KiB block, with a short last one.
    std::string big(65536 * 2 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + 7);
    std::uint64_t expected = 0xcbf29ce484222325ULL;
    for (unsigned char c : big) expected = (expected ^ c) * 0x100000001b3ULL;
    ASSERT_TRUE(hash_file_fnv1a(write("big", big), hash));
    EXPECT_EQ(hash, expected);

    hash = 5;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(hash_file_fnv1a(root_ / "missing", hash));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[WARN] Cannot open file for hashing: " + (root_ / "missing").string() + "\n");
    EXPECT_EQ(hash, 5u);
}

TEST_F(DuplicateFilter, ModesKeepOrderAndWholeResults) {
    std::vector<MatchInfo> base = {result("1", "same"),  result("2", "other"), result("3", "same"),
                                   result("4", "third"), result("e1", ""),     result("e2", "")};
    std::vector<MatchInfo> results = base;
    EXPECT_EQ(filter(with_mode(1), results), "");
    EXPECT_EQ(names(results), (std::vector<std::string>{"1", "3", "e1", "e2"}));
    EXPECT_EQ(results[1].snippet, "s:3");
    EXPECT_EQ(results[1].firstMatchLine, 7u);
    EXPECT_TRUE(results[1].contentMatched);

    results = base;
    filter(with_mode(2), results);
    EXPECT_EQ(names(results), (std::vector<std::string>{"2", "4"}));

    // Mode any without a reference folder opens nothing: missing files give no warning.
    results = base;
    fs::remove(base[0].path);
    EXPECT_EQ(filter(with_mode(0), results), "");
    EXPECT_EQ(names(results).size(), 6u);
}

TEST_F(DuplicateFilter, UnreadableResultStaysInUniqLeavesInDup) {
    std::vector<MatchInfo> base = {result("a", "x"), result("gone", "y"), result("b", "x")};
    fs::remove(base[1].path);
    const std::string warning = "[WARN] Cannot open file for hashing: " + base[1].path.string() + "\n";
    std::vector<MatchInfo> results = base;
    EXPECT_EQ(filter(with_mode(1), results), warning);
    EXPECT_EQ(names(results), (std::vector<std::string>{"a", "b"}));
    results = base;
    EXPECT_EQ(filter(with_mode(2), results), warning);
    EXPECT_EQ(names(results), (std::vector<std::string>{"gone"}));
}

// Equal size and equal hash are not equal files: a real FNV-1a collision is
// told apart by its bytes.
TEST_F(DuplicateFilter, EqualSizeDifferentContentAreDifferent) {
    const auto pair = fnv1a_collision_pairs(1)[0];
    ASSERT_EQ(fnv1a_buffer(pair.first.data(), pair.first.size()), fnv1a_buffer(pair.second.data(), pair.second.size()));
    const std::vector<MatchInfo> base = {result("a", "abc"), result("b", "abd"), result("c1", pair.first),
                                         result("c2", pair.second)};
    std::vector<MatchInfo> results = base;
    filter(with_mode(1), results);
    EXPECT_TRUE(results.empty());
    results = base;
    filter(with_mode(2), results);
    EXPECT_EQ(names(results), (std::vector<std::string>{"a", "b", "c1", "c2"}));
}

// The reference folder is walked to any depth: copies below a chain of
// folders longer than one system call takes, beside sibling folders, count.
TEST_F(DuplicateFilter, ReferenceFolderDeeperThanThePathLimit) {
    std::vector<MatchInfo> results = {result("found/deep", "deep copy")};
    for (int i = 0; i < 40; ++i) {
        const std::string content = "sibling " + std::to_string(10 + i);
        results.push_back(result("found/" + std::to_string(i), content));
        write("ref/" + std::to_string(i) + "/copy", content);
    }
    write_deep("deep", "deep copy");
    ASSERT_EQ(std::rename((root_ / std::string(200, 'p')).c_str(), (root_ / "ref" / "chain").c_str()), 0);
    Options o = with_mode(1);
    o.hasDuplicatesDir = true;
    o.duplicatesDir = (root_ / "ref").string();
    std::vector<MatchInfo> kept = results;
    EXPECT_EQ(filter(o, kept), "");
    EXPECT_EQ(kept.size(), 41u);
}

TEST_F(DuplicateFilter, ReferenceFolder) {
    std::vector<MatchInfo> base = {result("root/a", "alpha"), result("root/b", "beta"), result("root/c", "gamma")};
    write("ref/copy_of_b", "beta");
    write("ref/deeper/other", "delta");

    Options o = with_mode(2);
    o.hasDuplicatesDir = true;
    o.duplicatesDir = (root_ / "ref").string();
    std::vector<MatchInfo> results = base;
    EXPECT_EQ(filter(o, results), "");
    EXPECT_EQ(names(results), (std::vector<std::string>{"a", "c"}));

    o.duplicatesMode = 1;
    results = base;
    filter(o, results);
    EXPECT_EQ(names(results), (std::vector<std::string>{"b"}));

    // A reference folder inside the root meets the results again: each is its own duplicate.
    o.duplicatesDir = (root_ / "root").string();
    results = base;
    filter(o, results);
    EXPECT_EQ(names(results), (std::vector<std::string>{"a", "b", "c"}));
    o.duplicatesMode = 2;
    results = base;
    filter(o, results);
    EXPECT_TRUE(results.empty());

    // Mode any with a reference folder hashes everything but keeps the list.
    o.duplicatesMode = 0;
    fs::remove(base[2].path);
    results = base;
    EXPECT_EQ(filter(o, results), "[WARN] Cannot open file for hashing: " + base[2].path.string() + "\n");
    EXPECT_EQ(results.size(), 3u);

    o.duplicatesDir = (root_ / "nowhere").string();
    o.duplicatesMode = 1;
    results = {result("x1", "same"), result("x2", "same")};
    EXPECT_EQ(filter(o, results), "[WARN] --duplicates-dir is not a valid directory: " + o.duplicatesDir + "\n");
    EXPECT_EQ(results.size(), 2u);
}

// Many results of mixed sizes, some unreadable, with a reference folder: what
// stays and what is written must be what a whole hash of every file gives.
TEST_F(DuplicateFilter, ManyResultsAgreeWithAWholeHashOfEveryFile) {
    std::mt19937 rng(99);
    const std::size_t sizes[] = {0, 3, 3, 3, 100, 65536, 65537, 140000};
    std::vector<MatchInfo> base;
    std::vector<std::string> contents;
    std::vector<std::string> variants;  // shared by results and the reference folder
    for (std::size_t i = 0; i < 3 * std::size(sizes); ++i) {
        std::string v(sizes[i % std::size(sizes)], 'a');
        if (!v.empty()) v.back() = static_cast<char>('a' + i % 3);  // equal heads, different last bytes
        variants.push_back(v);
    }
    for (std::size_t i = 0; i < 300; ++i) {
        std::string content;
        switch (rng() % 4) {
            case 0:  // a size of its own
                content = std::string(1000 + i, 'u');
                break;
            case 1:  // a large shared size, content of its own after an equal head
                content = std::string(65537 + i % 2, 'a');
                content[content.size() - 2] = static_cast<char>(i / 256);
                content.back() = static_cast<char>(i % 256);
                break;
            default:
                content = variants[rng() % variants.size()];
        }
        base.push_back(result("r/" + std::to_string(i), content));
        contents.push_back(content);
    }
    std::vector<std::string> reference_contents;
    for (std::size_t i = 0; i < 20; ++i) {
        reference_contents.push_back(i % 5 == 0 ? std::string(1300 + i, 'u') : variants[rng() % variants.size()]);
        write("ref/" + std::to_string(i), reference_contents.back());
    }
    std::string warnings;
    for (std::size_t i = 0; i < base.size(); i += 37) {
        fs::remove(base[i].path);
        warnings += "[WARN] Cannot open file for hashing: " + base[i].path.string() + "\n";
    }

    std::map<std::pair<std::uint64_t, std::uint64_t>, int> counts;
    auto key = [](const std::string& c) {
        return std::make_pair(std::uint64_t{c.size()}, fnv1a_buffer(c.data(), c.size()));
    };
    for (std::size_t i = 0; i < base.size(); ++i)
        if (fs::exists(base[i].path)) ++counts[key(contents[i])];
    for (const std::string& c : reference_contents) ++counts[key(c)];

    for (std::uint32_t mode : {0u, 1u, 2u}) {
        Options o = with_mode(mode);
        o.hasDuplicatesDir = true;
        o.duplicatesDir = (root_ / "ref").string();
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < base.size(); ++i) {
            const bool readable = fs::exists(base[i].path);
            const int count = readable ? counts[key(contents[i])] : 0;
            if (mode == 0 || (mode == 1 && count >= 2) || (mode == 2 && (!readable || count == 1)))
                expected.push_back(base[i].path.filename().string());
        }
        std::vector<MatchInfo> results = base;
        EXPECT_EQ(filter(o, results), warnings) << "mode " << mode;
        EXPECT_EQ(names(results), expected) << "mode " << mode;
    }
}

// Results the search can list must be hashable wherever they lie; what a
// warning names reaches the terminal escaped, and a pipe never blocks.
TEST_F(DuplicateFilter, PathsBeyondTheSystemLimitPipesAndHostileNames) {
    std::vector<MatchInfo> base;
    for (const char* name : {"one", "two"}) {
        MatchInfo m;
        m.path = write_deep(name, "same");
        m.size = 4;
        base.push_back(m);
    }
    ASSERT_GT(base[0].path.native().size(), 5000u);
    base.push_back(result("short", "diff"));
    base.push_back(result("gone\x1b[2J\n", "lost"));
    base.push_back(result("pipe", "was a file"));
    fs::remove(base[3].path);
    fs::remove(base[4].path);
    ASSERT_EQ(mkfifo(base[4].path.c_str(), 0600), 0);
    const std::string warnings = "[WARN] Cannot open file for hashing: " + (root_ / "gone").string() +
                                 "\\x1b[2J\\x0a\n[WARN] Cannot open file for hashing: " + base[4].path.string() + "\n";

    std::vector<MatchInfo> results = base;
    EXPECT_EQ(filter(with_mode(1), results), warnings);
    EXPECT_EQ(names(results), (std::vector<std::string>{"one", "two"}));
    results = base;
    EXPECT_EQ(filter(with_mode(2), results), warnings);
    EXPECT_EQ(names(results), (std::vector<std::string>{"short", "gone\x1b[2J\n", "pipe"}));

    std::uint64_t hash = 0;
    EXPECT_TRUE(hash_file_fnv1a(base[0].path, hash));
    EXPECT_EQ(hash, fnv1a_buffer("same", 4));
}
