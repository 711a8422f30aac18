#include <gtest/gtest.h>

#include <chrono>
#include <curses.h>

#include "curses_screen.h"
#include "keys.h"

namespace {
std::vector<int> keys_up_to_q(CursesScreen& screen, const std::string& typed) {
    screen.type(typed + "q");
    std::vector<int> keys;
    for (int key = read_screen_key(); key != 'q' && key != ERR && keys.size() < 10; key = read_screen_key())
        keys.push_back(key);
    return keys;
}

TEST(ScreenKeys, UnknownEscapeSequencesAreOneIgnoredKey) {
    // vt100's description knows \EOB (Down) but neither Shift+Tab (\E[Z) nor
    // the modified keys of later terminals.
    CursesScreen screen(24, 80, "vt100");
    const struct {
        const char* typed;
        std::vector<int> keys;
    } cases[] = {
        {"\x1b[Z", {}},
        {"\x1b[Za", {'a'}},
        {"\x1b[1;5A\x1b[200~b", {'b'}},
        {"\x1bOZ", {}},
        {"\x1bOB", {KEY_DOWN}},
        {"\x1bx", {27, 'x'}},             // Esc, then a key of its own
        {"\x1b[\x7f", {127}},             // cut short: the byte after is a key again
        {"\x1b[Z\x1b[Z\t", {'\t'}},
    };
    for (const auto& c : cases) EXPECT_EQ(keys_up_to_q(screen, c.typed), c.keys) << c.typed + 1;
}

TEST(ScreenKeys, ALoneEscIsEscAtOnce) {
    CursesScreen screen(24, 80, "vt100");
    screen.type("\x1b");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(read_screen_key(), 27);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}
}  // namespace
