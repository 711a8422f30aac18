#include <gtest/gtest.h>

#include <string>

#include "curses_screen.h"
#include "i18n.h"
#include "options_form.h"
#include "terminal.h"

using namespace corvane;

namespace {
// 30 x 100 like the end-to-end test: box 96 x 26 at (2, 2); fields on rows
// 4, 6, 8, 10 with their values from column 35; buttons on row 24.
constexpr int kRows = 30, kCols = 100;
constexpr int kValueCol = 35, kButtonRow = 24;

class OptionsForm : public ::testing::Test {
protected:
    void SetUp() override {
        set_text_encoding(TextEncoding::cp1252);
        set_language("en");
    }
    void TearDown() override { set_language("en"); }
    CursesScreen screen{kRows, kCols};
    GenOptions options;
    bool generate = true;
};

std::string field_value(const CursesScreen& s, int field) { return s.text_at(4 + 2 * field, kValueCol, 62); }
}  // namespace

TEST(OptionNumbers, ParseAsA32BitStrtol) {
    struct Case {
        const char* text;
        bool ok;
        std::int32_t value;
    };
    const Case cases[] = {
        {"12", true, 12},
        {" 12 ", true, 12},
        {"+12", true, 12},
        {"\t12\n", true, 12},
        {"0", true, 0},
        {"-3", true, -3},
        {"007", true, 7},
        {"12a", false, 0},
        {"0x10", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"+", false, 0},
        {"- 3", false, 0},
        {"1 2", false, 0},
        {"1.5", false, 0},
        {"2147483647", true, 2147483647},
        {"2147483648", true, 2147483647},
        {"99999999999999999999999", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"-99999999999", true, INT32_MIN},
    };
    for (const Case& c : cases) {
        std::int32_t value = -77;
        EXPECT_EQ(parse_number_field(c.text, value), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        }
    }
}

TEST(OptionNumbers, FirstFailingFieldNamesTheMessage) {
    struct Case {
        const char* length;
        const char* quantity;
        const char* seconds;
        const char* error;  // null: accepted
    };
    const Case cases[] = {
        {"16", "1", "0", nullptr},
        {" 12 ", "+3", "30", nullptr},
        {"0", "0", "-1", "err_invalid_length"},
        {"-3", "1", "0", "err_invalid_length"},
        {"12", "0", "-1", "err_invalid_quantity"},
        {"12", "", "0", "err_invalid_quantity"},
        {"12", "1", "-1", "err_invalid_clipclear"},
        {"12", "1", "", "err_invalid_clipclear"},
        {"99999999999", "1", "99999999999", nullptr},
        {"12", "-99999999999", "0", "err_invalid_quantity"},
    };
    for (const Case& c : cases) {
        std::int32_t length = 0, quantity = 0, seconds = 0;
        const char* error = check_option_numbers(c.length, c.quantity, c.seconds, length, quantity, seconds);
        EXPECT_STREQ(error, c.error) << c.length << " / " << c.quantity << " / " << c.seconds;
    }
}

TEST_F(OptionsForm, GenerateWithAllClassesOffSwitchesFourOn) {
    screen.type("\t\t\t\t\r");  // to Generate
    EXPECT_TRUE(tui_collect_options(screen.app(), options, generate));
    EXPECT_TRUE(generate);
    EXPECT_TRUE(options.upper && options.lower && options.digits && options.symbols);
    EXPECT_FALSE(options.accented);
    EXPECT_EQ(options.length, 16);
    EXPECT_EQ(options.quantity, 1);
    EXPECT_EQ(options.clipboard_clear_seconds, 0);

    // The next showing starts from the stored values and reads ON.
    screen.type("\x1b");
    EXPECT_FALSE(tui_collect_options(screen.app(), options, generate));
    EXPECT_FALSE(generate);
    const std::string buttons = screen.row(kButtonRow);
    EXPECT_NE(buttons.find("[ Generate ] [ Upper (A-Z): ON ] [ Lower (a-z): ON ] [ Digits (0-9): ON ]"),
              std::string::npos)
        << buttons;
    EXPECT_NE(screen.row(2).find(" Corvane "), std::string::npos);
    EXPECT_EQ(field_value(screen, 0), "[16" + std::string(58, ' ') + "]");
}

TEST_F(OptionsForm, ToggleKeepsTypedTextAndFocus) {
    // Type into length and exclude, then press the Accented toggle (button 4).
    screen.type("5\t\t x \t\t\t\t\t\t\r\x1b");
    EXPECT_FALSE(tui_collect_options(screen.app(), options, generate));
    EXPECT_TRUE(options.accented);  // toggles act at once
    EXPECT_EQ(options.length, 16);  // numbers only on Generate
    EXPECT_EQ(options.exclude, "");
    EXPECT_FALSE(generate);

    EXPECT_EQ(field_value(screen, 0).substr(0, 4), "[165");
    EXPECT_EQ(field_value(screen, 2).substr(0, 5), "[ x  ");
    const std::string buttons = screen.row(kButtonRow);
    const auto at = buttons.find("[ Accented: ON ]");
    ASSERT_NE(at, std::string::npos) << buttons;
    EXPECT_TRUE(screen.has_pair(kButtonRow, static_cast<int>(at) + 2, PAIR_FOCUS));
}

TEST_F(OptionsForm, InvalidNumbersAreCorrectedInPlace) {
    // Length 12a is refused (box closed with Esc); back on the length field,
    // the a goes and blanks around the exclude text are dropped on storing.
    screen.type(
        "\x7f\x7f"
        "12a\t\t  xyz \t\t\r"
        "\x1b"
        "\x1b[Z\x1b[Z\x1b[Z\x1b[Z\x7f"
        "\t\t\t\t\r");
    EXPECT_TRUE(tui_collect_options(screen.app(), options, generate));
    EXPECT_EQ(options.length, 12);
    EXPECT_EQ(options.exclude, "xyz");
}

TEST_F(OptionsForm, EscAfterARefusalStoresNothing) {
    screen.type(
        "\x7f\x7f"
        "40\t\x7f"
        "0\t\t\x7f"
        "9\t\r\x1b\x1b");
    EXPECT_FALSE(tui_collect_options(screen.app(), options, generate));
    EXPECT_EQ(options.length, 16);
    EXPECT_EQ(options.quantity, 1);
    EXPECT_EQ(options.clipboard_clear_seconds, 0);
    EXPECT_FALSE(generate);
}

TEST_F(OptionsForm, ExitButtonLeaves) {
    screen.type("\x1b[Z\r");  // Shift+Tab from the first field reaches Exit
    options.upper = true;
    EXPECT_FALSE(tui_collect_options(screen.app(), options, generate));
    EXPECT_FALSE(generate);
    EXPECT_TRUE(options.upper);
    const std::string buttons = screen.row(kButtonRow);
    const auto at = buttons.find("[ Exit ]");
    ASSERT_NE(at, std::string::npos) << buttons;  // the row has scrolled to the focus
    EXPECT_TRUE(screen.has_pair(kButtonRow, static_cast<int>(at) + 2, PAIR_FOCUS));
}

TEST_F(OptionsForm, NumbersBeyond32BitsPassAsTheLargest) {
    screen.type(
        "\x7f\x7f"
        "99999999999\t\t\t\x7f"
        "99999999999\t\r");
    EXPECT_TRUE(tui_collect_options(screen.app(), options, generate));
    EXPECT_EQ(options.length, 2147483647);
    EXPECT_EQ(options.clipboard_clear_seconds, 2147483647);
}

TEST_F(OptionsForm, GermanTextsShowTheirLetters) {
    set_language("de");
    screen.type("\x1b");
    tui_collect_options(screen.app(), options, generate);
    EXPECT_EQ(screen.text_at(4, 5, 6), "Länge:");
    EXPECT_EQ(screen.text_at(8, 5, 24), "Ausschließen (optional):");
    EXPECT_NE(screen.row(26).find("TAB wechseln | Enter aktivieren | Esc beenden"), std::string::npos);
    EXPECT_NE(screen.row(kButtonRow).find("[ Großbuchstaben (A-Z): OFF ]"), std::string::npos)
        << screen.row(kButtonRow);
}
