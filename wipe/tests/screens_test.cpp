#include <gtest/gtest.h>

#include <curses.h>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>

#include "confirm.h"
#include "curses_screen.h"
#include "form.h"
#include "i18n.h"
#include "key_reader.h"
#include "language_list.h"
#include "palette.h"
#include "run_screen.h"
#include "test_support.h"
#include "wizard.h"

using namespace vornix;

namespace fs = std::filesystem;

namespace {
// Curses on a pseudo-terminal, set up as the program's main sets it up.
struct VornixScreen {
    CursesScreen screen;
    VornixScreen(int rows, int cols) : screen(rows, cols) {
        set_vornix_palette();
        set_form_key_reader(read_key_no_letters);
        set_language("en");
    }
    ~VornixScreen() { set_form_key_reader(nullptr); }
};

std::vector<std::string> file_lines(const fs::path& p) {
    std::istringstream in(read_file(p));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// On 24 x 80 the form box is 76 x 20 at (2, 2); field i is on row 4 + 2i.
constexpr int kValueColumn = 35;

TEST(Wizard, StartStoresParsedValues) {
    VornixScreen v(24, 80);
    WipeConfig cfg;
    v.screen.type(
        " /data/t \t\x7f"
        "7 passes\t\x7f"
        "2048\t\x7fy\t\x7ftrue\t log.txt \t\r");
    ASSERT_TRUE(wizard_config(v.screen.app(), cfg));
    EXPECT_EQ(cfg.target, fs::path("/data/t"));
    EXPECT_EQ(cfg.passes, 7u);
    EXPECT_EQ(cfg.block_mib, 1024u);
    EXPECT_TRUE(cfg.dry_run);
    EXPECT_TRUE(cfg.yes);
    EXPECT_EQ(cfg.log_file, " log.txt ");
    EXPECT_EQ(cfg.lang, "en");

    EXPECT_NE(v.screen.row(2).find(" Vornix wizard "), std::string::npos);
    const char* labels[] = {"Target path", "Passes", "Block size (MiB)", "Dry run", "Yes", "Log file (optional)"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(v.screen.text_at(4 + 2 * i, 5, 28).rfind(labels[i], 0), 0u) << labels[i];
    EXPECT_NE(v.screen.row(18).find("[ Start ] [ Quit ]"), std::string::npos);
    EXPECT_EQ(v.screen.text_at(20, 4, 36), "TAB move | Enter activate | Esc exit");
}

TEST(Wizard, EscAndQuitLeaveSettingsUntouched) {
    VornixScreen v(24, 80);
    WipeConfig cfg;
    cfg.target = "/srv/old";
    cfg.passes = 3;
    cfg.block_mib = 16;
    cfg.dry_run = true;
    cfg.log_file = "a b";
    const WipeConfig before = cfg;
    auto same = [&before](const WipeConfig& c) {
        return c.target == before.target && c.passes == before.passes && c.block_mib == before.block_mib &&
               c.dry_run == before.dry_run && c.yes == before.yes && c.log_file == before.log_file;
    };

    // The previous values, booleans as 1 or 0.
    v.screen.type("\x1b");
    EXPECT_FALSE(wizard_config(v.screen.app(), cfg));
    const char* shown[] = {"[/srv/old ", "[3 ", "[16 ", "[1 ", "[0 ", "[a b "};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(v.screen.text_at(4 + 2 * i, kValueColumn, 20).rfind(shown[i], 0), 0u) << shown[i];

    v.screen.type("\x7f\x7fnew\t9\x1b");
    EXPECT_FALSE(wizard_config(v.screen.app(), cfg));
    EXPECT_TRUE(same(cfg));

    v.screen.type("x\t\t\t\t\t\t\t\r");
    EXPECT_FALSE(wizard_config(v.screen.app(), cfg));
    EXPECT_TRUE(same(cfg));
}

TEST(Confirm, SettingYesSkipsTheScreen) {
    VornixScreen v(24, 80);
    WipeConfig cfg;
    cfg.yes = true;
    clear();
    refresh();
    EXPECT_TRUE(wizard_confirm(v.screen.app(), cfg));
    for (int y = 0; y < 24; ++y) EXPECT_EQ(v.screen.row(y), std::string(80, ' ')) << y;
}

TEST(Confirm, ShowsAFreshCodeInTheStatusLine) {
    VornixScreen v(24, 80);
    WipeConfig cfg;
    v.screen.type("\x1b");
    EXPECT_FALSE(wizard_confirm(v.screen.app(), cfg));
    EXPECT_NE(v.screen.row(2).find(" Confirm wipe "), std::string::npos);
    EXPECT_TRUE(std::regex_match(v.screen.text_at(20, 4, 37),
                                 std::regex(R"(Type token to continue  \[WIPE-[A-HJ-NP-Z2-9]{6}\])")))
        << v.screen.row(20);
}

TEST(Confirm, OnlyTheExactCodeWithGoPasses) {
    VornixScreen v(24, 80);
    const std::string code = "WIPE-KDHSAW";
    struct Case {
        const char* name;
        std::string keys;
        bool want;
        int beeps;
    };
    const Case cases[] = {
        {"typed exactly", code + "\t\r", true, 0},    {"lower case", "wipe-kdhsaw\t\r", false, 1},
        {"trailing blank", code + " \t\r", false, 1}, {"empty", "\t\r", false, 1},
        {"back button", code + "\t\t\r", false, 0},   {"Esc", code + "\x1b", false, 0},
    };
    for (const Case& c : cases) {
        const int before = v.screen.beeps();
        v.screen.type(c.keys);
        EXPECT_EQ(confirm_code_form(v.screen.app(), code), c.want) << c.name;
        EXPECT_EQ(v.screen.beeps() - before, c.beeps) << c.name;
        EXPECT_EQ(v.screen.text_at(20, 4, 37), "Type token to continue  [" + code + "]") << c.name;
    }
    // The form's field took every letter as typed, none as a movement.
    v.screen.type("WIPE-KDHS\x1b");
    confirm_code_form(v.screen.app(), code);
    EXPECT_EQ(v.screen.text_at(4, kValueColumn, 11), "[WIPE-KDHS ");
}

struct RunFixture : ::testing::Test {
    TempDir dir;
    VornixScreen v{25, 80};
    WipeConfig cfg;
};

TEST_F(RunFixture, WipeRunsToTheDoneScreenAndAppendsToTheLog) {
    const fs::path tree = dir.path / "tree";
    fs::create_directories(tree / "sub");
    write_file(tree / "a.txt", "alpha");
    write_file(tree / "sub" / "b.txt", "bravo");
    write_file(dir.path / "wipe.log", "old line\n");
    cfg.target = tree;
    cfg.passes = 3;
    cfg.block_mib = 4;
    cfg.log_file = (dir.path / "wipe.log").string();

    // An Enter typed while the wipe runs is discarded. Letters and arrows do
    // not close the done screen; Enter does: what is left are whole groups.
    v.screen.type("\r");
    std::optional<RepeatedKeys> keys(std::in_place, v.screen, "x\x1bOAq\r");
    EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), kRunDone);
    keys.reset();
    const std::vector<int> left = v.screen.take_unread_keys();
    EXPECT_TRUE(left.empty() || left.front() == 'x') << left.front();
    EXPECT_FALSE(log_enabled);
    EXPECT_FALSE(fs::exists(tree));

    const std::vector<std::string> lines = file_lines(dir.path / "wipe.log");
    ASSERT_EQ(lines.size(), 1u + 4u + 4u + 2u);
    EXPECT_EQ(lines[0], "old line");
    const std::regex stamped(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] .*)");
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_TRUE(std::regex_match(lines[i], stamped)) << lines[i];
    auto msg = [&lines](std::size_t i) { return lines[i].substr(22); };
    EXPECT_EQ(msg(1), "Scanning target...");
    EXPECT_EQ(msg(2), "Vornix started.");
    EXPECT_EQ(msg(3), "Target: " + tree.string());
    EXPECT_EQ(msg(4), "Passes: 3 | Block: 4194304 bytes");
    EXPECT_EQ(msg(9), "Directory tree removed: " + tree.string());
    EXPECT_EQ(msg(10), "Vornix finished.");

    EXPECT_EQ(v.screen.text_at(2, 2, 5), "Done.");
    EXPECT_TRUE(v.screen.has_pair(2, 2, PAIR_DONE));
    EXPECT_EQ(v.screen.text_at(4, 2, static_cast<int>(tree.string().size())), tree.string());
    EXPECT_TRUE(v.screen.has_pair(4, 2, PAIR_FOCUS));
    EXPECT_EQ(v.screen.text_at(23, 2, 10), "Quit (Esc)");
    EXPECT_TRUE(v.screen.has_pair(23, 2, PAIR_HIGHLIGHT));
}

// A file name cannot forge lines in the log file.
TEST_F(RunFixture, NamesInTheLogFileStayOnTheirLine) {
    const fs::path tree = dir.path / "tree";
    fs::create_directories(tree);
    const std::string forged = "x\n[2024-01-01 00:00:00] Vornix finished.\n\x1b[2J";
    write_file(tree / forged, "data");
    cfg.target = tree;
    cfg.yes = true;
    cfg.log_file = (dir.path / "wipe.log").string();
    {
        const RepeatedKeys keys(v.screen, "\r");
        EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), kRunDone);
    }
    v.screen.take_unread_keys();

    const std::vector<std::string> lines = file_lines(dir.path / "wipe.log");
    const std::string shown = tree.string() + "/x\\x0a[2024-01-01 00:00:00] Vornix finished.\\x0a\\x1b[2J";
    ASSERT_EQ(lines.size(), 4u + 2u + 2u);
    EXPECT_EQ(lines[4].substr(22), "Preparing to overwrite: " + shown + " (4 bytes)");
    EXPECT_EQ(lines[5].substr(22), "File overwritten and removed: " + shown);
    EXPECT_EQ(lines[7].substr(22), "Vornix finished.");
}

TEST_F(RunFixture, DryRunAndMissingTargetStillReachTheDoneScreen) {
    const fs::path file = dir.path / "keep.txt";
    write_file(file, "keep");
    cfg.target = file;
    cfg.dry_run = true;
    cfg.passes = 2;
    cfg.block_mib = 1;
    cfg.log_file = (dir.path / "dry.log").string();
    {
        const RepeatedKeys keys(v.screen, "\x1b");
        EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), kRunDone);
    }
    v.screen.take_unread_keys();
    EXPECT_EQ(read_file(file), "keep");
    const std::vector<std::string> lines = file_lines(dir.path / "dry.log");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3].substr(22), "Passes: 2 | Block: 1048576 bytes | DRY-RUN");
    EXPECT_EQ(lines[4].substr(22), "[DRY] Preparing to overwrite: " + file.string() + " (4 bytes)");

    cfg.target = dir.path / "missing";
    cfg.dry_run = false;
    cfg.log_file = (dir.path / "no" / "such" / "folder" / "x.log").string();
    {
        const RepeatedKeys keys(v.screen, "\r");
        EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), kRunDone);
    }
    v.screen.take_unread_keys();
    EXPECT_EQ(v.screen.text_at(2, 2, 5), "Done.");
}

TEST_F(RunFixture, RefusalsEndAtOnceWithOneLine) {
    const fs::path saved = fs::current_path();
    fs::current_path(dir.path);
    fs::create_directories(dir.path / "x" / "sub");
    write_file(dir.path / "x" / "keep.txt", "keep");
    // Should a refusal fail, a dry run changes nothing.
    cfg.dry_run = true;
    struct Case {
        fs::path target;
        int code;
        std::string line;
    };
    const Case cases[] = {
        {" \t", kRunEmptyTarget, "ERROR: empty target"},
        {"", kRunEmptyTarget, "ERROR: empty target"},
        {"/", kRunUnsafePath, "ERROR: refused unsafe path: /"},
        {"/etc/", kRunUnsafePath, "ERROR: refused unsafe path: /etc/"},
        {"/var", kRunUnsafePath, "ERROR: refused unsafe path: /var"},
        {"x/sub/..", kRunUnsafePath, "ERROR: refused unsafe path: x/sub/.."},
        {"..", kRunUnsafePath, "ERROR: refused unsafe path: .."},
        {dir.path, kRunCurrentDirectory, "ERROR: refused current working directory: " + dir.path.string()},
        {".", kRunCurrentDirectory, "ERROR: refused current working directory: ."},
        {dir.path / "." / "", kRunCurrentDirectory,
         "ERROR: refused current working directory: " + (dir.path / "." / "").string()},
    };
    for (const Case& c : cases) {
        cfg.target = c.target;
        cfg.log_file = (dir.path / "refusals.log").string();
        EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), c.code) << c.line;
        // The message follows the 22-byte "[timestamp] " prefix; long lines are cut at 73 bytes.
        const std::size_t shown = std::min<std::size_t>(c.line.size(), 73 - 22);
        EXPECT_EQ(v.screen.text_at(4, 24, static_cast<int>(shown)), c.line.substr(0, shown));
        EXPECT_EQ(v.screen.row(5), std::string(80, ' ')) << c.line;
        EXPECT_FALSE(log_enabled);
        EXPECT_EQ(file_lines(dir.path / "refusals.log").back().substr(22), c.line);
    }
    EXPECT_TRUE(fs::exists(dir.path));
    EXPECT_EQ(read_file(dir.path / "x" / "keep.txt"), "keep");
    fs::current_path(saved);
}

TEST_F(RunFixture, EngineExceptionEndsTheRunWithCode3) {
    const fs::path fifo = dir.path / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    cfg.target = fifo;
    cfg.log_file = (dir.path / "x.log").string();
    EXPECT_EQ(run_wipe_ui(v.screen.app(), cfg), kRunException);
    EXPECT_FALSE(log_enabled);
    EXPECT_EQ(file_lines(dir.path / "x.log").back().substr(22, 11), "Exception: ");
}

std::function<void()> g_between_checks_and_wipe;
void call_between_checks_and_wipe() { g_between_checks_and_wipe(); }

// What is checked is what is wiped: a folder above the target swapped for a
// link into a refused folder, or the target file replaced, after the checks;
// and a folder bound out of a refused one. In a child, over a tmpfs laid on
// /usr/local.
TEST(RunScreen, TheCheckedPlaceIsThePlaceWiped) {
    TempDir dir;
    const fs::path above = dir.path / "above", away = dir.path / "away", bound = dir.path / "bound";
    const fs::path single = dir.path / "single.txt", other = dir.path / "other.txt";
    const ChildResult r = run_in_child([&]() -> std::string {
        if (const std::string why = cover_usr_local_privately(); !why.empty()) return "skip: " + why;
        fs::create_directories("/usr/local/victim");
        write_file("/usr/local/victim/keep.txt", "system data");
        fs::create_directories(above / "victim");
        write_file(above / "victim" / "mine.txt", "mine");
        fs::create_directory(bound);
        if (mount("/usr/local/victim", bound.c_str(), nullptr, MS_BIND, nullptr) != 0) return "cannot bind";
        write_file(single, "single");
        write_file(other, "other");

        VornixScreen v(25, 80);
        WipeConfig cfg;
        cfg.yes = true;
        cfg.log_file = (dir.path / "run.log").string();
        std::string out;
        auto run = [&](const fs::path& target, std::function<void()> between) {
            g_between_checks_and_wipe = std::move(between);
            after_target_checks = g_between_checks_and_wipe ? call_between_checks_and_wipe : nullptr;
            cfg.target = target;
            const RepeatedKeys keys(v.screen, "\r");
            const int code = run_wipe_ui(v.screen.app(), cfg);
            std::vector<std::string> lines = file_lines(cfg.log_file);
            if (lines.back().substr(22) == "Vornix finished.") lines.pop_back();
            out += std::to_string(code) + " " + lines.back().substr(22) + "\n";
        };
        run(above / "victim", [&] {
            fs::rename(above, away);
            fs::create_directory_symlink("/usr/local", above);
        });
        run(bound, nullptr);
        run(single, [&] { fs::rename(other, single); });
        after_target_checks = nullptr;
        out += read_file("/usr/local/victim/keep.txt") + (fs::exists(away / "victim") ? " left " : " gone ") +
               read_file(single);
        return out;
    });
    if (r.out.rfind("skip: ", 0) == 0) GTEST_SKIP() << r.out.substr(6);
    ASSERT_EQ(r.status, 0) << r.out;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, std::to_string(kRunDone) + " Directory tree removed: " + (above / "victim").string());
    std::getline(in, line);
    EXPECT_EQ(line, std::to_string(kRunUnsafePath) + " ERROR: refused unsafe path: " + bound.string());
    std::getline(in, line);
    EXPECT_EQ(line.rfind(std::to_string(kRunException) + " Exception: ", 0), 0u) << line;
    EXPECT_NE(line.find("target changed since it was checked"), std::string::npos) << line;
    std::getline(in, line);
    EXPECT_EQ(line, "system data gone other");
}

TEST(RunScreen, LogShowsTheLastLinesAndCutsLongOnes) {
    VornixScreen v(25, 80);
    WipeConfig cfg;
    cfg.target = "/some/target";
    std::vector<std::string> lines;
    for (int i = 0; i < 30; ++i) draw_wipe_log(lines, cfg, "line " + std::to_string(i));
    EXPECT_EQ(v.screen.text_at(1, 2, 17), "Vornix  Wiping...");
    EXPECT_TRUE(v.screen.has_pair(1, 2, PAIR_FRAME));
    EXPECT_EQ(v.screen.text_at(2, 2, 12), "/some/target");
    EXPECT_EQ(v.screen.row(3), std::string(80, ' '));
    for (int row = 4; row <= 23; ++row)
        EXPECT_EQ(v.screen.text_at(row, 2, 8), "line " + std::to_string(row + 6) + " ") << row;
    EXPECT_EQ(v.screen.text_at(24, 2, 36), "TAB move | Enter activate | Esc exit");
    EXPECT_TRUE(v.screen.has_pair(24, 2, PAIR_HIGHLIGHT));

    const std::string hundred(100, 'h'), exact(76, 'e'), over(77, 'o');
    draw_wipe_log(lines, cfg, hundred);
    draw_wipe_log(lines, cfg, exact);
    draw_wipe_log(lines, cfg, over);
    EXPECT_EQ(v.screen.text_at(21, 0, 80), "  " + std::string(73, 'h') + "...  ");
    EXPECT_EQ(v.screen.text_at(22, 0, 80), "  " + exact + "  ");
    EXPECT_EQ(v.screen.text_at(23, 0, 80), "  " + std::string(73, 'o') + "...  ");
    EXPECT_EQ(lines.size(), 33u);
}

TEST(LanguageList, KeysPickAndMove) {
    VornixScreen v(24, 80);
    struct Case {
        const char* start;
        const char* keys;
        const char* want;
    };
    const Case cases[] = {
        {"en", "4", "fr"},
        {"de", "\r", "de"},
        {"en", "\x1bOA\r", "it"},
        {"it", "\x1bOB\r", "en"},
        {"en", "w\r", "it"},
        {"en", "W\r", "it"},
        {"en", "k\r", "it"},
        {"en", "s\r", "pt_br"},
        {"en", "S\r", "pt_br"},
        {"en", "j\r", "pt_br"},
        {"en", "\t\r", "pt_br"},
        {"es", "x9a\r", "es"},
        {"fr", "\x1bOB\x1b", "fr"},
        {"pt_br", "6", "it"},
        {"it", "1", "en"},
        {"nl", "\r", "en"},
        {"en", "ss\x1bOB\r", "fr"},
        // Behind an unknown sequence the waiting Enter is read into it: one Esc.
        {"de", "\x1b[A\r", "de"},
    };
    for (const Case& c : cases) {
        std::string lang = c.start;
        v.screen.type(c.keys);
        EXPECT_TRUE(pick_language_list(v.screen.app(), lang));
        const std::string want = c.want;
        EXPECT_EQ(lang, want) << c.start << " " << c.keys;
        EXPECT_EQ(current_language, want) << c.keys;
    }
    EXPECT_EQ(tr("vornix_btn_exit"), "Beenden");
    set_language("en");
}

TEST(LanguageList, Layout) {
    VornixScreen v(24, 80);
    std::string lang = "de";
    v.screen.type("\x1b");
    pick_language_list(v.screen.app(), lang);
    // Box 14 x 70 at (5, 5).
    EXPECT_EQ(v.screen.text_at(6, 7, 8), "Language");
    EXPECT_TRUE(v.screen.has_pair(6, 7, PAIR_STATUS));
    EXPECT_EQ(v.screen.text_at(8, 7, 72),
              "Use \u2191/\u2193 (arrows), W/S, or press 1-6. Enter = select. Esc = keep default.");
    const char* labels[] = {"1) English", "2) Portuguese (Brazil)", "3) Spanish", "4) French", "5) German",
                            "6) Italian"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(v.screen.text_at(10 + i, 9, static_cast<int>(std::string(labels[i]).size())), labels[i]);
        EXPECT_EQ(v.screen.has_pair(10 + i, 9, PAIR_HIGHLIGHT), i == 4) << labels[i];
    }
    EXPECT_EQ(v.screen.text_at(17, 7, 33), "Enter: select   Esc: keep default");
    EXPECT_TRUE(v.screen.has_pair(17, 7, PAIR_FOCUS));
    EXPECT_TRUE(v.screen.has_pair(5, 5, PAIR_FOCUS));
    set_language("en");
}
}  // namespace
