#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <regex>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"
#include "wipe_engine.h"

using namespace vornix;

namespace fs = std::filesystem;

namespace {
constexpr std::uint64_t kBlock = 4096;

TEST(WipeFile, PassesAlternateZerosAndRandomData) {
    for (std::uint64_t passes : {1u, 2u, 3u, 4u}) {
        TempDir dir;
        LogCapture log;
        const fs::path file = dir.path / "secret.bin";
        const std::string original(3 * kBlock + 123, 'S');
        write_file(file, original);
        const Watch watch(file);

        EXPECT_TRUE(wipe_file(file, passes, kBlock, false)) << passes;
        EXPECT_FALSE(fs::exists(file));
        const std::string after = watch.content();
        ASSERT_EQ(after.size(), original.size()) << passes;
        if (passes % 2 == 1)
            EXPECT_TRUE(all_zero(after)) << passes;
        else
            EXPECT_TRUE(looks_random(after)) << passes;
        const std::vector<std::string> want = {
            "Preparing to overwrite: " + file.string() + " (" + std::to_string(original.size()) + " bytes)",
            "File overwritten and removed: " + file.string()};
        EXPECT_EQ(log.lines, want) << passes;
    }
}

TEST(WipeFile, RandomBlockTakesLowHalfOfEachOutputLittleEndian) {
    std::mt19937_64 gen(12345), reference(12345);
    unsigned char block[16] = {};
    fill_random_block(block, 5, gen);
    const auto first = static_cast<std::uint32_t>(reference());
    const auto second = static_cast<std::uint32_t>(reference());
    EXPECT_EQ(block[0], first & 0xff);
    EXPECT_EQ(block[1], (first >> 8) & 0xff);
    EXPECT_EQ(block[2], (first >> 16) & 0xff);
    EXPECT_EQ(block[3], first >> 24);
    EXPECT_EQ(block[4], second & 0xff);
    EXPECT_EQ(block[5], 0);
    // The partial group used up a whole output.
    EXPECT_EQ(gen(), reference());

    fill_random_block(block, 0, gen);
    EXPECT_EQ(gen(), reference());
    fill_random_block(block, 8, gen);
    reference();
    reference();
    EXPECT_EQ(gen(), reference());
}

TEST(WipeFile, FiveByteFileWithTwoPasses) {
    TempDir dir;
    LogCapture log;
    const fs::path file = dir.path / "five";
    write_file(file, "hello");
    const Watch watch(file);
    EXPECT_TRUE(wipe_file(file, 2, kBlock, false));
    EXPECT_EQ(watch.content().size(), 5u);
    EXPECT_NE(watch.content(), "hello");
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "Preparing to overwrite: " + file.string() + " (5 bytes)");
    EXPECT_EQ(log.lines[1], "File overwritten and removed: " + file.string());
}

TEST(WipeFile, BlockPlusOneBytesIsWrittenWhole) {
    TempDir dir;
    LogCapture log;
    const fs::path file = dir.path / "edge";
    write_file(file, std::string(kBlock + 1, 'x'));
    const Watch watch(file);
    EXPECT_TRUE(wipe_file(file, 3, kBlock, false));
    const std::string after = watch.content();
    EXPECT_EQ(after.size(), kBlock + 1);
    EXPECT_TRUE(all_zero(after));
}

TEST(WipeFile, EmptyFileIsRemovedWithoutPasses) {
    TempDir dir;
    LogCapture log;
    const fs::path file = dir.path / "empty";
    write_file(file, "");
    EXPECT_TRUE(wipe_file(file, 3, kBlock, false));
    EXPECT_FALSE(fs::exists(file));
    const std::vector<std::string> want = {"Preparing to overwrite: " + file.string() + " (0 bytes)",
                                           "Zero-length file removed: " + file.string()};
    EXPECT_EQ(log.lines, want);
}

TEST(WipeFile, DryRunAndNonRegularPathsChangeNothing) {
    TempDir dir;
    LogCapture log;
    const fs::path file = dir.path / "keep";
    write_file(file, "data");
    EXPECT_TRUE(wipe_file(file, 1, kBlock, true));
    EXPECT_EQ(read_file(file), "data");
    EXPECT_FALSE(wipe_file(dir.path, 1, kBlock, false));
    EXPECT_FALSE(wipe_file(dir.path / "missing", 1, kBlock, false));
    const std::vector<std::string> want = {"[DRY] Preparing to overwrite: " + file.string() + " (4 bytes)",
                                           "Skipping non-regular file: " + dir.path.string(),
                                           "Skipping non-regular file: " + (dir.path / "missing").string()};
    EXPECT_EQ(log.lines, want);
}

TEST(WipeTarget, SingleFileMissingTargetAndEmptyFolder) {
    TempDir dir;
    LogCapture log;
    const fs::path file = dir.path / "one.txt";
    write_file(file, "abc");
    wipe_target(file, 1, kBlock, false);
    EXPECT_FALSE(fs::exists(file));
    wipe_target(dir.path / "nope", 1, kBlock, false);
    wipe_target(dir.path / "nope" / "deeper", 1, kBlock, false);
    const fs::path empty = dir.path / "empty";
    fs::create_directory(empty);
    wipe_target(empty, 1, kBlock, false);
    EXPECT_FALSE(fs::exists(empty));
    const std::vector<std::string> want = {
        "Preparing to overwrite: " + file.string() + " (3 bytes)",
        "File overwritten and removed: " + file.string(),
        "Path does not exist: " + (dir.path / "nope").string(),
        "Path does not exist: " + (dir.path / "nope" / "deeper").string(),
        "Directory tree removed: " + empty.string(),
    };
    EXPECT_EQ(log.lines, want);
}

// "x/sub/.." names x by no name of its own: the engine does not start,
// rather than empty x and fail to remove it at the end.
TEST(WipeTarget, ParentFolderFormIsNotWiped) {
    TempDir dir;
    fs::create_directories(dir.path / "x" / "sub");
    write_file(dir.path / "x" / "keep.txt", "keep");
    LogCapture log;
    for (const char* suffix : {"/x/sub/..", "/x/sub/../"})
        EXPECT_THROW(wipe_target(dir.path.string() + suffix, 1, kBlock, false), fs::filesystem_error) << suffix;
    EXPECT_EQ(read_file(dir.path / "x" / "keep.txt"), "keep");
    EXPECT_TRUE(fs::exists(dir.path / "x" / "sub"));
    EXPECT_TRUE(log.lines.empty());
}

struct Tree {
    fs::path root, outside;
    std::vector<fs::path> files;
    std::vector<Watch> watches;
};

// root/a.txt, root/sub/b.bin, root/sub/deep/c.txt, root/sub/deep/empty.txt,
// root/emptydir, root/link -> outside file, root/dirlink -> outside folder,
// root/sub/dangling -> nowhere.
Tree make_tree(const fs::path& base) {
    Tree t;
    t.root = base / "tree";
    t.outside = base / "outside";
    fs::create_directories(t.root / "sub" / "deep");
    fs::create_directories(t.root / "emptydir");
    fs::create_directories(t.outside);
    t.files = {t.root / "a.txt", t.root / "sub" / "b.bin", t.root / "sub" / "deep" / "c.txt"};
    int i = 0;
    for (const fs::path& f : t.files) {
        write_file(f, std::string(1000 + 700 * i, static_cast<char>('a' + i)));
        t.watches.emplace_back(f);
        ++i;
    }
    write_file(t.root / "sub" / "deep" / "empty.txt", "");
    write_file(t.outside / "precious.txt", "do not touch");
    fs::create_symlink(t.outside / "precious.txt", t.root / "link");
    fs::create_symlink(t.outside, t.root / "dirlink");
    fs::create_symlink(base / "gone", t.root / "sub" / "dangling");
    return t;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(WipeTarget, TreeIsOverwrittenAndRemovedLinksAreNotFollowed) {
    TempDir dir;
    const Tree t = make_tree(dir.path);
    LogCapture log;
    wipe_target(t.root, 1, kBlock, false);

    EXPECT_FALSE(fs::exists(t.root));
    for (int i = 0; i < 3; ++i) {
        const std::string after = t.watches[static_cast<std::size_t>(i)].content();
        EXPECT_EQ(after.size(), 1000u + 700u * static_cast<unsigned>(i));
        EXPECT_TRUE(all_zero(after)) << i;
    }
    EXPECT_EQ(read_file(t.outside / "precious.txt"), "do not touch");

    for (const fs::path& f : t.files) {
        EXPECT_TRUE(has_line(log.lines, "File overwritten and removed: " + f.string())) << f;
    }
    EXPECT_TRUE(has_line(log.lines, "Zero-length file removed: " + (t.root / "sub" / "deep" / "empty.txt").string()));
    // A link to a file is named; links to folders and dangling links pass silently.
    EXPECT_TRUE(has_line(log.lines, "Skipping non-regular file: " + (t.root / "link").string()));
    EXPECT_EQ(log.lines.back(), "Directory tree removed: " + t.root.string());
    // Four files with two lines each, the file link, the closing line.
    EXPECT_EQ(log.lines.size(), 10u);
}

// A name can hold any byte but '/' and NUL: its log line must stay one line
// that cannot drive the terminal.
TEST(WipeTarget, NamesAreEscapedInLogLines) {
    TempDir dir;
    const fs::path tree = dir.path / "tree\nVornix finished.";
    fs::create_directories(tree);
    const std::string tree_shown = dir.path.string() + "/tree\\x0aVornix finished.";
    const std::pair<std::string, std::string> names[] = {
        {"line\nVornix finished.", "line\\x0aVornix finished."},
        {"esc\x1b[2Jx", "esc\\x1b[2Jx"},
        {"tab\there", "tab\\x09here"},
        {"del\x7f", "del\\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"c1\xc2\x9bx", "c1\\xc2\\x9bx"},
        {"Fotos \xe2\x98\x85", "Fotos \xe2\x98\x85"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
    };
    for (const auto& [name, shown] : names) write_file(tree / name, "data");
    LogCapture log;
    wipe_target(tree, 1, kBlock, false);

    EXPECT_FALSE(fs::exists(tree));
    for (const auto& [name, shown] : names) {
        EXPECT_TRUE(has_line(log.lines, "Preparing to overwrite: " + tree_shown + "/" + shown + " (4 bytes)")) << shown;
        EXPECT_TRUE(has_line(log.lines, "File overwritten and removed: " + tree_shown + "/" + shown)) << shown;
    }
    EXPECT_EQ(log.lines.back(), "Directory tree removed: " + tree_shown);
    EXPECT_EQ(log.lines.size(), 2 * std::size(names) + 1);
    for (const std::string& line : log.lines) {
        EXPECT_EQ(line.find_first_of("\n\r\x1b\x7f"), std::string::npos) << line;
        EXPECT_EQ(line.find("\xc2\x9b"), std::string::npos) << line;
    }
}

TEST(WipeTarget, DryRunOverTreeChangesNothing) {
    TempDir dir;
    const Tree t = make_tree(dir.path);
    LogCapture log;
    wipe_target(t.root, 2, kBlock, true);
    EXPECT_TRUE(fs::exists(t.root / "emptydir"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(read_file(t.files[static_cast<std::size_t>(i)]),
                  std::string(1000 + 700 * i, static_cast<char>('a' + i)));
    int dry_lines = 0;
    for (const std::string& line : log.lines)
        if (line.rfind("[DRY] Preparing to overwrite: ", 0) == 0) ++dry_lines;
    EXPECT_EQ(dry_lines, 4);
    EXPECT_EQ(log.lines.back(), "[DRY] Directory removal skipped for: " + t.root.string());
}

TEST(WipeTarget, LinkAsTargetIsReportedAndLeftAlone) {
    TempDir dir;
    LogCapture log;
    write_file(dir.path / "real.txt", "keep me");
    fs::create_directory(dir.path / "realdir");
    write_file(dir.path / "realdir" / "inner.txt", "keep me too");
    fs::create_symlink(dir.path / "real.txt", dir.path / "file-link");
    fs::create_symlink(dir.path / "realdir", dir.path / "dir-link");
    fs::create_symlink(dir.path / "gone", dir.path / "dangling");
    // A trailing slash or "." makes the system look through the link; the link stays the target.
    const std::string dir_link = (dir.path / "dir-link").string();
    for (const std::string& name : {(dir.path / "file-link").string(), dir_link, (dir.path / "dangling").string(),
                                    dir_link + "/", dir_link + "//./"})
        wipe_target(name, 1, kBlock, false);
    EXPECT_EQ(read_file(dir.path / "real.txt"), "keep me");
    EXPECT_EQ(read_file(dir.path / "realdir" / "inner.txt"), "keep me too");
    EXPECT_TRUE(fs::is_symlink(dir_link));
    const std::vector<std::string> want = {
        "Skipping non-regular file: " + (dir.path / "file-link").string(), "Skipping non-regular file: " + dir_link,
        "Skipping non-regular file: " + (dir.path / "dangling").string(),
        "Skipping non-regular file: " + dir_link + "/", "Skipping non-regular file: " + dir_link + "//./"};
    EXPECT_EQ(log.lines, want);
}

// Permission checks do not bind root, so this part runs in a child that
// gives up root when it has it.
TEST(WipeTarget, UnreadableFolderAndUnwritableFile) {
    TempDir dir;
    const fs::path tree = dir.path / "tree";
    const fs::path locked = tree / "locked";
    const fs::path readonly = tree / "readonly.txt";
    const fs::path single = dir.path / "single-readonly.txt";
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        if (geteuid() == 0) {
            if (chown(dir.path.c_str(), 65534, 65534) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        }
        fs::create_directories(locked);
        write_file(locked / "hidden.txt", "inside the locked folder");
        write_file(readonly, "read only");
        write_file(single, "read only single");
        fs::permissions(readonly, fs::perms::owner_read);
        fs::permissions(single, fs::perms::owner_read);
        fs::permissions(locked, fs::perms::owner_write | fs::perms::owner_exec);
        std::string out;
        log_enabled = true;
        log_sink = [&out](const std::string& line) { out += line.substr(22) + "\n"; };
        wipe_target(tree, 1, kBlock, false);
        wipe_target(single, 1, kBlock, false);
        log_sink = nullptr;
        const ssize_t n = write(fds[1], out.data(), out.size());
        _exit(n == static_cast<ssize_t>(out.size()) ? 0 : 4);
    }
    close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot give up root here";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::string expected_start = "Preparing to overwrite: " + readonly.string() + " (9 bytes)\n" +
                                       "Failed to open for overwrite: " + readonly.string() + "\n" +
                                       "Could not remove directory tree: " + tree.string() + " (";
    EXPECT_EQ(out.rfind(expected_start, 0), 0u) << out;
    EXPECT_EQ(out.find("hidden.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("Failed to open for overwrite: " + single.string() + "\n"), std::string::npos) << out;
    EXPECT_EQ(read_file(single), "read only single");
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(read_file(locked / "hidden.txt"), "inside the locked folder");
}

TEST(WipeLog, LinesNeedASinkAndTheSwitch) {
    std::vector<std::string> got;
    log_sink = nullptr;
    log_enabled = true;
    log_line("no sink");
    log_sink = [&got](const std::string& line) { got.push_back(line); };
    log_enabled = false;
    log_line("switched off");
    EXPECT_TRUE(got.empty());
    log_enabled = true;
    log_line("Directory tree removed: x");
    log_enabled = false;
    log_sink = nullptr;
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(std::regex_match(got[0], std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] Directory tree removed: x)")))
        << got[0];
}

TEST(WipeLog, TimestampIsLocalTimeToTheSecond) {
    // The stamp's own clock: time() reads a coarser one that may lag by a tick.
    const auto clock_seconds = [] { return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()); };
    const std::time_t before = clock_seconds();
    const std::string stamp = now_timestamp();
    const std::time_t after = clock_seconds();
    ASSERT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << stamp;
    std::tm parsed{};
    ASSERT_NE(strptime(stamp.c_str(), "%Y-%m-%d %H:%M:%S", &parsed), nullptr);
    parsed.tm_isdst = -1;
    const std::time_t t = std::mktime(&parsed);
    EXPECT_GE(t, before);
    EXPECT_LE(t, after);
}

TEST(WipeText, TrimStripsOnlySpaceTabCrLf) {
    const std::pair<std::string, std::string> cases[] = {
        {" \tpath\r\n", "path"}, {"", ""},           {" \t\r\n", ""}, {"\vpath\f", "\vpath\f"},
        {"a b", "a b"},          {"  a b  ", "a b"}, {"x", "x"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(trim(in), want) << '"' << in << '"';
}

TEST(WipeText, UnsafePaths) {
    const std::pair<std::string, bool> cases[] = {
        {"C:\\", true},
        {"c:/", true},
        {"Q:\\", true},
        {"C:", false},
        {"C:\\Data", false},
        {"D:\\Windows", false},
        {"C:\\WINDOWS\\Temp", true},
        {"c:\\windowsold", true},
        {"\\Windows\\System32", true},
        {"\\\\.\\PhysicalDrive0", true},
        {"\\\\?\\C:\\Windows", false},
        {"/", true},
        {"//", true},
        {"/./", true},
        {"/etc", true},
        {"/etc/", true},
        {"//etc//passwd", true},
        {"/./usr/./lib", true},
        {"/usr/../x", true},
        {"/proc/self", true},
        {"/bin", true},
        {"/boot", true},
        {"/dev/sda", true},
        {"/lib", true},
        {"/lib32", true},
        {"/lib64", true},
        {"/libx32", true},
        {"/run", true},
        {"/sbin", true},
        {"/sys", true},
        {"/var", true},
        {"/var/lib/dpkg", true},
        {"/etcetera", false},
        {"/usrdata", false},
        {"/variable", false},
        {"/home/user/etc", false},
        {"/home/user/x", false},
        {"relative/file", false},
        {"", false},
        // ".." names a folder through another one and by no name of its own.
        {"..", true},
        {"x/sub/..", true},
        {"x/sub/../", true},
        {"x/sub/../.", true},
        {"x/../y", false},
        {"x/..y", false},
    };
    for (const auto& [text, want] : cases) EXPECT_EQ(is_unsafe_path(fs::path(text)), want) << text;
}

// Links and relative forms are judged by the folder that was opened.
TEST(WipeText, UnsafePlaces) {
    TempDir dir;
    fs::create_symlink("/usr", dir.path / "usr-link");
    fs::create_symlink("/var", dir.path / "var-link");
    fs::create_directory(dir.path / "work");
    const std::pair<fs::path, bool> cases[] = {
        {"/", true},
        {dir.path / "usr-link" / "share", true},
        {dir.path / "usr-link" / "share" / "doc", true},
        {dir.path / "usr-link" / "share" / "no-such-name", true},
        {dir.path / "var-link" / "tmp", true},
        {dir.path / "work", false},
        {dir.path / "work" / "no-such-name", false},
        {dir.path / "missing" / "deeper", false},
    };
    for (const auto& [target, want] : cases) EXPECT_EQ(is_unsafe_place(open_target(target)), want) << target;

    const fs::path saved = fs::current_path();
    fs::current_path("/usr/share");
    EXPECT_TRUE(is_unsafe_place(open_target("../../etc")));
    EXPECT_TRUE(is_unsafe_place(open_target(".")));
    fs::current_path(dir.path / "work");
    EXPECT_FALSE(is_unsafe_place(open_target(".")));
    EXPECT_TRUE(is_unsafe_place(open_target("../usr-link/local")));
    fs::current_path(saved);
}

}  // namespace
