#include <gtest/gtest.h>

#include <curses.h>

#include "app.h"
#include "curses_screen.h"
#include "terminal.h"

// Every endwin of the test program passes here (linked with --wrap=endwin).
int endwin_calls = 0;
extern "C" int __real_endwin();
extern "C" int __wrap_endwin() {
    ++endwin_calls;
    return __real_endwin();
}

namespace {
TEST(FitText, CutsByBytes) {
    const struct {
        const char* text;
        int width;
        const char* fitted;
    } cases[] = {
        {"abcdef", 0, ""},       {"abcdef", -3, ""},      {"abcdef", 3, "abc"}, {"abcdef", 5, "ab..."},
        {"abcdef", 6, "abcdef"}, {"abcdef", 9, "abcdef"}, {"", 4, ""},          {"abcdef", 4, "a..."},
        {"abcdef", 1, "a"},
    };
    for (const auto& c : cases) EXPECT_EQ(fit_text(c.text, c.width), c.fitted) << c.text << " at " << c.width;
}

bool drawn(CursesScreen& screen, int y, int x) { return screen.text_at(y, x, 1) != " "; }

TEST(DrawBox, DegenerateSizes) {
    CursesScreen screen(24, 80);
    clear();
    draw_box(1, 1, 1, 10, PAIR_FRAME);
    draw_box(3, 1, 10, 1, PAIR_FRAME);
    for (int x = 0; x < 12; ++x) EXPECT_FALSE(drawn(screen, 1, x)) << x;
    for (int y = 3; y < 13; ++y) EXPECT_FALSE(drawn(screen, y, 1)) << y;

    draw_box(15, 10, 2, 6, PAIR_FRAME);  // only the two corner rows
    for (int x = 10; x < 16; ++x) EXPECT_TRUE(drawn(screen, 15, x) && drawn(screen, 16, x)) << x;
    EXPECT_FALSE(drawn(screen, 17, 10));

    draw_box(2, 40, 5, 2, PAIR_STATUS);  // corners and the two sides
    for (int y = 2; y < 7; ++y) EXPECT_TRUE(drawn(screen, y, 40) && drawn(screen, y, 41)) << y;
    EXPECT_FALSE(drawn(screen, 2, 42));
    EXPECT_TRUE(screen.has_pair(4, 41, PAIR_STATUS));
}

TEST(DrawBox, FrameAroundAnEmptyInside) {
    CursesScreen screen(24, 80);
    clear();
    draw_box(2, 3, 5, 8, PAIR_FRAME);
    EXPECT_TRUE(drawn(screen, 2, 3) && drawn(screen, 2, 10) && drawn(screen, 6, 3) && drawn(screen, 6, 10));
    EXPECT_EQ(screen.text_at(3, 4, 6), "      ");
    EXPECT_TRUE(screen.has_pair(6, 10, PAIR_FRAME));
    // Off the screen is clipped, not wrapped.
    draw_box(20, 75, 10, 10, PAIR_FRAME);
    EXPECT_TRUE(drawn(screen, 20, 79));
    EXPECT_FALSE(drawn(screen, 21, 0));
}

TEST(App, ShutdownEndsCursesOnce) {
    const int before = endwin_calls;
    {
        CursesScreen screen(24, 80);
        EXPECT_TRUE(screen.app().active);
        app_shutdown(screen.app());
        EXPECT_FALSE(screen.app().active);
        EXPECT_TRUE(isendwin());
        EXPECT_EQ(endwin_calls, before + 1);
        app_shutdown(screen.app());
        EXPECT_FALSE(screen.app().active);
    }
    // Neither the second call nor the App's destructor ended curses again.
    EXPECT_EQ(endwin_calls, before + 1);
}

TEST(TerminalText, ControlBytesAreBlanksAndArrowsStayArrows) {
    set_text_encoding(TextEncoding::utf8);
    EXPECT_EQ(terminal_text("a\nb\tc\x1b"
                            "d"),
              L"a b c d");
    EXPECT_EQ(terminal_text("Use \x18/\x19 keys"), L"Use \u2191/\u2193 keys");
    EXPECT_EQ(terminal_text("R\xc3\xa9sultats"), L"R\u00e9sultats");
    // Bytes that are not UTF-8 (a Latin-1 file name, a cut letter) still show as one cell each.
    EXPECT_EQ(terminal_text("caf\xe9 au lait"), L"caf\u00e9 au lait");
    EXPECT_EQ(terminal_text("\xff"), L"\u00ff");
}

TEST(TerminalText, LettersSplitByACutAreLeftOut) {
    set_text_encoding(TextEncoding::utf8);
    const std::string label = "M\xc3\xa1scara do nome";
    EXPECT_EQ(terminal_text(fit_text(label, 5)), L"M...");
    EXPECT_EQ(terminal_text(label.substr(0, 2)), L"M");
    EXPECT_EQ(terminal_text(label.substr(2)), L"scara do nome");
    EXPECT_EQ(terminal_text("\xe2\x86"), L"");
    EXPECT_EQ(terminal_text("Gr\xc3\xb6\xc3\x9f"
                            "e"),
              L"Gr\u00f6\u00df"
              "e");
}

TEST(TerminalText, Windows1252Programs) {
    set_text_encoding(TextEncoding::cp1252);
    EXPECT_EQ(terminal_text("L\xe4nge \x80 \xc3\xa9"), L"L\u00e4nge \u20ac \u00c3\u00a9");
    EXPECT_EQ(terminal_text("\x81\x7f"), L"  ");
    set_text_encoding(TextEncoding::utf8);
}

TEST(TerminalText, TextNeverWrapsPastTheScreenEdge) {
    CursesScreen screen(24, 80);
    clear();
    put_text(5, 70, "0123456789abcdef");
    put_text(7, 2, "line\nbreak");
    put_text(9, -3, "xyzabc");
    EXPECT_EQ(screen.text_at(5, 70, 10), "0123456789");
    EXPECT_EQ(screen.text_at(6, 0, 6), "      ");
    EXPECT_EQ(screen.text_at(7, 2, 10), "line break");
    EXPECT_EQ(screen.text_at(9, 0, 4), "abc ");
    put_text(11, 0,
             "Gr\xc3\xb6\xc3\x9f"
             "e");
    EXPECT_EQ(screen.text_at(11, 0, 5), "Größe");
}
}  // namespace
