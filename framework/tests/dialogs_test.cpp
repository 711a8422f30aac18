#include <gtest/gtest.h>

#include <curses.h>

#include "curses_screen.h"
#include "dialogs.h"
#include "i18n.h"

namespace {
class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(set_language("en")); }
    void TearDown() override {
        set_message_box_style(MessageBoxStyle::translated);
        set_language("en");
    }
};

// Whether keys typed earlier are still waiting, unread.
bool input_left() {
    nodelay(stdscr, TRUE);
    const int key = wgetch(stdscr);
    nodelay(stdscr, FALSE);
    return key != ERR;
}

TEST_F(Dialogs, MessageBoxLayoutAndMessageEnd) {
    CursesScreen screen(24, 80);
    screen.type("\x1b");
    tui_message_box(screen.app(), "Error", std::string(50, 'm') + " the end");
    EXPECT_EQ(screen.text_at(2, 2 + (76 - 7) / 2, 7), " Error ");
    EXPECT_EQ(screen.text_at(4, 5, 8), "Message:");
    EXPECT_EQ(screen.text_at(4, 35, 42), "[" + std::string(32, 'm') + " the end]");
    EXPECT_EQ(screen.text_at(18, 37, 6), "[ OK ]");
    EXPECT_EQ(screen.text_at(20, 4, 20), "Enter OK | Esc close");

    screen.type("\x1b");
    tui_message_box(screen.app(), "Note", "short");
    EXPECT_EQ(screen.text_at(4, 35, 42), "[short" + std::string(35, ' ') + "]");
}

TEST_F(Dialogs, MessageBoxClosesOnOkOrEsc) {
    CursesScreen screen(24, 80);
    screen.type("\r\t\r");
    tui_message_box(screen.app(), "T", "m");
    EXPECT_FALSE(input_left());

    screen.type(
        "\x1b"
        "x");
    tui_message_box(screen.app(), "T", "m");
    EXPECT_TRUE(input_left());
}

TEST_F(Dialogs, MessageBoxStylesOfThePrograms) {
    CursesScreen screen(24, 80);
    set_message_box_style(MessageBoxStyle::search);
    screen.type("\x1b");
    tui_message_box(screen.app(), "T", "m");
    EXPECT_EQ(screen.text_at(4, 5, 9), "Message  ");
    EXPECT_EQ(screen.text_at(20, 4, 20), "Press OK to continue");

    set_message_box_style(MessageBoxStyle::fixed_english);
    screen.type("\x1b");
    tui_message_box(screen.app(), "T", "m");
    EXPECT_EQ(screen.text_at(4, 5, 5), "Text ");
    EXPECT_EQ(screen.text_at(20, 4, 8), "Message ");

    set_message_box_style(MessageBoxStyle::translated);
    ASSERT_TRUE(set_language("de"));
    screen.type("\x1b");
    tui_message_box(screen.app(), "T", "m");
    EXPECT_EQ(screen.text_at(4, 5, 10), "Nachricht:");
    EXPECT_EQ(screen.text_at(20, 4, 24), "Enter OK | Esc schließen");
}

TEST_F(Dialogs, LanguageMenuSwitchesLanguage) {
    CursesScreen screen(24, 80);
    screen.type("\x1bOB\x1bOB\x1bOB\x1bOB\r");
    tui_select_language(screen.app());
    EXPECT_EQ(current_language, "de");
    EXPECT_EQ(tr("lang_title"), "Sprache");

    // Labels come from the language current when the menu opens; it starts on English.
    screen.type("\x1b");
    tui_select_language(screen.app());
    EXPECT_EQ(current_language, "de");
    EXPECT_NE(screen.row(2).find(" Sprache "), std::string::npos);
    EXPECT_EQ(screen.text_at(5, 4, 8), "Englisch");
    EXPECT_TRUE(screen.has_pair(5, 4, PAIR_FOCUS));
    EXPECT_EQ(screen.text_at(20, 4, 53), "Sprache wählen | Enter wählen | Esc Standard behalten");
}

TEST_F(Dialogs, TypingInTheLanguageMenuFindsItalian) {
    CursesScreen screen(24, 80);
    screen.type("it\r");
    tui_select_language(screen.app());
    EXPECT_EQ(current_language, "it");
}
}  // namespace
