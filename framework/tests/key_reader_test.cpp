#include <gtest/gtest.h>

#include <chrono>
#include <curses.h>
#include <initializer_list>
#include <thread>
#include <vector>

#include "curses_screen.h"
#include "key_reader.h"

namespace {
// ungetch() puts a key at the head of the queue, so a sequence goes in backwards.
void queue_keys(std::initializer_list<int> keys) {
    std::vector<int> v(keys);
    for (auto it = v.rbegin(); it != v.rend(); ++it) ungetch(*it);
}

// Lets the pseudo-terminal hand the typed bytes to the reading side.
void type_and_settle(CursesScreen& s, const std::string& bytes) {
    s.type(bytes);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
}

struct Case {
    const char* name;
    std::initializer_list<int> keys;
    int want;
};

TEST(ReadKey, SequencesAndScanCodesBecomeCursesKeys) {
    CursesScreen screen(24, 80);
    const Case cases[] = {
        {"Esc [ A", {27, '[', 'A'}, KEY_UP},
        {"Esc O A", {27, 'O', 'A'}, KEY_UP},
        {"224 72", {224, 72}, KEY_UP},
        {"Esc [ B", {27, '[', 'B'}, KEY_DOWN},
        {"Esc [ C", {27, '[', 'C'}, KEY_RIGHT},
        {"Esc [ D", {27, '[', 'D'}, KEY_LEFT},
        {"Esc O F", {27, 'O', 'F'}, KEY_END},
        {"Esc [ H", {27, '[', 'H'}, KEY_HOME},
        {"Esc [ 1 ~", {27, '[', '1', '~'}, KEY_HOME},
        {"Esc [ 7 ~", {27, '[', '7', '~'}, KEY_HOME},
        {"0 71", {0, 71}, KEY_HOME},
        {"Esc [ 3 ~", {27, '[', '3', '~'}, KEY_DC},
        {"224 83", {224, 83}, KEY_DC},
        {"Esc [ 4 ~", {27, '[', '4', '~'}, KEY_END},
        {"Esc [ 8 ~", {27, '[', '8', '~'}, KEY_END},
        {"Esc [ 5 ~", {27, '[', '5', '~'}, KEY_PPAGE},
        {"Esc [ 6 ~", {27, '[', '6', '~'}, KEY_NPAGE},
        {"Esc [ 2 ~ (Insert)", {27, '[', '2', '~'}, 27},
        {"Esc [ ~ (no number)", {27, '[', '~'}, 27},
        {"Esc [ 9 ~", {27, '[', '9', '~'}, 27},
        {"Esc [ 1 0 ~", {27, '[', '1', '0', '~'}, 27},
        {"Esc O P (F1)", {27, 'O', 'P'}, 27},
        {"Esc [ E", {27, '[', 'E'}, 27},
        {"Esc [ G", {27, '[', 'G'}, 27},
        {"Esc x y (no introducer)", {27, 'x', 'A'}, 27},
        {"Esc [ 1 ; 5 C", {27, '[', '1', ';', '5', 'C'}, KEY_RIGHT},
        {"Esc [ 1 ; 5 ~", {27, '[', '1', ';', '5', '~'}, KEY_HOME},
        {"0 59 (F1 scan code)", {0, 59}, 59},
        {"224 73", {224, 73}, KEY_PPAGE},
        {"224 75", {224, 75}, KEY_LEFT},
        {"224 77", {224, 77}, KEY_RIGHT},
        {"224 79", {224, 79}, KEY_END},
        {"224 80", {224, 80}, KEY_DOWN},
        {"224 81", {224, 81}, KEY_NPAGE},
        {"224 74", {224, 74}, 74},
        {"224 76", {224, 76}, 76},
        {"224 78", {224, 78}, 78},
        {"224 82", {224, 82}, 82},
        {"0 then the letter w", {0, 'w'}, 'w'},
    };
    for (const Case& c : cases) {
        for (int (*reader)() : {read_key, read_key_no_letters}) {
            queue_keys(c.keys);
            EXPECT_EQ(reader(), c.want) << c.name;
            EXPECT_FALSE(is_nodelay(stdscr)) << c.name;
            // Nothing of the sequence may be left behind.
            queue_keys({'z'});
            EXPECT_EQ(reader(), 'z') << c.name;
        }
    }
}

// E0 A0..BF and a continuation byte is a UTF-8 letter (U+0800-U+0FFF), read
// byte by byte; every other byte after 224 is still a scan code.
TEST(ReadKey, Utf8LettersStartingWith224) {
    CursesScreen screen(24, 80);
    struct ByteCase {
        const char* name;
        std::initializer_list<int> keys;
        std::vector<int> want;
    };
    const ByteCase cases[] = {
        {"U+0939 Devanagari ha", {0xE0, 0xA4, 0xB9}, {0xE0, 0xA4, 0xB9}},
        {"U+0800 lowest", {0xE0, 0xA0, 0x80}, {0xE0, 0xA0, 0x80}},
        {"U+0FFF highest", {0xE0, 0xBF, 0xBF}, {0xE0, 0xBF, 0xBF}},
        {"U+0E01 Thai then a letter", {0xE0, 0xB8, 0x81, 'x'}, {0xE0, 0xB8, 0x81, 'x'}},
        {"224 A4 alone: scan code", {0xE0, 0xA4}, {0xA4}},
        {"224 A4 then no continuation", {0xE0, 0xA4, 'x'}, {0xA4, 'x'}},
        {"224 9F 80: below A0 stays a scan code", {0xE0, 0x9F, 0x80}, {0x9F, 0x80}},
        {"224 C0 80: above BF stays a scan code", {0xE0, 0xC0, 0x80}, {0xC0, 0x80}},
        {"224 72 still Up", {0xE0, 72, 0x80}, {KEY_UP, 0x80}},
    };
    for (const ByteCase& c : cases) {
        for (int (*reader)() : {read_key, read_key_no_letters}) {
            queue_keys(c.keys);
            for (int want : c.want) EXPECT_EQ(reader(), want) << c.name;
            EXPECT_FALSE(is_nodelay(stdscr)) << c.name;
            queue_keys({'z'});
            EXPECT_EQ(reader(), 'z') << c.name;
        }
    }
    // As a terminal sends them: the letter, then the scan-code pair of old consoles.
    type_and_settle(screen, "\xe0\xa4\xb9\xe0H");
    for (int want : {0xE0, 0xA4, 0xB9, KEY_UP}) EXPECT_EQ(read_key_no_letters(), want);
}

TEST(ReadKey, LoneEscAndAltLetter) {
    CursesScreen screen(24, 80);
    queue_keys({27});
    EXPECT_EQ(read_key(), 27);
    EXPECT_FALSE(is_nodelay(stdscr));

    // Alt+x: Esc and one byte; the byte goes with the Esc.
    queue_keys({27, 'x'});
    EXPECT_EQ(read_key(), 27);
    queue_keys({'q'});
    EXPECT_EQ(read_key(), 'q');
}

TEST(ReadKey, TwoQueuedSequencesGiveOneKey) {
    CursesScreen screen(24, 80);
    queue_keys({27, '[', 'A', 27, '[', 'A', 'q'});
    EXPECT_EQ(read_key(), KEY_UP);
    EXPECT_EQ(read_key(), 'q');
}

TEST(ReadKey, SequenceStopsAfterTwentySixBytes) {
    CursesScreen screen(24, 80);
    std::vector<int> keys = {27, '['};
    for (int i = 0; i < 27; ++i) keys.push_back('1');
    keys.push_back('~');
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) ungetch(*it);
    // '[' plus 25 digits fill the buffer without an end byte: plain Esc.
    EXPECT_EQ(read_key(), 27);
    EXPECT_FALSE(is_nodelay(stdscr));
    EXPECT_EQ(read_key_no_letters(), '1');
    EXPECT_EQ(read_key_no_letters(), '1');
    EXPECT_EQ(read_key_no_letters(), '~');
}

TEST(ReadKey, LetterTableOnlyForTheList) {
    CursesScreen screen(24, 80);
    const std::pair<int, int> letters[] = {
        {9, KEY_DOWN},
        {'j', KEY_DOWN},
        {'J', KEY_DOWN},
        {'s', KEY_DOWN},
        {'S', KEY_DOWN},
        {'k', KEY_UP},
        {'K', KEY_UP},
        {'w', KEY_UP},
        {'W', KEY_UP},
        {'h', KEY_LEFT},
        {'H', KEY_LEFT},
        {'a', KEY_LEFT},
        {'A', KEY_LEFT},
        {'l', KEY_RIGHT},
        {'L', KEY_RIGHT},
        {'d', KEY_RIGHT},
        {'D', KEY_RIGHT},
        {'x', 'x'},
        {'1', '1'},
        {8, 8},
        {10, 10},
        {13, 13},
        {127, 127},
        {200, 200},
        {KEY_F(1), KEY_F(1)},
        {KEY_ENTER, KEY_ENTER},
        {KEY_BTAB, KEY_BTAB},
    };
    for (const auto& [key, want] : letters) {
        queue_keys({key});
        EXPECT_EQ(read_key(), want) << key;
        queue_keys({key});
        EXPECT_EQ(read_key_no_letters(), key) << key;
    }
}

TEST(ReadKey, RealTerminalBytes) {
    CursesScreen screen(24, 80);
    // With keypad mode on, curses delivers the arrow itself; it passes unchanged.
    type_and_settle(screen, "\x1b[A");
    EXPECT_EQ(read_key(), KEY_UP);
    type_and_settle(screen, "\xe0H");
    EXPECT_EQ(read_key(), KEY_UP);
    type_and_settle(screen, std::string("\0;", 2));
    EXPECT_EQ(read_key(), 59);
    type_and_settle(screen, "\x1b");
    EXPECT_EQ(read_key(), 27);
    EXPECT_FALSE(is_nodelay(stdscr));

    // Terminals whose sequences curses does not know arrive raw.
    keypad(stdscr, FALSE);
    type_and_settle(screen, "\x1b[1;5C");
    EXPECT_EQ(read_key(), KEY_RIGHT);
    type_and_settle(screen, "\x1bOA");
    EXPECT_EQ(read_key(), KEY_UP);
    type_and_settle(screen, "\x1b[3~");
    EXPECT_EQ(read_key_no_letters(), KEY_DC);
    type_and_settle(screen, "\x1bx");
    EXPECT_EQ(read_key(), 27);
    type_and_settle(screen, "w");
    EXPECT_EQ(read_key(), KEY_UP);
    keypad(stdscr, TRUE);
}
}  // namespace
