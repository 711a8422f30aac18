#include "results.h"

#include <ctime>
#include <regex>

#include "dialogs.h"
#include "i18n.h"
#include "screen_helpers.h"

namespace {

constexpr int kRows = 30;
constexpr int kCols = 100;

class Results : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        ASSERT_TRUE(set_language("en"));
        set_message_box_style(MessageBoxStyle::search);
    }
    void TearDown() override {
        set_language("en");
        set_message_box_style(MessageBoxStyle::translated);
        TempTree::TearDown();
    }
};

MatchInfo content_match(const std::filesystem::path& p, std::uint64_t size, const std::string& snippet) {
    MatchInfo m;
    m.path = p;
    m.size = size;
    m.contentMatched = true;
    m.snippet = snippet;
    m.firstMatchLine = 12;
    return m;
}

}  // namespace

TEST(SearchResultLabel, LongPathsKeepTheirEnd) {
    const std::string exact(180, 'p');
    EXPECT_EQ(result_label(exact), exact);
    const std::string longer = "X" + std::string(180, 'q');
    EXPECT_EQ(result_label(longer), "..." + std::string(177, 'q'));
    EXPECT_EQ(result_label(longer).size(), 180u);
}

TEST_F(Results, DetailsTextLines) {
    const auto file = write("found.txt", "x");
    MatchInfo plain;
    plain.path = file;
    plain.size = 1536;
    const std::string text = result_details_text(plain, 1, 5);
    const std::regex expected("Result: 2/5\nPath: " + file.string() +
                              "\nSize: 1536 bytes \\(1\\.50 KB\\)\n"
                              "Modified: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"
                              "Content: <no content filter or no snippet stored>\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    std::filesystem::remove(file);
    EXPECT_EQ(result_details_text(content_match(file, 0, "a [MATCH]b[/MATCH]"), 0, 1),
              "Result: 1/1\nPath: " + file.string() +
                  "\nSize: 0 bytes (0 B)\nFirst match line: 12\nSnippet:\na [MATCH]b[/MATCH]\n");

    const std::string exact(800, 's');
    EXPECT_NE(result_details_text(content_match(file, 0, exact), 0, 1).find("Snippet:\n" + exact + "\n"),
              std::string::npos);
    const std::string longer = std::string(797, 'a') + "bcde";
    EXPECT_NE(result_details_text(content_match(file, 0, longer), 0, 1)
                  .find("Snippet:\n" + std::string(797, 'a') + "...\n"),
              std::string::npos);

    ASSERT_TRUE(set_language("fr"));
    EXPECT_EQ(result_details_text(content_match(file, 2048, "s"), 0, 1),
              "Résultat: 1/1\nChemin: " + file.string() +
                  "\nTaille: 2048 octets (2.00 KB)\nLigne du 1er match: 12\nExtrait:\ns\n");
}

TEST_F(Results, DetailsOfAPathBeyondTheSystemLimitKeepTheirTime) {
    MatchInfo deep;
    deep.path = write_deep("deep.txt", "x");
    ASSERT_GT(deep.path.native().size(), 5000u);
    const std::string text = result_details_text(deep, 0, 1);
    EXPECT_TRUE(std::regex_search(text, std::regex("\nModified: \\d{4}-\\d\\d-\\d\\d ")))
        << text.substr(text.size() - 200);

    // The local time of the last write, cut to whole seconds.
    const auto file = write("dated.txt", "x");
    std::tm when{};
    when.tm_year = 101;
    when.tm_mon = 1;
    when.tm_mday = 3;
    when.tm_hour = 4;
    when.tm_min = 5;
    when.tm_sec = 6;
    when.tm_isdst = -1;
    const timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&when), 900000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    MatchInfo dated;
    dated.path = file;
    EXPECT_NE(result_details_text(dated, 0, 1).find("\nModified: 2001-02-03 04:05:06\n"), std::string::npos);
}

TEST_F(Results, EmptyListShowsABox) {
    CursesScreen screen(kRows, kCols);
    screen.type("\x1b");
    tui_results_menu(screen.app(), {});
    const std::string shown = whole_screen(screen, kRows);
    EXPECT_NE(shown.find(" Results "), std::string::npos);
    EXPECT_NE(shown.find("No results matched."), std::string::npos);
    EXPECT_NE(shown.find("Press OK to continue"), std::string::npos);
    EXPECT_EQ(shown.find("Filter:"), std::string::npos);

    // A search that could not run says why, under the same text; a control byte shows escaped.
    CursesScreen failed(kRows, kCols);
    failed.type("\x1b");
    tui_results_menu(failed.app(), {}, "[ERROR] Path does not exist: /gone\x1b[2J");
    const std::string why = whole_screen(failed, kRows);
    EXPECT_NE(why.find("results matched. [ERROR] Path does not exist: /gone\\x1b[2J"), std::string::npos) << why;
}

TEST_F(Results, FilteredRowStillKnowsItsPlace) {
    std::vector<MatchInfo> results;
    for (const char* name : {"alpha.txt", "bravo.txt", "charlie.txt", "delta.txt", "echo.txt"}) {
        MatchInfo m;
        m.path = root_ / name;
        m.size = 3;
        results.push_back(m);
    }
    CursesScreen screen(kRows, kCols);
    // Filter to the second row, open it, close the box: the list does not come back.
    screen.type("bravo\r\x1b");
    tui_results_menu(screen.app(), results);
    const std::string shown = whole_screen(screen, kRows);
    EXPECT_NE(shown.find(" Details "), std::string::npos) << shown;
    EXPECT_NE(shown.find("no snippet stored>"), std::string::npos) << shown;

    CursesScreen list(kRows, kCols);
    list.type("\x1b");
    tui_results_menu(list.app(), results);
    const std::string listed = whole_screen(list, kRows);
    EXPECT_NE(listed.find(" Lumeno - Results "), std::string::npos);
    EXPECT_NE(listed.find("Up/Down PgUp/PgDn Home/End | Type filter | Enter details | Esc back"), std::string::npos);
    EXPECT_NE(listed.find((root_ / "echo.txt").string()), std::string::npos);
}
