#include <gtest/gtest.h>

#include <curses.h>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "curses_screen.h"
#include "dialogs.h"
#include "form.h"
#include "i18n.h"
#include "key_reader.h"
#include "report.h"
#include "screens.h"
#include "temp_tree.h"

namespace fs = std::filesystem;

namespace {
// A 30x100 screen puts every form box at rows 2..27, columns 2..97: the first
// field's label at (4, 5), its bracketed value at (4, 35), the buttons on
// row 24 and the status on row 26.
constexpr int kRows = 30;
constexpr int kCols = 100;

std::string trim_right(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// What the screen showed when a form asked for its next key.
struct Shot {
    std::string title_row;
    std::string label;
    std::string field;  // "[" + 60 cells + "]"
    std::string buttons;
    std::string status;
};

// Feeds forms a scripted list of keys and photographs the screen before each.
struct Script {
    CursesScreen* screen = nullptr;
    std::deque<int> keys;
    std::vector<Shot> shots;
    std::function<void(const Shot&)> on_shot;
    bool ran_out = false;

    void add(const std::string& bytes) {
        for (unsigned char c : bytes) keys.push_back(c);
    }
    // The first shot whose title row names `title`.
    const Shot* first_titled(const std::string& title) const {
        for (const Shot& shot : shots)
            if (shot.title_row.find(" " + title + " ") != std::string::npos) return &shot;
        return nullptr;
    }
};
Script* active_script = nullptr;

int scripted_key() {
    Script& s = *active_script;
    const CursesScreen& screen = *s.screen;
    Shot shot{screen.row(2), trim_right(screen.text_at(4, 5, 28)), screen.text_at(4, 35, 62),
              trim_right(screen.text_at(24, 4, 92)), trim_right(screen.text_at(26, 4, 92))};
    s.shots.push_back(shot);
    if (s.on_shot) s.on_shot(shot);
    if (s.keys.empty()) {
        s.ran_out = true;
        return 27;
    }
    const int key = s.keys.front();
    s.keys.pop_front();
    return key;
}

// Lets the pseudo-terminal hand typed bytes over, so that the key reader
// finds an escape sequence whole.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(100)); }

std::string field_of(const std::string& value) {
    std::string shown = value.size() > 60 ? value.substr(value.size() - 60) : value;
    for (char& c : shown)
        if (c == '\n') c = ' ';
    shown.resize(60, ' ');
    return "[" + shown + "]";
}

class GemmitScreens : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(set_language("en"));
        set_message_box_style(MessageBoxStyle::fixed_english);
        saved_cwd_ = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(saved_cwd_);
        set_form_key_reader(nullptr);
        set_message_box_style(MessageBoxStyle::translated);
        set_language("en");
        active_script = nullptr;
    }
    void use_script(CursesScreen& screen) {
        script_.screen = &screen;
        active_script = &script_;
        set_form_key_reader(scripted_key);
    }

    Script script_;
    fs::path saved_cwd_;
};
}  // namespace

TEST_F(GemmitScreens, PromptStartsOnDotAndTrimsWhatWasTyped) {
    CursesScreen screen(kRows, kCols);
    use_script(screen);
    script_.add("\x7f  /some/where  \t\r");
    std::string folder;
    ASSERT_TRUE(tui_prompt_directory(screen.app(), folder));
    EXPECT_EQ(folder, "/some/where");
    ASSERT_FALSE(script_.ran_out);

    const Shot& first = script_.shots.front();
    EXPECT_NE(first.title_row.find(" ZeylaGemmit "), std::string::npos);
    EXPECT_EQ(first.label, "Directory");
    EXPECT_EQ(first.field, field_of("."));
    EXPECT_EQ(first.buttons, std::string(36, ' ') + "[ Scan ] [ Cancel ]");
    EXPECT_EQ(first.status, "Enter the directory to scan recursively");

    script_.shots.clear();
    script_.add("\t\t\r");
    folder = "previous";
    EXPECT_FALSE(tui_prompt_directory(screen.app(), folder));
    EXPECT_EQ(folder, "previous");
    EXPECT_EQ(script_.shots.front().field, field_of("previous"));

    script_.add("\x1b");
    EXPECT_FALSE(tui_prompt_directory(screen.app(), folder));
    EXPECT_EQ(folder, "previous");
}

TEST_F(GemmitScreens, LettersReachTheDirectoryFieldThroughTheKeyReader) {
    CursesScreen screen(kRows, kCols);
    set_form_key_reader(read_key_no_letters);
    // Letters of the reader's table stay letters; the scan-code pair 224, 80
    // (Down) moves to Scan.
    screen.type(
        "\x7f"
        "adhjklsw ADHJKLSW WIPE-KDHS"
        "\xe0"
        "P"
        "\r");
    settle();
    std::string folder = ".";
    ASSERT_TRUE(tui_prompt_directory(screen.app(), folder));
    EXPECT_EQ(folder, "adhjklsw ADHJKLSW WIPE-KDHS");
}

TEST_F(GemmitScreens, RunScanRefusesEmptyAndInvalidFolders) {
    TempTree tree;
    const auto file = tree.write("plain.txt", "not a folder");
    fs::current_path(tree.root());
    CursesScreen screen(kRows, kCols);
    use_script(screen);

    struct Case {
        std::string typed;
        std::string message;
    };
    const Case cases[] = {
        {"   ", "Directory cannot be empty."},
        {file.string(), "Not a valid directory:\n" + file.string()},
        {"missing-folder", "Not a valid directory:\n" + (tree.root() / "missing-folder").string()},
        // Made absolute only: the dots stay for the system to resolve.
        {"./gone/../missing-folder/", "Not a valid directory:\n" + tree.root().string() + "/./gone/../missing-folder/"},
    };
    for (const Case& c : cases) {
        script_.shots.clear();
        script_.add("\x7f" + c.typed + "\t\r" + "\t\r");
        run_scan(screen.app());
        ASSERT_FALSE(script_.ran_out) << c.typed;
        const Shot* box = script_.first_titled("Error");
        ASSERT_NE(box, nullptr) << c.typed;
        EXPECT_EQ(box->label, "Text");
        EXPECT_EQ(box->status, "Message");
        EXPECT_EQ(box->field, field_of(c.message)) << c.typed;
        EXPECT_EQ(box->buttons, std::string(43, ' ') + "[ OK ]");
        EXPECT_EQ(script_.first_titled("Scanning"), nullptr);
    }
}

TEST_F(GemmitScreens, ScanStartsOnlyAfterTheScanningBoxIsClosed) {
    TempTree tree;
    for (int i = 0; i < 7; ++i) tree.write("seven/copy" + std::to_string(i), "seven times");
    tree.write("single", "alone");
    fs::create_directory(tree.root() / "out");
    fs::current_path(tree.root() / "out");

    CursesScreen screen(kRows, kCols);
    use_script(screen);
    bool scanning_seen = false;
    script_.on_shot = [&](const Shot& shot) {
        if (!scanning_seen && shot.title_row.find(" Scanning ") != std::string::npos) {
            scanning_seen = true;
            // Appears while the box waits: only a scan that starts later sees it.
            tree.write("late/copy7", "seven times");
        }
    };
    script_.add("\x7f" + tree.root().string() + "\t\r");  // prompt
    script_.add("\x1b");                                  // Scanning box, closed by Esc
    script_.add("\t\r");                                  // Save Report
    script_.add("\t\r");                                  // Report box
    script_.add("\t\t\r");                                // Back
    run_scan(screen.app());
    ASSERT_FALSE(script_.ran_out);

    const Shot* scanning = script_.first_titled("Scanning");
    ASSERT_NE(scanning, nullptr);
    EXPECT_EQ(scanning->field, field_of("Scanning recursively...\n\nPlease wait."));

    const Shot* result = script_.first_titled("Scan Result");
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->label, "Summary");
    EXPECT_EQ(result->status, "Review result or save report");
    EXPECT_EQ(result->buttons, std::string(34, ' ') + "[ Save Report ] [ Back ]");
    EXPECT_EQ(result->field.substr(result->field.size() - 6), " ... ]");

    const fs::path report = tree.root() / "out" / kReportFileName;
    const Shot* saved = script_.first_titled("Report");
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(saved->field, field_of("Report saved to:\n" + report.string()));

    const std::string text = read_whole_file(report);
    EXPECT_NE(text.find("Scanned directory: " + tree.root().string() + "\n"), std::string::npos);
    EXPECT_NE(text.find("Total files scanned: 9\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Duplicate groups:    1\n"), std::string::npos);
    EXPECT_NE(text.find("Duplicate files:     8\n"), std::string::npos);
}

TEST_F(GemmitScreens, ScanWithoutTypingTakesTheWorkingFolder) {
    TempTree tree;
    tree.write("a", "pair");
    tree.write("b", "pair");
    fs::current_path(tree.root());
    CursesScreen screen(kRows, kCols);
    use_script(screen);
    script_.add("\t\r");  // Scan on "."
    script_.add("\t\r");  // Scanning box
    script_.add("\t\r");  // Save Report
    script_.add("\t\r");  // Report box
    script_.add("\x1b");  // leave the result screen
    run_scan(screen.app());
    ASSERT_FALSE(script_.ran_out);
    const std::string text = read_whole_file(tree.root() / kReportFileName);
    EXPECT_EQ(text.rfind("ZeylaGemmit v3.0.0\nScanned directory: " + tree.root().string() + "/.\n\n", 0), 0u) << text;
    EXPECT_NE(text.find("Duplicate groups:    1\n"), std::string::npos);
}

TEST_F(GemmitScreens, DotDotAfterALinkScansWhatTheSystemResolves) {
    TempTree tree;
    tree.write("a/near1", "by name");
    tree.write("a/near2", "by name");
    tree.write("x/far1", "by link");
    tree.write("x/far2", "by link");
    fs::create_directory(tree.root() / "x" / "deep");
    fs::create_directory_symlink(tree.root() / "x" / "deep", tree.root() / "a" / "link");
    fs::current_path(tree.root());
    CursesScreen screen(kRows, kCols);
    use_script(screen);
    script_.add(std::string(1, '\x7f') + "a/link/..\t\r");  // prompt
    script_.add("\t\r");                                    // Scanning box
    script_.add("\t\r");                                    // Save Report
    script_.add("\t\r");                                    // Report box
    script_.add("\x1b");                                    // leave the result screen
    run_scan(screen.app());
    ASSERT_FALSE(script_.ran_out);
    const std::string text = read_whole_file(tree.root() / kReportFileName);
    const std::string root = tree.root().string() + "/a/link/..";
    EXPECT_NE(text.find("Scanned directory: " + root + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find(root + "/far1  [7 bytes]\n"), std::string::npos) << text;
    EXPECT_NE(text.find(root + "/far2  [7 bytes]\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("near"), std::string::npos) << text;
}

TEST_F(GemmitScreens, FailedSaveAndEditsAreDroppedOnTheNextPass) {
    TempTree tree;
    // A folder in the report's place: the file cannot be created, not even by root.
    fs::create_directory(tree.root() / kReportFileName);
    fs::current_path(tree.root());
    CursesScreen screen(kRows, kCols);
    use_script(screen);

    DuplicateStats stats;
    stats.files_scanned = 4;
    script_.add("xyz\t\r");  // typed into the summary, then Save Report
    script_.add("\t\r");     // failure box
    script_.add("\x1b");     // results again, left by Esc
    tui_show_results(screen.app(), tree.root(), stats, {});
    ASSERT_FALSE(script_.ran_out);

    const Shot* failed = script_.first_titled("Report");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->field, field_of("Failed to save duplicates_report.txt"));
    const std::string summary = build_summary(tree.root(), stats, {});
    EXPECT_EQ(script_.shots[3].field, field_of(summary + "xyz"));
    EXPECT_EQ(script_.shots.back().field, field_of(summary));
}

TEST_F(GemmitScreens, SummaryPreviewsTheFirstGroupOnly) {
    DuplicateStats stats;
    stats.files_scanned = 20;
    stats.files_with_errors = 1;
    stats.candidate_files = 11;
    stats.duplicate_groups = 2;
    stats.duplicate_files = 9;
    const std::string counters =
        "Directory: /r\n\n"
        "Total files scanned: 20\n"
        "Files with errors:   1\n"
        "Candidate files:     11\n"
        "Duplicate groups:    2\n"
        "Duplicate files:     9\n";
    std::vector<fs::path> seven;
    for (int i = 1; i <= 7; ++i) seven.push_back("/r/f" + std::to_string(i));
    const std::vector<fs::path> five(seven.begin(), seven.begin() + 5);

    struct Case {
        const char* name;
        DuplicateGroups groups;
        std::string preview;
    };
    const Case cases[] = {
        {"no groups", {}, ""},
        {"pair first", {{"/r/a", "/r/b"}, seven}, "\nFirst group preview:\n - /r/a\n - /r/b\n"},
        {"exactly five", {five}, "\nFirst group preview:\n - /r/f1\n - /r/f2\n - /r/f3\n - /r/f4\n - /r/f5\n"},
        {"seven", {seven}, "\nFirst group preview:\n - /r/f1\n - /r/f2\n - /r/f3\n - /r/f4\n - /r/f5\n ...\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(build_summary("/r", stats, c.groups), counters + c.preview) << c.name;
}

TEST_F(GemmitScreens, AboutBox) {
    CursesScreen screen(kRows, kCols);
    use_script(screen);
    script_.add("\r\t\r");  // Enter on the field does nothing; OK closes
    show_about(screen.app());
    ASSERT_FALSE(script_.ran_out);
    ASSERT_EQ(script_.shots.size(), 3u);
    const Shot& box = script_.shots.front();
    EXPECT_NE(box.title_row.find(" About "), std::string::npos);
    EXPECT_EQ(box.label, "Text");
    EXPECT_EQ(box.field, field_of("ZeylaGemmit v3.0.0\n\nZeylaworks duplicate finder.\n"
                                  "Logic: size -> FNV-1a hash -> byte-by-byte confirmation.\n\n"));
}

TEST_F(GemmitScreens, LanguageButtonStepsThroughTheCodes) {
    const std::pair<const char*, const char*> codes[] = {{"en", "EN"}, {"pt_br", "PT-BR"}, {"es", "ES"}, {"fr", "FR"},
                                                         {"de", "DE"}, {"it", "IT"},       {"xx", "EN"}};
    for (const auto& [code, shown] : codes) EXPECT_EQ(language_display_code(code), shown) << code;

    CursesScreen screen(kRows, kCols);
    // Three presses of the language button, then Exit; the loop reads keys itself.
    screen.type("\t\r\t\r\t\r\t\t\t\r");
    settle();
    EXPECT_EQ(tui_main(), 0);
    EXPECT_EQ(current_language, "fr");
    EXPECT_EQ(trim_right(screen.text_at(26, 4, 92)), "Duplicate Finder | Language: FR");
    EXPECT_EQ(trim_right(screen.text_at(24, 4, 92)),
              std::string(24, ' ') + "[ Scan ] [ Language: FR ] [ About ] [ Exit ]");

    // Each run starts in English; the sixth press comes back to it from the last code.
    screen.type("\t\r\t\r\t\r\t\r\t\r\t\r\x1b");
    settle();
    tui_main();
    EXPECT_EQ(trim_right(screen.text_at(26, 4, 92)), "Duplicate Finder | Language: EN");
    EXPECT_EQ(current_language, "en");
}
