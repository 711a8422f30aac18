#include "banner.h"

#include <array>
#include <chrono>
#include <csignal>
#include <iostream>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "console.h"

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
// the first screen. The terminal's own settings are used: curses has not started.
class QuietKeyboard {
public:
    QuietKeyboard() {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = true;
        // A signal that ends the program during the wait first puts echo back.
        for (std::size_t i = 0; i < kSignals.size(); ++i) {
            struct sigaction restore {};
            restore.sa_handler = restore_and_die;
            restore.sa_flags = SA_RESETHAND;
            sigemptyset(&restore.sa_mask);
            installed_[i] = sigaction(kSignals[i], nullptr, &previous_[i]) == 0 && previous_[i].sa_handler == SIG_DFL &&
                            sigaction(kSignals[i], &restore, nullptr) == 0;
        }
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    ~QuietKeyboard() {
        if (!active_) return;
        // Discards what was typed, then echoes again.
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (installed_[i]) sigaction(kSignals[i], &previous_[i], nullptr);
        active_ = false;
    }
    QuietKeyboard(const QuietKeyboard&) = delete;
    QuietKeyboard& operator=(const QuietKeyboard&) = delete;

private:
    static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    static void restore_and_die(int sig) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        // The handler was reset to the default: the signal ends the program once this returns.
        raise(sig);
    }
    // Read by the signal handler; only one banner runs at a time.
    static inline termios saved_{};
    static inline bool active_ = false;
    std::array<struct sigaction, kSignals.size()> previous_{};
    std::array<bool, kSignals.size()> installed_{};
};
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
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(start + std::chrono::seconds(5));
}
