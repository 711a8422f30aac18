#include <gtest/gtest.h>

#include <curses.h>

#include "curses_screen.h"
#include "menu.h"

namespace {
Menu numbered_menu(zeylatui::App& app, int n) {
    Menu menu;
    menu.app = &app;
    std::vector<MenuItem> items;
    for (int i = 0; i < n; ++i) items.push_back(MenuItem{"Item " + std::to_string(i), {}});
    menu_set_items(menu, std::move(items));
    return menu;
}

Menu greek_menu(zeylatui::App& app) {
    Menu menu;
    menu.app = &app;
    menu_set_items(menu, {{"Alpha", {}}, {"beta", {}}, {"Gamma", {}}});
    return menu;
}

TEST(MenuFilter, MatchesAsciiCaseInsensitiveSubstrings) {
    const struct {
        const char* label;
        const char* filter;
        bool match;
    } cases[] = {
        {"Alpha", "", true},   {"Alpha", "AL", true}, {"Gamma", "am", true}, {"beta", "TA", true},
        {"beta", "ab", false}, {"", "a", false},      {"Écran", "é", false}, {"Écran", "cran", true},
    };
    for (const auto& c : cases) EXPECT_EQ(filter_match(c.label, c.filter), c.match) << c.label << "/" << c.filter;
}

TEST(MenuFilter, FindSearchesForwardThenFromTheTop) {
    zeylatui::App app;
    Menu menu = greek_menu(app);
    menu.filter = "a";
    EXPECT_EQ(find_filter_match(menu, 1), 1);
    EXPECT_EQ(find_filter_match(menu, -4), 0);
    EXPECT_EQ(find_filter_match(menu, 99), 2);
    menu.filter = "alp";
    EXPECT_EQ(find_filter_match(menu, 2), 0);
    menu.filter = "zz";
    EXPECT_EQ(find_filter_match(menu, 0), -1);
    Menu empty;
    EXPECT_EQ(find_filter_match(empty, 0), -1);
}

TEST(MenuDrawing, LayoutOn80x24) {
    CursesScreen screen(24, 80);
    Menu menu = numbered_menu(screen.app(), 3);
    menu.title = "Pick";
    menu.status = "Up/Down move | Enter select | Esc back | Type to filter";
    menu.selected = 1;
    screen.type("\x1b");
    EXPECT_EQ(run_menu(menu), TUI_CANCELLED);
    // Box 76x20 at (2,2); filter line, items from row 5, status near the bottom.
    EXPECT_EQ(screen.text_at(2, 2 + (76 - 6) / 2, 6), " Pick ");
    EXPECT_EQ(screen.text_at(3, 4, 9), "Filter:  ");
    EXPECT_EQ(screen.text_at(5, 4, 6), "Item 0");
    EXPECT_EQ(screen.text_at(6, 4, 6), "Item 1");
    EXPECT_TRUE(screen.has_pair(6, 4, PAIR_FOCUS));
    EXPECT_FALSE(screen.has_pair(5, 4, PAIR_FOCUS));
    EXPECT_EQ(screen.text_at(20, 4, 55), "Up/Down move | Enter select | Esc back | Type to filter");
}

TEST(MenuDrawing, LongLabelsAreFittedOn120x40) {
    CursesScreen screen(40, 120);
    Menu menu;
    menu.app = &screen.app();
    menu_set_items(menu, {{std::string(200, 'w'), {}}});
    screen.type("\x1b");
    run_menu(menu);
    // W = 116 at column 2, H = 36 at row 2: labels get 112 cells.
    EXPECT_EQ(screen.text_at(5, 4, 113), std::string(109, 'w') + "... ");
    EXPECT_EQ(screen.text_at(36, 4, 9), "Up/Down m");
}

TEST(MenuKeys, PagingOnA25RowTerminal) {
    CursesScreen screen(25, 80);
    Menu menu = numbered_menu(screen.app(), 100);
    screen.type("\x1b[6~\x1b");  // Page Down
    run_menu(menu);
    EXPECT_EQ(menu.selected, 17);
    EXPECT_EQ(menu.top, 3);
    EXPECT_EQ(screen.text_at(5 + 14, 4, 7), "Item 17");

    screen.type("\x1bOF\x1b");  // End
    run_menu(menu);
    EXPECT_EQ(menu.selected, 99);
    EXPECT_EQ(menu.top, 85);

    screen.type("\x1b[5~\x1b[5~\x1b[5~\x1b[5~\x1b[5~\x1b[5~\x1b");  // Page Up never wraps
    run_menu(menu);
    EXPECT_EQ(menu.selected, 0);

    screen.type("\x1bOF\x1bOH\x1b");  // Home
    run_menu(menu);
    EXPECT_EQ(menu.selected, 0);
}

TEST(MenuKeys, ArrowsWrapOnlyWhenAsked) {
    CursesScreen screen(24, 80);
    Menu menu = numbered_menu(screen.app(), 4);
    screen.type("\x1bOA\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 3);
    screen.type("\x1bOB\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 0);

    menu.wrap = false;
    screen.type("\x1bOA\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 0);
    menu.selected = 3;
    screen.type("\x1bOB\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 3);
}

TEST(MenuKeys, TypingFiltersAndMovesTheSelection) {
    CursesScreen screen(24, 80);
    Menu menu = greek_menu(screen.app());
    screen.type("A\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 0);
    screen.type("m\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.filter, "Am");
    EXPECT_EQ(menu.selected, 2);
    EXPECT_EQ(screen.beeps(), 0);
}

TEST(MenuKeys, UnmatchedFilterBeepsAndKeepsTheSelection) {
    CursesScreen screen(24, 80);
    Menu menu = greek_menu(screen.app());
    menu.selected = 1;
    screen.type("zz\x1b");
    run_menu(menu);
    EXPECT_EQ(screen.text_at(3, 4, 10), "Filter: zz");
    EXPECT_EQ(menu.selected, 1);
    EXPECT_EQ(screen.beeps(), 2);
}

TEST(MenuKeys, MovingOffTheFilterSnapsBack) {
    CursesScreen screen(24, 80);
    Menu menu = greek_menu(screen.app());
    screen.type("ga\x1bOA\x1b");
    run_menu(menu);
    EXPECT_EQ(menu.selected, 2);
    EXPECT_TRUE(screen.has_pair(7, 4, PAIR_FOCUS));
}

TEST(MenuKeys, BackspaceEditsTheFilterAndBeepsWhenEmpty) {
    CursesScreen screen(24, 80);
    Menu menu = greek_menu(screen.app());
    menu.selected = 2;
    screen.type("a\x7f\x1b");
    run_menu(menu);
    EXPECT_EQ(screen.text_at(3, 4, 9), "Filter:  ");
    EXPECT_EQ(menu.selected, 2);
    EXPECT_EQ(screen.beeps(), 0);
    screen.type("\x7f\x1b");
    run_menu(menu);
    EXPECT_EQ(screen.beeps(), 1);
}

TEST(MenuKeys, EnterRunsTheActionOfTheSelectedItem) {
    CursesScreen screen(24, 80);
    Menu menu = greek_menu(screen.app());
    std::string chosen;
    menu.items[1].action = [&chosen] { chosen = "beta"; };
    screen.type("\x1bOB\r");
    EXPECT_EQ(run_menu(menu), 1);
    EXPECT_EQ(chosen, "beta");
    screen.type("\x1bOB\n");  // an empty action just returns
    EXPECT_EQ(run_menu(menu), 2);
}

TEST(MenuDrawing, SameLayoutWithoutColours) {
    CursesScreen screen(24, 80, "vt100");
    ASSERT_FALSE(has_colors());
    Menu menu = greek_menu(screen.app());
    menu.selected = 1;
    screen.type("\x1b");
    run_menu(menu);
    EXPECT_EQ(screen.text_at(6, 4, 4), "beta");
    EXPECT_TRUE(screen.has_pair(6, 4, 0));
    EXPECT_EQ(screen.text_at(20, 4, 12), "Up/Down move");
    // The selected row, and only it, in reverse video.
    EXPECT_TRUE(screen.reversed(6, 4));
    EXPECT_FALSE(screen.reversed(5, 4));
    EXPECT_FALSE(screen.reversed(7, 4));
}

// The two ways a vt100 clears the whole screen, which terminals without an
// alternate screen copy into their history.
bool clears_screen(const std::string& written) {
    return written.find("\x1b[H\x1b[J") != std::string::npos || written.find("\x1b[2J") != std::string::npos;
}

std::string rows_text(CursesScreen& screen, int from, int to) {
    std::string text;
    for (int y = from; y < to; ++y) text += screen.row(y) + "\n";
    return text;
}

TEST(MenuSecrets, NeverClearedAndBlankedBeforeAnActionOrLeaving) {
    CursesScreen screen(24, 80, "vt100");
    Menu plain = numbered_menu(screen.app(), 3);
    screen.take_written();
    screen.type("\x1bOB\x1b");
    run_menu(plain);
    ASSERT_TRUE(clears_screen(screen.take_written()));  // what the test looks for is there to find

    Menu menu = numbered_menu(screen.app(), 3);
    menu.holds_secrets = true;
    std::string seen_by_action;
    menu.items[2].action = [&] { seen_by_action = rows_text(screen, 0, 24); };
    screen.type("\x1bOB\x1bOBxy\x7f\x7f\r");
    EXPECT_EQ(run_menu(menu), 2);
    EXPECT_FALSE(clears_screen(screen.take_written()));
    EXPECT_EQ(seen_by_action.find("Item"), std::string::npos) << seen_by_action;
    // The frame and the status line stay, so that the picture is never all blank.
    EXPECT_NE(seen_by_action.find("Up/Down move"), std::string::npos) << seen_by_action;

    screen.type("\x1b");
    EXPECT_EQ(run_menu(menu), TUI_CANCELLED);
    EXPECT_FALSE(clears_screen(screen.take_written()));
    EXPECT_EQ(rows_text(screen, 0, 24).find("Item"), std::string::npos);
}

TEST(MenuKeys, EmptyMenuIgnoresAllButEsc) {
    CursesScreen screen(24, 80);
    Menu menu;
    menu.app = &screen.app();
    // Every key before the Esc is read and ignored; the keys after it stay unread.
    screen.type(
        "abc\r\n\t \x7f\x1bOB\x1bOA\x1b[6~\x1b"
        "zq");
    EXPECT_EQ(run_menu(menu), TUI_CANCELLED);
    EXPECT_EQ(screen.text_at(5, 4, 7), "<empty>");
    EXPECT_EQ(screen.take_unread_keys(), (std::vector<int>{'z', 'q'}));
}
}  // namespace
