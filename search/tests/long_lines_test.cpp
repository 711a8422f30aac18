// Content search on long lines, huge files and deep trees, against grep -P.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "engine.h"
#include "fd.h"
#include "line_scan.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct Found {
    std::vector<MatchInfo> results;
    std::uint64_t candidates = 0;
    std::string errors;
};

Found search(const Options& options) {
    Found f;
    std::uint32_t threads = 0;
    double elapsed = 0;
    testing::internal::CaptureStderr();
    f.results = search_files(options, f.candidates, threads, elapsed);
    f.errors = testing::internal::GetCapturedStderr();
    return f;
}

std::set<std::string> paths(const Found& f) {
    std::set<std::string> out;
    for (const MatchInfo& m : f.results) out.insert(m.path.string());
    return out;
}

std::set<std::string> command_lines(const std::string& command) {
    std::set<std::string> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    std::string line;
    for (int c; (c = std::fgetc(pipe)) != EOF;) {
        if (c != '\n') {
            line += static_cast<char>(c);
            continue;
        }
        out.insert(line);
        line.clear();
    }
    pclose(pipe);
    return out;
}

std::uint64_t status_kib(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::string(field).size()));
    return 0;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A file of the given size, all zero bytes but for text at offset.
void write_sparse(const std::filesystem::path& file, off_t size, off_t offset, const std::string& text) {
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    ASSERT_EQ(pwrite(fd, text.data(), text.size(), offset), static_cast<ssize_t>(text.size()));
    close(fd);
}

class LongLines : public TempTree {
protected:
    Options content(const std::string& regex) const {
        Options o;
        o.rootPath = root_.string();
        o.useContentRegex = true;
        o.contentRegex = regex;
        return o;
    }
};

}  // namespace

TEST_F(LongLines, EveryLineIsTestedWhole) {
    write("far.txt", "short\n" + std::string(20000, 'x') + "needle at the end\n");
    write("digits.txt", std::string(10000, '7') + "x\n");
    write("crlf.txt", std::string(10000, '7') + "\r\n");
    write("last.txt", "one\n" + std::string(300000, '5'));
    struct Case {
        const char* regex;
        std::set<std::string> files;
        std::uint64_t line;
    };
    const Case cases[] = {
        {"needle.*", {"far.txt"}, 2},
        {"\\d+$", {"last.txt"}, 2},
        {"^\\d+\\r$", {"crlf.txt"}, 1},
    };
    for (const Case& c : cases) {
        const Found f = search(content(c.regex));
        std::set<std::string> names;
        for (const MatchInfo& m : f.results) {
            names.insert(m.path.filename().string());
            EXPECT_EQ(m.firstMatchLine, c.line) << c.regex;
        }
        EXPECT_EQ(names, c.files) << c.regex;
        EXPECT_EQ(f.errors, "") << c.regex;
    }
    const Found far = search(content("needle.*"));
    ASSERT_EQ(far.results.size(), 1u);
    EXPECT_EQ(far.results[0].snippet, std::string(20000, 'x') + "[MATCH]needle at the end[/MATCH]");
}

TEST_F(LongLines, LineNumbersAndLinesAcrossBlocks) {
    // Many blocks of short lines, a line longer than a block, then the hit.
    std::string text;
    for (int i = 0; i < 60000; ++i) text += "line " + std::to_string(i) + "\n";
    text += std::string(700000, 'w') + "\n";
    text += "tail Needle_here\r\n";
    write("many.txt", text);
    Options substring;
    substring.rootPath = root_.string();
    substring.useContentPattern = true;
    substring.contentPattern = "needle_";
    const struct {
        const char* what;
        Options options;
        const char* snippet;
    } cases[] = {
        {"substring", substring, "tail [MATCH]Needle_[/MATCH]here\r"},
        {"expression", content("nee+dle_h"), "tail [MATCH]Needle_h[/MATCH]ere\r"},
        {"both", [&] {
             Options o = content("[a-z]+\r$");
             o.useContentPattern = true;
             o.contentPattern = "needle";
             return o;
         }(),
         "tail Needle_[MATCH]here\r[/MATCH]"},
        {"every line a candidate", content("^t.*\r$"), "[MATCH]tail Needle_here\r[/MATCH]"},
    };
    for (const auto& c : cases) {
        const Found f = search(c.options);
        ASSERT_EQ(f.results.size(), 1u) << c.what;
        EXPECT_EQ(f.results[0].firstMatchLine, 60002u) << c.what;
        EXPECT_EQ(f.results[0].snippet, c.snippet) << c.what;
    }
    const Found longLine = search(content("^w+$"));
    ASSERT_EQ(longLine.results.size(), 1u);
    EXPECT_EQ(longLine.results[0].firstMatchLine, 60001u);
}

TEST_F(LongLines, TenMegabyteLineWithBacktrackingExpressionMatches) {
    std::string line;
    line.reserve(10u << 20);
    while (line.size() < (10u << 20)) line += "ab";
    write("hit.txt", "first\n" + line + "c\n");
    const Found f = search(content("(a|b)*c"));
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].firstMatchLine, 2u);
    // The snippet holds the line's first 64 KiB, all of it inside the match.
    EXPECT_EQ(f.results[0].snippet, "[MATCH]" + line.substr(0, 65536) + "[/MATCH]");
    EXPECT_EQ(f.errors, "");
}

TEST_F(LongLines, CostlyLineWarnsOnceAndTheSearchGoesOn) {
    write("bad.txt", "fine\n" + std::string(30, 'a') + "!\n" + std::string(30, 'a') + "!\n");
    write("good.txt", "aaaa\n");
    const Found f = search(content("^(a+)+$"));
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].path.filename(), "good.txt");
    const std::string bad = (root_ / "bad.txt").string();
    EXPECT_EQ(f.errors, "[WARN] --regex on line 2 too costly to test, taken as not matching: " + bad + "\n" +
                            "[WARN] --regex on line 3 too costly to test, taken as not matching: " + bad + "\n");
}

TEST_F(LongLines, NestedGroupsFromAnyWhereAreAnErrorNotACrash) {
    write("a.txt", "a\n");
    Options o = content(std::string(20000, '(') + "a" + std::string(20000, ')'));
    for (int round = 0; round < 2; ++round) {
        const Found f = search(o);
        EXPECT_TRUE(f.results.empty());
        EXPECT_EQ(f.errors.rfind("[ERROR] Invalid --regex pattern: parentheses are too deeply nested", 0), 0u)
            << f.errors;
    }
    o.useContentRegex = false;
    o.useFilenameRegex = true;
    o.filenameRegex = std::string(20000, '(');
    EXPECT_EQ(search(o).errors.rfind("[ERROR] Invalid --regex-filename pattern: ", 0), 0u);
}

// Lines of 1 KB to 1 MB over a small alphabet, so that the expressions meet often.
TEST_F(LongLines, SameFilesAsGrepPerl) {
    if (std::system("echo a | LC_ALL=C grep -qP 'a(?=$)' 2>/dev/null") != 0) GTEST_SKIP() << "no grep -P";
    std::mt19937 rng(7);
    const std::string alphabet = "abcdefgh xyzQ0123_-.";
    for (int f = 0; f < 40; ++f) {
        std::string text;
        const int lines = 1 + static_cast<int>(rng() % 4);
        for (int l = 0; l < lines; ++l) {
            const std::size_t length = std::size_t{1024} << (rng() % 11);  // 1 KB .. 1 MB
            for (std::size_t i = 0; i < length; ++i) text += alphabet[rng() % alphabet.size()];
            if (rng() % 3 == 0) text += (rng() % 2 ? "Foo" : "bar") + std::string(rng() % 2 ? "\r" : "");
            text += '\n';
        }
        write("d" + std::to_string(f % 4) + "/f" + std::to_string(f), text);
    }
    const char* const expressions[] = {"foo.*bar",   "\\d{4}$",       "^[a-h]",  "bar\\r?$",    "q[0-3]+_",
                                       "(ab|cd){2}", "\\bx+y\\b",     "FOO\\r$", "z{3,}",      "h(?=g\\.)",
                                       "[^a-z]{6}",  "(a|b)*cde",     "0[0-9]1", "(?<=_)x..y", "ab.{100}ba",
                                       "zq",         "h-q"};
    for (const char* expression : expressions) {
        const Found f = search(content(expression));
        const std::set<std::string> grep =
            command_lines("LC_ALL=C grep -rlPi -e '" + std::string(expression) + "' '" + root_.string() + "'");
        EXPECT_EQ(paths(f), grep) << expression;
        EXPECT_EQ(f.errors, "") << expression;
    }
    Options substring;
    substring.rootPath = root_.string();
    substring.useContentPattern = true;
    for (const char* text : {"fOo", "q0", "bar\r", "xyz_-."}) {
        substring.contentPattern = text;
        const std::set<std::string> grep = command_lines("LC_ALL=C grep -rliF -e \"$(printf '" + std::string(text) +
                                                         "')\" '" + root_.string() + "'");
        EXPECT_EQ(paths(search(substring)), grep) << text;
    }
}

TEST_F(LongLines, GigabyteWithoutLineFeedsKeepsSubstringSearchSmall) {
    {
        const int fd = open((root_ / "disk.img").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);  // sparse: a gigabyte of zero bytes
        ASSERT_EQ(pwrite(fd, "almost a needl", 14, (off_t{1} << 30) - 14), 14);
        close(fd);
    }
    Options o;
    o.rootPath = root_.string();
    o.useContentPattern = true;
    o.contentPattern = "needle";
    std::ofstream("/proc/self/clear_refs") << "5";  // restart the peak from here
    const std::uint64_t before = status_kib("VmRSS:");
    const Found f = search(o);
    const std::uint64_t peak = status_kib("VmHWM:");
    EXPECT_EQ(f.candidates, 1u);
    EXPECT_TRUE(f.results.empty());
    EXPECT_LT(peak - std::min(peak, before), 100u << 10) << "peak " << peak << " KiB, before " << before << " KiB";
}

TEST_F(LongLines, PathsLongerThanTheSystemLimitAreFound) {
    // Made one folder at a time: the whole path is too long for one system call.
    const std::string part(200, 'p');
    int dir = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    std::string expected = root_.string();
    for (int depth = 0; depth < 25; ++depth) {
        ASSERT_EQ(mkdirat(dir, part.c_str(), 0700), 0);
        const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
        close(dir);
        ASSERT_GE(next, 0);
        dir = next;
        expected += "/" + part;
    }
    const int file = openat(dir, "deep.txt", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::write(file, "hay\nneedle\n", 11), 11);
    close(file);
    close(dir);
    expected += "/deep.txt";
    ASSERT_GT(expected.size(), 5000u);

    Options o;
    o.rootPath = root_.string();
    o.filenamePattern = "DEEP.*";
    Found f = search(o);
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].path.string(), expected);
    EXPECT_EQ(f.results[0].size, 11u);

    o.useContentPattern = true;
    o.contentPattern = "needle";
    f = search(o);
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].firstMatchLine, 2u);
    EXPECT_EQ(f.results[0].snippet, "[MATCH]needle[/MATCH]");

    // The library's removal gives up on such paths.
    EXPECT_EQ(std::system(("rm -rf '" + (root_ / part).string() + "'").c_str()), 0);
}

TEST_F(LongLines, HugeLineHoldingTheHitGivesABoundedSnippetOrOneWarning) {
    // 80 MiB of zero bytes and no line feed, the hit in the middle.
    const off_t size = off_t{80} << 20;
    const off_t at = off_t{40} << 20;
    write_sparse(root_ / "huge.img", size, at, "the Needle here");
    write("small.txt", "a needle\n");
    Options o;
    o.rootPath = root_.string();
    o.useContentPattern = true;
    o.contentPattern = "needle";
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::uint64_t before = status_kib("VmRSS:");
    Found f = search(o);
    const std::uint64_t peak = status_kib("VmHWM:");
    EXPECT_LT(peak - std::min(peak, before), 100u << 10) << "peak " << peak << " KiB, before " << before << " KiB";
    EXPECT_EQ(f.errors, "");
    ASSERT_EQ(paths(f).size(), 2u);
    for (const MatchInfo& m : f.results) {
        EXPECT_EQ(m.firstMatchLine, 1u);
        if (m.path.filename() != "huge.img") continue;
        // The bytes around the hit only: a little before it, the rest after it.
        const std::string expected =
            std::string(252, '\0') + "the [MATCH]Needle[/MATCH] here" + std::string(65536 - 252 - 15, '\0');
        EXPECT_TRUE(m.snippet == expected) << "snippet of " << m.snippet.size() << " bytes, hit marked at "
                                           << m.snippet.find("[MATCH]");
    }

    // An expression must see the line whole: too long to hold, one warning, the rest found.
    o.useContentPattern = false;
    o.useContentRegex = true;
    o.contentRegex = "nee+dle";
    f = search(o);
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].path.filename(), "small.txt");
    EXPECT_EQ(f.errors, "[WARN] --regex on line 1 longer than 64 MiB, the file taken as not matching: " +
                            (root_ / "huge.img").string() + "\n");
}

TEST_F(LongLines, LinesThatCannotMatchAreNeverTestedWhateverTheirLength) {
    // Without the pre-filter the expression gives up on these lines, with a warning each.
    write("x.txt", std::string(1u << 20, 'x') + "\n" + "xxy\n");
    write_sparse(root_ / "zeros.img", off_t{70} << 20, 0, "xx");
    const Found f = search(content("(x|x)+y"));
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].firstMatchLine, 2u);
    EXPECT_EQ(f.results[0].snippet, "[MATCH]xxy[/MATCH]");
    EXPECT_EQ(f.errors, "");
}

TEST_F(LongLines, TooMuchWorkInOneFileGivesUpItsRestWithOneWarning) {
    std::string hostile;
    for (int i = 0; i < 2000; ++i) hostile += std::string(30, 'a') + "!\n";
    write("hostile.txt", hostile + "aaaa\n");
    write("good.txt", "aaaa\n");
    const Found f = search(content("(a|a)+$"));
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].path.filename(), "good.txt");
    const std::vector<std::string> warnings = lines_of(f.errors);
    ASSERT_EQ(warnings.size(), kFileBudgetLines + 1);
    for (std::size_t i = 0; i < kFileBudgetLines; ++i)
        EXPECT_EQ(warnings[i].rfind("[WARN] --regex on line " + std::to_string(i + 1) + " too costly", 0), 0u);
    EXPECT_EQ(warnings.back(), "[WARN] --regex too costly to test after line " + std::to_string(kFileBudgetLines) +
                                   ", the rest of the file taken as not matching: " +
                                   (root_ / "hostile.txt").string());
}

namespace {
// Which files the seam below troubles, by inode.
ino_t shrinking = 0;
ino_t failing = 0;
ino_t throwing = 0;
std::string shrinkingPath;

ssize_t troubled_read(int fd, void* data, std::size_t size, bool* failed) {
    struct stat st {};
    fstat(fd, &st);
    const bool pastFirst = lseek(fd, 0, SEEK_CUR) > 0;
    if (pastFirst && st.st_ino == shrinking) truncate(shrinkingPath.c_str(), 100);
    if (pastFirst && st.st_ino == failing) {
        *failed = true;
        errno = EIO;
        return -1;
    }
    if (st.st_ino == throwing) throw std::runtime_error("boom");
    return platform::read_full(fd, data, size, failed);
}
}  // namespace

TEST_F(LongLines, TroubleInOneFileStaysThere) {
    // Several blocks each, the hit at the end: the trouble comes before it.
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "line " + std::to_string(i) + "\n";
    text += "needle\n";
    const auto inode = [](const fs::path& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return st.st_ino;
    };
    shrinkingPath = write("shrinks.txt", text).string();
    shrinking = inode(shrinkingPath);
    failing = inode(write("fails.txt", text));
    throwing = inode(write("throws.txt", text));
    write("good.txt", text);
    line_scan_read = troubled_read;
    Options o;
    o.rootPath = root_.string();
    o.useContentPattern = true;
    o.contentPattern = "needle";
    const Found f = search(o);
    line_scan_read = platform::read_full;
    ASSERT_EQ(f.results.size(), 1u);
    EXPECT_EQ(f.results[0].path.filename(), "good.txt");
    EXPECT_EQ(f.results[0].firstMatchLine, 100001u);
    std::vector<std::string> warnings = lines_of(f.errors);
    std::sort(warnings.begin(), warnings.end());
    ASSERT_EQ(warnings.size(), 3u) << f.errors;
    EXPECT_EQ(warnings[0], "[WARN] Cannot search file (boom), taken as not matching: " + (root_ / "throws.txt").string());
    EXPECT_EQ(warnings[1], "[WARN] File changed while searched, taken as not matching: " + shrinkingPath);
    // Counted up to where the reading stopped, not from the start again.
    const std::string readError = "[WARN] Read error after line ";
    const std::string tail = ", taken as not matching: " + (root_ / "fails.txt").string();
    ASSERT_EQ(warnings[2].rfind(readError, 0), 0u) << warnings[2];
    ASSERT_GT(warnings[2].size(), readError.size() + tail.size());
    EXPECT_EQ(warnings[2].substr(warnings[2].size() - tail.size()), tail);
    const std::uint64_t linesRead = std::stoull(warnings[2].substr(readError.size()));
    EXPECT_GT(linesRead, 0u);
    EXPECT_LT(linesRead, 100000u);
}
