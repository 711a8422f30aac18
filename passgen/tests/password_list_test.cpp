#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "clipboard.h"
#include "clipboard_copy.h"
#include "clipboard_terminal.h"
#include "clipboard_tmux_server.h"
#include "curses_screen.h"
#include "i18n.h"
#include "password_list.h"
#include "terminal.h"

using namespace corvane;

namespace {
class PasswordList : public ::testing::Test {
protected:
    void SetUp() override {
        set_text_encoding(TextEncoding::cp1252);
        set_language("en");
    }
    void TearDown() override { set_language("en"); }
    bool shown(const std::string& text) {
        for (int y = 0; y < 30; ++y)
            if (screen.row(y).find(text) != std::string::npos) return true;
        return false;
    }
    CursesScreen screen{30, 100};
    GenOptions options;
};
}  // namespace

TEST(CopiedMessage, ParagraphsInEveryLanguage) {
    set_language("en");
    EXPECT_EQ(copied_message(0, false), "Password copied to clipboard (UTF-16).\n\nPaste it somewhere safe.");
    EXPECT_EQ(copied_message(30, true),
              "Password copied to clipboard (UTF-16).\n\nPaste it somewhere safe.\n\n"
              "Clipboard will be cleared in 30 seconds.");
    EXPECT_EQ(copied_message(2147483647, true).substr(64), "\n\nClipboard will be cleared in 2147483647 seconds.");
    // A timer that could not start announces no clearing.
    EXPECT_EQ(copied_message(30, false), copied_message(0, false));
    set_language("fr");
    EXPECT_EQ(copied_message(5, true),
              "Mot de passe copi\xE9 dans le presse-papiers (UTF-16).\n\nCollez-le quelque part en s\xE9"
              "curit\xE9.\n\nLe presse-papiers sera effac\xE9 dans 5 secondes.");
    set_language("en");
}

TEST(ClipboardText, Windows1252LettersReachTheTerminalAsUnicode) {
    ClipboardTerminal terminal;
    ASSERT_TRUE(clipboard_set_text("\xE0\x80"));  // à (U+00E0) and the euro sign (U+20AC)
    EXPECT_EQ(terminal.read(), "\x1b]52;c;w6Digqw=\a");
    ASSERT_TRUE(clipboard_set_text(""));
    EXPECT_EQ(terminal.read(), "\x1b]52;c;IA==\a");
}

TEST(ClipboardText, NoTerminalIsAFailure) {
    set_clipboard_terminal("/nonexistent/tty");
    EXPECT_FALSE(clipboard_set_text("abc"));
    set_clipboard_terminal("/dev/tty");
}

TEST(ClearTimer, ClearsWhenDueAndWhatIsWaitingAtTheEnd) {
    ClipboardTerminal terminal;
    const std::string clear = "\x1b]52;c;IA==\a";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(schedule_clipboard_clear(1));
    ASSERT_TRUE(schedule_clipboard_clear(600));  // does not put off the first
    EXPECT_EQ(terminal.read(300), "");
    EXPECT_EQ(terminal.read(3000), clear);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(terminal.read(300), "");  // the second is still waiting

    // The end of the program carries it out at once, and only once.
    clear_clipboard_now();
    EXPECT_EQ(terminal.read(), clear);
    clear_clipboard_now();
    EXPECT_EQ(terminal.read(300), "");

    // A copy after that starts the timer again.
    ASSERT_TRUE(schedule_clipboard_clear(1));
    EXPECT_EQ(terminal.read(3000), clear);
    clear_clipboard_now();
    EXPECT_EQ(terminal.read(300), "");
}

TEST(ClearTimer, WithoutTheTerminalTmuxStillLosesTheCopy) {
    ClipboardTerminal terminal;
    TmuxServer server;
    server.enter();
    ASSERT_TRUE(clipboard_set_text("pw\xE0"));
    server.set_buffer("buffer0", "pw\xC3\xA0");  // what tmux made of the sequence
    server.set_buffer("buffer1", "kept");
    set_clipboard_terminal("/nonexistent/tty");
    clipboard_clear();
    EXPECT_EQ(server.buffers(), (std::map<std::string, std::string>{{"buffer1", "kept"}}));
    server.leave();
}

TEST_F(PasswordList, EmptyListShowsABoxInsteadOfAMenu) {
    screen.type("\x1b");
    tui_show_passwords(screen.app(), options, {});
    EXPECT_TRUE(shown(" Corvane "));
    EXPECT_TRUE(shown("[No passwords generated."));
    EXPECT_FALSE(shown("Filter:"));
}

TEST_F(PasswordList, EnterCopiesTheRowAndConfirms) {
    ClipboardTerminal terminal;
    const std::vector<std::string> passwords = {"abc", "\xE0\x80x", "XYZ"};
    options.clipboard_clear_seconds = 0;
    screen.type("\x1bOB\r\x1b");  // Down, Enter; Esc closes the confirmation
    tui_show_passwords(screen.app(), options, passwords);
    EXPECT_TRUE(shown(" Copied "));
    // The box shows the last 60 bytes of the two paragraphs.
    EXPECT_TRUE(shown("[word copied to clipboard (UTF-16).  Paste it somewhere safe.]")) << screen.row(4);
    EXPECT_EQ(terminal.read(), "\x1b]52;c;w6Digqx4\a");  // "à€x" as UTF-8
    EXPECT_EQ(terminal.read(300), "");                   // no timer
}

TEST_F(PasswordList, TypedFilterChoosesTheRowAndTheTimerClears) {
    ClipboardTerminal terminal;
    const std::vector<std::string> passwords = {"abc", "qrs", "XYZ"};
    options.clipboard_clear_seconds = 1;
    screen.type("yz\r\x1b");
    tui_show_passwords(screen.app(), options, passwords);
    EXPECT_TRUE(shown("Clipboard will be cleared in 1 seconds."));
    const auto copied = std::chrono::steady_clock::now();
    EXPECT_EQ(terminal.read(), "\x1b]52;c;WFla\a");
    EXPECT_EQ(terminal.read(3000), "\x1b]52;c;IA==\a");
    EXPECT_GE(std::chrono::steady_clock::now() - copied, std::chrono::milliseconds(500));
}

TEST_F(PasswordList, FailedCopyWarnsAndStartsNoTimer) {
    set_clipboard_terminal("/nonexistent/tty");
    options.clipboard_clear_seconds = 1;
    screen.type("\r\x1b");
    tui_show_passwords(screen.app(), options, {"abc"});
    set_clipboard_terminal("/dev/tty");
    EXPECT_TRUE(shown(" Warning "));
    EXPECT_TRUE(shown("[Could not copy to clipboard."));
}

TEST_F(PasswordList, AccentedPasswordsShowTheirLettersUntilTheListIsLeft) {
    screen.take_written();
    screen.type("\x1b");
    tui_show_passwords(screen.app(), options, {"\xE0\xC9\xFFz", "plain"});
    EXPECT_NE(screen.take_written().find("àÉÿz"), std::string::npos);
    EXPECT_TRUE(shown(" Generated Passwords "));
    EXPECT_TRUE(shown("Up/Down move | Enter copy | Esc back | Type filter"));
    // Left: the rows are blank before anything can clear the screen into a history.
    EXPECT_FALSE(shown("àÉÿz"));
    EXPECT_FALSE(shown("plain"));
}
