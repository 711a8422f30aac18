#include "engine.h"

#include <algorithm>
#include <set>
#include <thread>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>
#include <functional>

#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct Search {
    std::vector<MatchInfo> results;
    std::uint64_t candidates = 99;
    std::uint32_t threads = 99;
    double elapsed = -1;
    std::string errors;
};

Search run(const Options& options) {
    Search s;
    testing::internal::CaptureStderr();
    s.results = search_files(options, s.candidates, s.threads, s.elapsed);
    s.errors = testing::internal::GetCapturedStderr();
    return s;
}

std::set<std::string> names(const Search& s) {
    std::set<std::string> out;
    for (const MatchInfo& m : s.results) out.insert(m.path.filename().string());
    return out;
}

class SearchEngine : public TempTree {
protected:
    Options options_for_root() const {
        Options o;
        o.rootPath = root_.string();
        return o;
    }
};

}  // namespace

TEST(SearchText, WildcardMatchesWholeNameIgnoringAsciiCase) {
    struct Case {
        const char* pattern;
        const char* name;
        bool expected;
    };
    const Case cases[] = {
        {"*.TXT", "notes.txt", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a?c", "abbc", false},
        {"*.txt", "a.txt.bak", false},
        {"README*", "readme.md", true},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"**a", "a", true},
        {"?", "", false},
        {"\xC3\x89*", "\xC3\xA9t\xC3\xA9", false},
        {"*b*", "abc", true},
        {"a*c", "abdc", true},
        {"a*c", "abd", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wildcard_match(c.pattern, c.name), c.expected) << c.pattern << " vs " << c.name;
}

TEST(SearchText, FormatSizeTable) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.00 KB"},
        {1536, "1.50 KB"},
        {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"},
        {std::uint64_t{1} << 40, "1.00 TB"},
        {std::uint64_t{1} << 50, "1024.00 TB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(format_size(bytes), text) << bytes;
}

TEST(SearchText, TrimAndLower) {
    EXPECT_EQ(trim(" \t\r\n word \v\f\r\n"), "word");
    EXPECT_EQ(trim("   "), "");
    EXPECT_EQ(trim("a b"), "a b");
    EXPECT_EQ(to_lower("AbC-\xC3\x89"), "abc-\xC3\x89");
}

TEST(SearchText, SnippetMarksFirstHit) {
    SearchRegex word;
    SearchRegex emptyMatch;
    std::string error;
    ASSERT_TRUE(word.compile("wor+ld", error));
    ASSERT_TRUE(emptyMatch.compile("x*", error));
    EXPECT_EQ(make_snippet("Hello WORLD here", "World", nullptr, true, false), "Hello [MATCH]WORLD[/MATCH] here");
    EXPECT_EQ(make_snippet("say hello", "o", &word, true, true), "say hell[MATCH]o[/MATCH]");
    EXPECT_EQ(make_snippet("a World b world", "zzz", &word, true, true), "a [MATCH]World[/MATCH] b world");
    EXPECT_EQ(make_snippet("abc", "", &emptyMatch, false, true), "[MATCH][/MATCH]abc");
    EXPECT_EQ(make_snippet("abc", "", nullptr, true, false), "abc");
}

TEST_F(SearchEngine, NameFiltersOnTheWalk) {
    write("notes.txt", "n");
    write("a.txt.bak", "b");
    write("abc", "1");
    write("ac", "2");
    write("abbc", "3");
    write("readme.md", "r");
    write("sub/deep/LOUD.TXT", "d");
    Options o = options_for_root();

    o.filenamePattern = "*.TXT";
    Search s = run(o);
    EXPECT_EQ(names(s), (std::set<std::string>{"notes.txt", "LOUD.TXT"}));
    EXPECT_EQ(s.candidates, 2u);
    EXPECT_EQ(s.errors, "");

    o.filenamePattern = "a?c";
    EXPECT_EQ(names(run(o)), (std::set<std::string>{"abc"}));

    o.filenamePattern = "";
    EXPECT_EQ(run(o).candidates, 7u);

    o.filenamePattern = "*";
    o.useFilenameRegex = true;
    o.filenameRegex = "^A.*C$";
    EXPECT_EQ(names(run(o)), (std::set<std::string>{"abc", "ac", "abbc"}));

    // The name regex searches anywhere in the name; an empty one matches everything.
    o.filenameRegex = "DEEP|loud";
    EXPECT_EQ(names(run(o)), (std::set<std::string>{"LOUD.TXT"}));
    o.filenameRegex = "";
    EXPECT_EQ(run(o).candidates, 7u);

    o.useFilenameRegex = false;
    o.recursive = false;
    EXPECT_EQ(run(o).candidates, 6u);
}

TEST_F(SearchEngine, ResultPathsStartWithTheRootAsEntered) {
    write("sub/f.txt", "x");
    Options o = options_for_root();
    o.rootPath = root_.string() + "/sub/..";
    const Search s = run(o);
    ASSERT_EQ(s.results.size(), 1u);
    EXPECT_EQ(s.results[0].path, fs::path(o.rootPath) / "sub" / "f.txt");
    EXPECT_EQ(s.results[0].size, 1u);
    EXPECT_FALSE(s.results[0].contentMatched);
    EXPECT_EQ(s.results[0].firstMatchLine, 0u);
}

TEST_F(SearchEngine, ContentSubstringAndExpression) {
    write("a.txt", "first line\nHello WORLD here\nworld again\n");
    write("b.txt", "nothing\r\nthe world\r\n");
    write("empty.txt", "");
    write("c.txt", "no match at all");
    Options o = options_for_root();
    o.useContentPattern = true;
    o.contentPattern = "World";
    Search s = run(o);
    ASSERT_EQ(names(s), (std::set<std::string>{"a.txt", "b.txt"}));
    for (const MatchInfo& m : s.results) {
        EXPECT_TRUE(m.contentMatched);
        if (m.path.filename() == "a.txt") {
            EXPECT_EQ(m.firstMatchLine, 2u);
            EXPECT_EQ(m.snippet, "Hello [MATCH]WORLD[/MATCH] here");
        } else {
            // The carriage return before the line feed stays in the line.
            EXPECT_EQ(m.firstMatchLine, 2u);
            EXPECT_EQ(m.snippet, "the [MATCH]world[/MATCH]\r");
        }
    }

    // Both filters: a line must pass both, and the expression's hit is marked.
    o.useContentRegex = true;
    o.contentRegex = "ag+ain";
    s = run(o);
    ASSERT_EQ(s.results.size(), 1u);
    EXPECT_EQ(s.results[0].firstMatchLine, 3u);
    EXPECT_EQ(s.results[0].snippet, "world [MATCH]again[/MATCH]");

    // An expression that matches empty text passes every line, never an empty file.
    o.useContentPattern = false;
    o.contentRegex = "x*";
    s = run(o);
    EXPECT_EQ(names(s), (std::set<std::string>{"a.txt", "b.txt", "c.txt"}));
    for (const MatchInfo& m : s.results) {
        if (m.path.filename() == "c.txt") {
            EXPECT_EQ(m.snippet, "[MATCH][/MATCH]no match at all");
        }
    }
}

TEST_F(SearchEngine, MatchFileContentDirectly) {
    const fs::path f = write("last.txt", "one\ntwo\nlast without feed");
    Options o;
    std::string snippet = "stale";
    std::uint64_t line = 9;
    EXPECT_FALSE(match_file_content(f, o, nullptr, snippet, line));
    EXPECT_EQ(snippet, "");
    EXPECT_EQ(line, 0u);
    o.useContentPattern = true;
    o.contentPattern = "FEED";
    EXPECT_TRUE(match_file_content(f, o, nullptr, snippet, line));
    EXPECT_EQ(line, 3u);
    o.contentPattern = "";
    EXPECT_TRUE(match_file_content(f, o, nullptr, snippet, line));
    EXPECT_EQ(line, 1u);
    EXPECT_EQ(snippet, "one");
    EXPECT_FALSE(match_file_content(root_ / "missing", o, nullptr, snippet, line));
}

TEST_F(SearchEngine, SizeBoundsAreInclusive) {
    write("s10", std::string(10, 'a'));
    write("s20", std::string(20, 'a'));
    write("s30", std::string(30, 'a'));
    Options o = options_for_root();
    o.hasMinSize = true;
    o.minSizeBytes = 10;
    o.hasMaxSize = true;
    o.maxSizeBytes = 20;
    Search s = run(o);
    EXPECT_EQ(names(s), (std::set<std::string>{"s10", "s20"}));
    EXPECT_EQ(s.candidates, 3u);
    for (const MatchInfo& m : s.results) EXPECT_EQ(m.size, m.path.filename() == "s10" ? 10u : 20u);

    o.minSizeBytes = 21;
    EXPECT_TRUE(run(o).results.empty());
    o.hasMaxSize = false;
    EXPECT_EQ(names(run(o)), (std::set<std::string>{"s30"}));
}

TEST_F(SearchEngine, WorkerCount) {
    for (int i = 0; i < 5; ++i) write("f" + std::to_string(i), "x");
    Options o = options_for_root();
    o.hasThreads = true;
    o.threads = 64;
    Search s = run(o);
    EXPECT_EQ(s.threads, 5u);
    EXPECT_EQ(s.results.size(), 5u);

    const unsigned hw = std::thread::hardware_concurrency() == 0 ? 4 : std::thread::hardware_concurrency();
    o.threads = 0;
    EXPECT_EQ(run(o).threads, std::min(hw, 5u));
    o.hasThreads = false;
    o.threads = 1;
    EXPECT_EQ(run(o).threads, std::min(hw, 5u));

    // A worker count loaded from a hostile last-values file stays within memory.
    for (int i = 5; i < 300; ++i) write("f" + std::to_string(i), "x");
    o.hasThreads = true;
    o.threads = 4000000000u;
    s = run(o);
    EXPECT_EQ(s.results.size(), 300u);
    EXPECT_GE(s.threads, 1u);
    EXPECT_LE(s.threads, 256u);

    o.filenamePattern = "nothing*";
    s = run(o);
    EXPECT_EQ(s.candidates, 0u);
    EXPECT_EQ(s.threads, 0u);
    EXPECT_GE(s.elapsed, 0.0);
    EXPECT_TRUE(s.results.empty());
}

TEST_F(SearchEngine, ManyFilesManyWorkersEachFileOnce) {
    for (int i = 0; i < 300; ++i)
        write("d" + std::to_string(i % 7) + "/f" + std::to_string(i), "needle " + std::to_string(i));
    Options o = options_for_root();
    o.useContentPattern = true;
    o.contentPattern = "NEEDLE";
    o.hasThreads = true;
    o.threads = 16;
    const Search s = run(o);
    EXPECT_EQ(s.candidates, 300u);
    EXPECT_EQ(s.threads, 16u);
    std::set<fs::path> seen;
    for (const MatchInfo& m : s.results) seen.insert(m.path);
    EXPECT_EQ(seen.size(), 300u);
    EXPECT_EQ(s.results.size(), 300u);
}

// Root reads every folder; the check then runs as an unprivileged user in a child process.
bool run_unprivileged(const std::function<bool()>& check) {
    if (geteuid() != 0) return check();
    bool passed = false;
    EXPECT_EXIT(
        {
            if (setgid(65534) != 0 || setuid(65534) != 0) std::_Exit(2);
            std::_Exit(check() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    passed = !testing::Test::HasFailure();
    return passed;
}

TEST_F(SearchEngine, FolderWithoutPermissionIsSkipped) {
    write("open/a.txt", "x");
    write("closed/b.txt", "x");
    write("shut/c.txt", "x");
    fs::permissions(root_, fs::perms::all);
    fs::permissions(root_ / "open", fs::perms::all);
    fs::permissions(root_ / "closed", fs::perms::none);
    fs::permissions(root_ / "shut", fs::perms::owner_all | fs::perms::others_exec);
    const Options o = options_for_root();
    // Standard error stays uncaptured in the child: gtest already holds it there.
    const bool capture = geteuid() != 0;
    run_unprivileged([&] {
        Search s;
        Search c;
        Options closedRoot = o;
        closedRoot.rootPath = (root_ / "closed").string();
        if (capture) {
            s = run(o);
            c = run(closedRoot);
        } else {
            s.results = search_files(o, s.candidates, s.threads, s.elapsed);
            c.results = search_files(closedRoot, c.candidates, c.threads, c.elapsed);
        }
        const bool ok =
            names(s) == std::set<std::string>{"a.txt"} && s.errors.empty() && c.candidates == 0 && c.errors.empty();
        EXPECT_TRUE(ok);
        return ok;
    });
}

TEST_F(SearchEngine, RootAndExpressionErrors) {
    const fs::path file = write("plain.txt", "x");
    Options o = options_for_root();

    o.rootPath = "";
    Search s = run(o);
    EXPECT_EQ(s.errors, "[ERROR] Path does not exist: \n");
    EXPECT_EQ(s.candidates, 0u);
    EXPECT_EQ(s.threads, 0u);
    EXPECT_EQ(s.elapsed, 0.0);

    o.rootPath = (root_ / "missing").string();
    EXPECT_EQ(run(o).errors, "[ERROR] Path does not exist: " + o.rootPath + "\n");

    o.rootPath = file.string();
    EXPECT_EQ(run(o).errors, "[ERROR] Path is not a directory: " + o.rootPath + "\n");

    // A root from the last-values file may hold any byte: the terminal gets it escaped, the screen raw.
    o.rootPath = (root_ / "gone\x1b[2J\n").string();
    std::string raw;
    testing::internal::CaptureStderr();
    search_files(o, s.candidates, s.threads, s.elapsed, &raw);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[ERROR] Path does not exist: " + (root_ / "gone").string() + "\\x1b[2J\\x0a\n");
    EXPECT_EQ(raw, "[ERROR] Path does not exist: " + o.rootPath);

    o = options_for_root();
    o.useContentRegex = true;
    o.contentRegex = "(";
    o.useFilenameRegex = true;
    o.filenameRegex = "[";
    s = run(o);
    EXPECT_EQ(s.errors.rfind("[ERROR] Invalid --regex pattern: ", 0), 0u) << s.errors;
    EXPECT_EQ(s.errors.find("--regex-filename"), std::string::npos);
    EXPECT_EQ(std::count(s.errors.begin(), s.errors.end(), '\n'), 1);
    EXPECT_TRUE(s.results.empty());

    o.useContentRegex = false;
    s = run(o);
    EXPECT_EQ(s.errors.rfind("[ERROR] Invalid --regex-filename pattern: ", 0), 0u) << s.errors;
    EXPECT_EQ(s.candidates, 0u);

    // Every error line reaches the caller too, exactly as written; a search that runs clears it.
    const Options failing[] = {[&] {
                                   Options e = options_for_root();
                                   e.rootPath = (root_ / "missing").string();
                                   return e;
                               }(),
                               [&] {
                                   Options e = options_for_root();
                                   e.rootPath = file.string();
                                   return e;
                               }(),
                               o,
                               [&] {
                                   Options e = options_for_root();
                                   e.useContentRegex = true;
                                   e.contentRegex = "a{2,1}";
                                   return e;
                               }()};
    for (const Options& e : failing) {
        std::string line = "stale";
        std::uint64_t candidates = 0;
        std::uint32_t threads = 0;
        double elapsed = 0;
        testing::internal::CaptureStderr();
        search_files(e, candidates, threads, elapsed, &line);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), line + "\n");
        EXPECT_EQ(line.rfind("[ERROR] ", 0), 0u) << line;
    }
    std::string line = "stale";
    std::uint64_t candidates = 0;
    std::uint32_t threads = 0;
    double elapsed = 0;
    search_files(options_for_root(), candidates, threads, elapsed, &line);
    EXPECT_EQ(line, "");
}

TEST_F(SearchEngine, DeeplyNestedExpressionsOnLongNamesAndLines) {
    const std::string nested = std::string(240, '(') + "a|b" + std::string(240, ')') + "*c";
    write(std::string(250, 'a'), std::string(100000, 'a') + "\n");
    write(std::string(249, 'a') + "c", "ab\n");
    Options o = options_for_root();
    o.useFilenameRegex = true;
    o.filenameRegex = nested;
    Search s = run(o);
    EXPECT_EQ(s.candidates, 1u);
    EXPECT_EQ(s.errors, "");

    o.useFilenameRegex = false;
    o.useContentRegex = true;
    o.contentRegex = nested;
    s = run(o);
    EXPECT_EQ(s.candidates, 2u);
    EXPECT_TRUE(s.results.empty());
    EXPECT_EQ(s.errors, "");
}

TEST_F(SearchEngine, ResultsHoldLittleBeyondTheirPaths) {
    constexpr int kFiles = 20000;
    std::size_t pathBytes = 0;
    for (int d = 0; d < 20; ++d) {
        const fs::path dir = root_ / ("folder" + std::to_string(d));
        fs::create_directories(dir);
        for (int i = 0; i < kFiles / 20; ++i) {
            const fs::path file = dir / ("file" + std::to_string(i));
            close(open(file.c_str(), O_WRONLY | O_CREAT, 0600));
            pathBytes += file.native().size();
        }
    }
    const Options o = options_for_root();
    const std::size_t before = mallinfo2().uordblks + mallinfo2().hblkhd;
    const Search s = run(o);
    const std::size_t held = mallinfo2().uordblks + mallinfo2().hblkhd - before;
    ASSERT_EQ(s.results.size(), static_cast<std::size_t>(kFiles));
    // The result itself and its path's text, not a parsed path beside it.
    EXPECT_LT(held, pathBytes + kFiles * (sizeof(MatchInfo) + 64)) << held / kFiles << " bytes per result";
}
