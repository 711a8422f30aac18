#include <gtest/gtest.h>

#include <cstdlib>
#include <curses.h>
#include <filesystem>
#include <sstream>
#include <term.h>
#include <unistd.h>

#include "curses_screen.h"
#include "terminal_check.h"

namespace {
// TERM set for one test, put back afterwards.
class ScopedTerm {
public:
    explicit ScopedTerm(const char* value) {
        if (const char* old = std::getenv("TERM")) saved_ = old, had_ = true;
        if (value != nullptr)
            setenv("TERM", value, 1);
        else
            unsetenv("TERM");
    }
    ~ScopedTerm() {
        if (had_)
            setenv("TERM", saved_.c_str(), 1);
        else
            unsetenv("TERM");
    }

private:
    std::string saved_;
    bool had_ = false;
};

TEST(TerminalCheck, OnlyTerminalsThatAddressTheCursor) {
    const struct {
        const char* term;
        bool can;
    } cases[] = {
        {"xterm-256color", true}, {"vt100", true}, {"linux", true},  {"vt52", true},
        {"dumb", false},          {"", false},     {nullptr, false}, {"no-such-terminal-anywhere", false},
    };
    for (const auto& c : cases) EXPECT_EQ(terminal_can_address_cursor(c.term), c.can) << (c.term ? c.term : "(null)");
}

TEST(TerminalCheck, ADescriptionWithoutCupIsRefusedTheSameWithIt) {
    // A terminal that can clear its screen and move down, but not to a given cell.
    const auto dir = std::filesystem::temp_directory_path() / ("zeyla-terminfo-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto source = dir / "glass.src";
    {
        std::FILE* f = std::fopen(source.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("zeyla-glass|screen without cursor addressing,\n\tcols#80, lines#24,\n"
                   "\tbel=^G, clear=\\E[H\\E[J, cr=\\r, cud1=\\n, home=\\E[H,\n"
                   "zeyla-glass-cup|the same screen with cursor addressing,\n"
                   "\tcup=\\E[%i%p1%d;%p2%dH, use=zeyla-glass,\n",
                   f);
        std::fclose(f);
    }
    const std::string tic = "tic -o '" + dir.string() + "' '" + source.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(tic.c_str()), 0);
    setenv("TERMINFO", dir.c_str(), 1);
    EXPECT_FALSE(terminal_can_address_cursor("zeyla-glass"));
    EXPECT_TRUE(terminal_can_address_cursor("zeyla-glass-cup"));
    unsetenv("TERMINFO");
    std::filesystem::remove_all(dir);
}

TEST(TerminalCheck, SaysWhyInOneLine) {
    const struct {
        const char* term;
        bool ok;
        std::string line;
    } cases[] = {
        {"vt100", true, ""},
        {"dumb", false, "This program needs a terminal that can move the cursor; TERM=dumb cannot.\n"},
        {nullptr, false, "This program needs a terminal that can move the cursor; TERM is not set.\n"},
        {"x\x1b]0;owned\x07", false,
         "This program needs a terminal that can move the cursor; TERM=x\\x1b]0;owned\\x07 cannot.\n"},
    };
    for (const auto& c : cases) {
        ScopedTerm term(c.term);
        std::ostringstream err;
        EXPECT_EQ(check_terminal(err), c.ok);
        EXPECT_EQ(err.str(), c.line);
    }
}

TEST(TerminalCheck, LeavesARunningScreenAlone) {
    CursesScreen screen(24, 80);
    TERMINAL* const before = cur_term;
    EXPECT_TRUE(terminal_can_address_cursor("vt100"));
    EXPECT_FALSE(terminal_can_address_cursor("dumb"));
    EXPECT_EQ(cur_term, before);
    mvaddstr(0, 0, "still drawing");
    refresh();
    EXPECT_EQ(screen.text_at(0, 0, 13), "still drawing");
}
}  // namespace
