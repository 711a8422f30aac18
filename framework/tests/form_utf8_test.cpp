#include <gtest/gtest.h>

#include <curses.h>

#include "curses_screen.h"
#include "form.h"
#include "terminal.h"

namespace {
const std::string kCafe = "caf\xc3\xa9";       // café
const std::string kStar = "\xe2\x98\x85";      // ★
const std::string kFotos = "Fotos " + kStar;   // Fotos ★
const std::string kGrin = "\xf0\x9f\x98\x80";  // a four-byte letter
const std::string kNichi = "\xe6\x97\xa5";     // 日, two cells wide

Form one_field_form(zeylatui::App& app, const std::string& value, int max_len = 128) {
    Form form;
    form.app = &app;
    form.title = "Setup";
    form.fields.push_back(make_form_field("Target:", value, max_len));
    return form;
}

// Types the bytes into a one-field form, then Esc; returns the value.
std::string typed_value(CursesScreen& screen, const std::string& start, const std::string& bytes) {
    Form form = one_field_form(screen.app(), start);
    screen.type(bytes + "\x1b");
    run_form(form);
    return form.fields[0].value;
}

TEST(FormUtf8, TypedLettersAreInsertedWholeAndOtherBytesIgnored) {
    set_text_encoding(TextEncoding::utf8);
    CursesScreen screen(24, 80);
    struct Case {
        const char* what;
        std::string typed;
        std::string value;
    };
    const Case cases[] = {
        {"two-byte letter", kCafe, kCafe},
        {"three-byte letter", kFotos, kFotos},
        {"four-byte letter", "a" + kGrin + "b", "a" + kGrin + "b"},
        {"lone continuation byte",
         "a\x80"
         "b",
         "ab"},
        {"bytes that are never UTF-8",
         "a\xff\xfe\xc0\xc1"
         "b",
         "ab"},
        {"lead byte cut short by ASCII",
         "a\xc3"
         "b",
         "ab"},
        {"lead byte cut short by another lead", "\xc3\xc3\xa9", "\xc3\xa9"},
        {"overlong forms",
         "\xe0\x80\xaf\xf0\x80\x80\xaf"
         "x",
         "x"},
        {"surrogate half",
         "\xed\xa0\x80"
         "x",
         "x"},
        {"beyond U+10FFFF",
         "\xf4\x90\x80\x80"
         "x",
         "x"},
        {"C1 control",
         "\xc2\x85"
         "x",
         "x"},
        {"Enter between the bytes of a letter",
         "\xc3\r\xa9"
         "x",
         "x"},
    };
    for (const Case& c : cases) EXPECT_EQ(typed_value(screen, "", c.typed), c.value) << c.what;
}

TEST(FormUtf8, BackspaceRemovesOneWholeLetter) {
    set_text_encoding(TextEncoding::utf8);
    CursesScreen screen(24, 80);
    struct Case {
        std::string start;
        int backspaces;
        std::string value;
    };
    const Case cases[] = {
        {kCafe, 1, "caf"},
        {kFotos, 2, "Fotos"},
        {"a" + kGrin, 1, "a"},
        {kNichi + kNichi, 1, kNichi},
        // Bytes that are no letter go one at a time.
        {"ab\xff", 1, "ab"},
        {"x\xe2\x98", 1, "x\xe2"},
        {"x\x80\x80\x80\x80", 1, "x\x80\x80\x80"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(typed_value(screen, c.start, std::string(static_cast<std::size_t>(c.backspaces), '\x7f')), c.value)
            << c.start;
}

TEST(FormUtf8, LimitCountsBytesAndKeepsLettersWhole) {
    set_text_encoding(TextEncoding::utf8);
    CursesScreen screen(24, 80);
    Form form = one_field_form(screen.app(), "abcd", 5);
    // é needs two bytes, one is left: it is refused with a beep.
    screen.type("\xc3\xa9\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "abcd");
    EXPECT_EQ(screen.beeps(), 1);

    screen.type("!" + kStar + "\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "abcd!");
    EXPECT_EQ(screen.beeps(), 2);

    form.fields[0].value = "abc";
    screen.type("\xc3\xa9\x1b");
    run_form(form);
    EXPECT_EQ(form.fields[0].value, "abc\xc3\xa9");
    EXPECT_EQ(screen.beeps(), 2);
}

TEST(FormUtf8, FieldsDrawLettersWholeInsideTheirBrackets) {
    set_text_encoding(TextEncoding::utf8);
    CursesScreen screen(24, 80);
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    struct Case {
        std::string value;
        bool masked;
        std::string cells;  // columns 35 to 76 on an 80x24 screen: "[" + 40 cells + "]"
    };
    const Case cases[] = {
        {kCafe, false, "[" + kCafe + std::string(36, ' ') + "]"},
        {kFotos, false, "[" + kFotos + std::string(33, ' ') + "]"},
        {kCafe, true, "[****" + std::string(36, ' ') + "]"},
        {kFotos, true, "[*******" + std::string(33, ' ') + "]"},
        // Longer than the field: the last 40 letters, never a part of one.
        {"x" + repeat("\xc3\xa9", 69), false, "[" + repeat("\xc3\xa9", 40) + "]"},
        {"a" + repeat(kStar, 45), false, "[" + repeat(kStar, 40) + "]"},
        {repeat(kGrin, 50), true, "[" + std::string(40, '*') + "]"},
    };
    for (const Case& c : cases) {
        Form form = one_field_form(screen.app(), c.value);
        form.fields[0].masked = c.masked;
        screen.type("\x1b");
        run_form(form);
        EXPECT_EQ(screen.text_at(4, 35, 42), c.cells) << c.value;
    }

    // Two-cell letters, combining marks and stray bytes: as many as fit in 40
    // cells, the bracket in its place.
    for (const std::string& value : {repeat(kNichi, 25), "x" + repeat(kNichi, 20), repeat(kNichi, 3),
                                     repeat("e\xcc\x81", 30), "\xe2\x98" + repeat("a\x80", 30)}) {
        Form form = one_field_form(screen.app(), value);
        screen.type("\x1b");
        run_form(form);
        EXPECT_EQ(screen.text_at(4, 76, 1), "]") << value;
        EXPECT_EQ(screen.text_at(4, 77, 1), screen.text_at(5, 77, 1)) << value;  // the box's right border
        EXPECT_EQ(screen.text_at(4, 36, 40).find('x'), std::string::npos) << value;
    }
}

TEST(FormUtf8, Windows1252ProgramKeepsToPrintableAscii) {
    set_text_encoding(TextEncoding::cp1252);
    CursesScreen screen(24, 80);
    EXPECT_EQ(typed_value(screen, "", kCafe + " " + kStar + "\xe9!"), "caf !");
    // Its own letters are one byte each: drawn one cell each, erased one at a time.
    EXPECT_EQ(typed_value(screen, "\xe9t\xe9\xe9", "\x7f"), "\xe9t\xe9");
    Form form = one_field_form(screen.app(), "\xe9t\xe9");
    form.fields[0].masked = true;
    screen.type("\x1b");
    run_form(form);
    EXPECT_EQ(screen.text_at(4, 35, 42), "[***" + std::string(37, ' ') + "]");
    form.fields[0].masked = false;
    screen.type("\x1b");
    run_form(form);
    EXPECT_EQ(screen.text_at(4, 35, 5), "[\xc3\xa9t\xc3\xa9 ");
    set_text_encoding(TextEncoding::utf8);
}
}  // namespace
