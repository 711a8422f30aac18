#include "banner.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "console.h"
#include "ending_signals.h"

namespace {
constexpr int kLogoRows = 49;
constexpr int kLogoCols = 100;
const char* const kTagline = "Small sharp tools for the text console";

// A large 'Z' between two rules, drawn rather than stored.
char logo_cell(int r, int c) {
    if (r == 1 || r == kLogoRows - 2) return (c >= 6 && c < kLogoCols - 6) ? '=' : ' ';
    const bool top_bar = r >= 5 && r <= 10 && c >= 22 && c <= 77;
    const bool bottom_bar = r >= 38 && r <= 43 && c >= 22 && c <= 77;
    if (top_bar || bottom_bar) return '#';
    if (r > 10 && r < 38) {
        // The stroke runs from the top bar's right end to the bottom bar's left end.
        const int centre = 72 - ((r - 11) * 45) / 26;
        if (c >= centre - 5 && c <= centre + 5) return (c == centre - 5 || c == centre + 5) ? '+' : '#';
    }
    if ((r == 3 || r == kLogoRows - 4) && c >= 14 && c < kLogoCols - 14 && c % 4 == 0) return '.';
    return ' ';
}

// Keys typed while the banner shows are neither echoed over it nor left for
// the first screen. The terminal's own settings are used: curses has not
// started. A signal that ends the program meanwhile puts echo back on its
// way out (ending_signals).
class QuietKeyboard {
public:
    QuietKeyboard() {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = true;
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    ~QuietKeyboard() {
        if (!active_) return;
        // Discards what was typed, then echoes again.
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    QuietKeyboard(const QuietKeyboard&) = delete;
    QuietKeyboard& operator=(const QuietKeyboard&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

// The banner's wait, cut short by an ending signal.
void wait_acting_on_signals(std::chrono::steady_clock::time_point until) {
    constexpr auto kStep = std::chrono::milliseconds(50);
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now()) {
        act_on_signals();
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kStep, until - now));
    }
}
}  // namespace

const std::string& banner_logo_art() {
    static const std::string art = [] {
        std::string s;
        for (int r = 0; r < kLogoRows; ++r) {
            if (r > 0) s += '\n';
            for (int c = 0; c < kLogoCols; ++c) s += logo_cell(r, c);
        }
        return s;
    }();
    return art;
}

void write_banner(std::ostream& out, const std::string& title, const std::string& version) {
    out << "\x1b[2J\x1b[H";
    out << "\x1b[38;5;214m"
        << "\n\n"
        << banner_logo_art() << "\n\n"
        << "\x1b[0m"
        << "\n";
    out << "\x1b[38;5;220m" << std::string(30, ' ') << "Zeylaworks v3"
        << "\x1b[0m"
        << "\n";
    out << "\x1b[38;5;220m" << std::string(30, ' ') << title;
    if (!version.empty())
        out << "  "
            << "\x1b[38;5;231m" << version << "\x1b[0m";
    out << "\n";
    out << "\x1b[38;5;214m" << std::string(20, ' ') << kTagline << "\x1b[0m"
        << "\n\n";
}

void show_banner(const std::string& title, const std::string& version) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    QuietKeyboard quiet;
    write_banner(std::cout, title, version);
    std::cout.flush();
    wait_acting_on_signals(std::chrono::steady_clock::now() + std::chrono::seconds(5));
}
