#include <gtest/gtest.h>

#include <curses.h>

#include "curses_screen.h"
#include "form.h"

namespace {
Form sample_form(zeylatui::App& app, int nfields, int nbuttons) {
    Form form;
    form.app = &app;
    form.title = "Setup";
    for (int i = 0; i < nfields; ++i)
        form.fields.push_back(make_form_field(("Field " + std::to_string(i) + ":").c_str(), "", 128));
    std::vector<FormButton> buttons;
    for (int j = 0; j < nbuttons; ++j) buttons.push_back(FormButton{"B" + std::to_string(j), {}, false});
    form_set_buttons(form, std::move(buttons));
    return form;
}

TEST(FormDrawing, LayoutOn80x24) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 2, 3);
    form.fields[0].value = std::string(100, 'x') + "END";
    form.fields[1].value = "12345";
    form.fields[1].masked = true;
    screen.type("\x1b");
    EXPECT_EQ(run_form(form), TUI_CANCELLED);

    // Box 76x20 at (2,2): title centred on the top border.
    EXPECT_EQ(screen.text_at(2, 2 + (76 - 7) / 2, 7), " Setup ");
    EXPECT_TRUE(screen.has_pair(2, 2, PAIR_FRAME));
    // Labels at column 5, values in brackets at column 35, 40 cells wide.
    EXPECT_EQ(screen.text_at(4, 5, 8), "Field 0:");
    EXPECT_EQ(screen.text_at(4, 35, 42), "[" + std::string(37, 'x') + "END]");
    EXPECT_TRUE(screen.has_pair(4, 35, PAIR_FOCUS));
    EXPECT_FALSE(screen.reversed(4, 35));  // colour alone marks it
    EXPECT_EQ(screen.text_at(6, 35, 42), "[*****" + std::string(35, ' ') + "]");
    EXPECT_FALSE(screen.has_pair(6, 35, PAIR_FOCUS));
    // Buttons: S = 3 * 7 = 21, first at 2 + (76 - 21 + 1) / 2 = 30, one blank apart.
    EXPECT_EQ(screen.text_at(18, 30, 20), "[ B0 ] [ B1 ] [ B2 ]");
    EXPECT_EQ(screen.text_at(20, 4, 53), "Tab next | Shift+Tab prev | Enter activate | Esc exit");
    EXPECT_TRUE(screen.has_pair(20, 4, PAIR_STATUS));
}

TEST(FormDrawing, LayoutOn120x40) {
    CursesScreen screen(40, 120);
    Form form = sample_form(screen.app(), 1, 1);
    form.fields[0].label = std::string(40, 'L');
    form.fields[0].value = std::string(70, 'v');
    form.focus = 1;
    screen.type("\x1b");
    run_form(form);
    // Box 110x26 at (7,5); label cut to 28, value column 60 wide at 38.
    EXPECT_EQ(screen.text_at(9, 8, 28), std::string(25, 'L') + "...");
    EXPECT_EQ(screen.text_at(9, 38, 62), "[" + std::string(60, 'v') + "]");
    EXPECT_FALSE(screen.has_pair(9, 38, PAIR_FOCUS));
    EXPECT_TRUE(screen.has_pair(29, 5 + 52, PAIR_FOCUS));
    EXPECT_EQ(screen.text_at(29, 5 + (110 - 6 + 1) / 2, 6), "[ B0 ]");
}

TEST(FormDrawing, ShortTerminalShowsOnlyTheFieldsThatFit) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 8, 1);
    // Tab seven times reaches the undrawn eighth field, which still takes typing.
    screen.type(std::string(7, '\t') + "z\x1b");
    run_form(form);
    EXPECT_EQ(form.focus, 7);
    EXPECT_EQ(form.fields[7].value, "z");
    EXPECT_EQ(screen.text_at(16, 5, 8), "Field 6:");
    EXPECT_EQ(screen.text_at(18, 5, 8), "        ");
}

TEST(FormKeys, FocusCyclesOverFieldsAndButtons) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 2, 3);
    screen.type(std::string(5, '\t') + "\x1b");
    run_form(form);
    EXPECT_EQ(form.focus, 0);

    screen.type("\x1b[Z\r");
    EXPECT_EQ(run_form(form), 2);
    EXPECT_EQ(form.focus, 4);

    // Arrows move as Tab and Shift+Tab do; the focus carries over between runs.
    screen.type("\x1bOB\x1bOB\x1bOA\x1b");
    run_form(form);
    EXPECT_EQ(form.focus, 0);
}

TEST(FormKeys, EnterOnAButtonRunsItsActionAndReturnsItsIndex) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 1, 2);
    int runs = 0;
    form.buttons[1].action = [&runs] { ++runs; };
    screen.type("\r\t\t\r");  // Enter on the field does nothing
    EXPECT_EQ(run_form(form), 1);
    EXPECT_EQ(runs, 1);
    form.focus = 1;
    screen.type("x\r");  // a letter on a button is ignored; empty action
    EXPECT_EQ(run_form(form), 0);
    EXPECT_EQ(runs, 1);
}

TEST(FormKeys, TypingRespectsTheLimitAndBackspaceEdits) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 1, 0);
    form.fields[0].max_len = 3;
    form.fields[0].value = "abc";
    screen.type("d\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "abc");
    EXPECT_EQ(screen.beeps(), 1);

    screen.type("\x7f\x08");
    screen.push_key(KEY_BACKSPACE);
    screen.type("\x7f\x7f\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "");
    EXPECT_EQ(screen.beeps(), 1);  // Backspace on an empty value is silent

    // Keys that are neither printable ASCII nor UTF-8 letters leave the value alone.
    screen.type(
        "a\x1bOD\x1bOC\x1bOH\r\xff\x80"
        "b\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "ab");
}

TEST(FormKeys, FormWithoutElementsOnlyLeavesOnEsc) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 0, 0);
    // Every key before the Esc is read and ignored; the keys after it stay unread.
    screen.type(
        "\t\r\n abc\x7f\xc3\xa9\x1bOB\x1bOA\x1b[Z\x1b"
        "zq");
    EXPECT_EQ(run_form(form), TUI_CANCELLED);
    EXPECT_EQ(form.focus, 0);
    EXPECT_EQ(screen.take_unread_keys(), (std::vector<int>{'z', 'q'}));
}

TEST(FormKeys, InstalledKeyReaderFeedsTheForm) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 1, 1);
    static std::vector<int> keys;
    keys = {'h', 'i', 9, 13};
    set_form_key_reader([] {
        const int k = keys.front();
        keys.erase(keys.begin());
        return k;
    });
    EXPECT_EQ(run_form(form), 0);
    EXPECT_EQ(form.fields[0].value, "hi");

    // A terminal that has gone away reads ERR for ever: the form leaves instead of spinning.
    keys = {'x', ERR, 'y'};
    EXPECT_EQ(run_form(form), TUI_CANCELLED);
    set_form_key_reader(nullptr);
    EXPECT_EQ(keys, std::vector<int>{'y'});
}

TEST(FormButtons, WideButtonRowScrollsWithTheFocus) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 1, 0);
    std::vector<FormButton> buttons;
    for (const char* label : {"Generate", "Upper (A-Z): ON", "Lower (a-z): ON", "Digits (0-9): ON", "Accented: OFF",
                              "Symbols: ON", "Guarantee each class: OFF", "Exit"})
        buttons.push_back(FormButton{label, {}, false});
    form_set_buttons(form, std::move(buttons));

    form.focus = 1;
    screen.type("\x1b");
    run_form(form);
    EXPECT_NE(screen.row(18).find("[ Generate ]"), std::string::npos);
    EXPECT_NE(screen.row(18).find(">"), std::string::npos);
    EXPECT_EQ(screen.row(18).find("[ Exit ]"), std::string::npos);

    // Every button, the last included, shows whole when it has the focus.
    for (int b = 0; b < 8; ++b) {
        form.focus = 1 + b;
        screen.type("\x1b");
        run_form(form);
        const std::string row = screen.row(18);
        const std::string shown = "[ " + form.buttons[static_cast<std::size_t>(b)].label + " ]";
        const auto at = row.find(shown);
        ASSERT_NE(at, std::string::npos) << shown << " in " << row;
        EXPECT_TRUE(screen.has_pair(18, static_cast<int>(at), PAIR_FOCUS)) << shown;
        EXPECT_LE(at + shown.size(), 2u + 76u - 2u) << shown;
    }
    EXPECT_NE(screen.row(18).find("<"), std::string::npos);
}

TEST(FormButtons, RowThatEndsAtTheBorderIsDrawnInPlace) {
    CursesScreen screen(24, 80);
    Form form = sample_form(screen.app(), 1, 0);
    // S = 74 on a 76-column box: first button at 2 + clamp(1, 2, 74) = 4, last cell at column 76.
    form_set_buttons(form, {{std::string(32, 'a'), {}, false}, {std::string(32, 'b'), {}, false}});
    screen.type("\x1b");
    run_form(form);
    EXPECT_EQ(screen.text_at(18, 3, 74), " [ " + std::string(32, 'a') + " ] [ " + std::string(32, 'b') + " ]");

    // One column more and the row scrolls: the second button waits behind '>'.
    form.buttons[1].label += "b";
    screen.type("\x1b");
    run_form(form);
    EXPECT_EQ(screen.row(18).find(std::string(33, 'b')), std::string::npos);
    EXPECT_EQ(screen.text_at(18, 75, 1), ">");
}

TEST(FormDrawing, SameLayoutWithoutColours) {
    CursesScreen screen(24, 80, "vt100");
    ASSERT_FALSE(has_colors());
    Form form = sample_form(screen.app(), 2, 2);
    form.fields[0].value = "typed";
    screen.type("\x1b");
    run_form(form);
    EXPECT_EQ(screen.text_at(2, 2 + (76 - 7) / 2, 7), " Setup ");
    EXPECT_EQ(screen.text_at(4, 5, 8), "Field 0:");
    EXPECT_EQ(screen.text_at(4, 35, 7), "[typed ");
    EXPECT_EQ(screen.text_at(18, 33, 13), "[ B0 ] [ B1 ]");
    // Without colours the focused field and only it is in reverse video.
    for (int x = 35; x < 77; ++x) {
        EXPECT_TRUE(screen.has_pair(4, x, 0)) << x;
        EXPECT_TRUE(screen.reversed(4, x)) << x;
        EXPECT_FALSE(screen.reversed(6, x)) << x;
    }
    EXPECT_FALSE(screen.reversed(18, 33));

    // Tab moves the mark to the next field, then onto a button.
    form.focus = 1;
    screen.type("\x1b");
    run_form(form);
    EXPECT_FALSE(screen.reversed(4, 35));
    EXPECT_TRUE(screen.reversed(6, 35));
    form.focus = 2;
    screen.type("\x1b");
    run_form(form);
    EXPECT_TRUE(screen.reversed(18, 33));
    EXPECT_FALSE(screen.reversed(6, 35));
}

TEST(ToggleLabel, AppendsTheStateWord) { EXPECT_EQ(toggle_label("Symbols", true), "Symbols: toggle_on"); }
}  // namespace
