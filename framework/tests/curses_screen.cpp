#include "curses_screen.h"

#include <chrono>
#include <cstdlib>
#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <unistd.h>

#include "cp1252.h"

CursesScreen::CursesScreen(int rows, int cols, const char* term) {
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    if (openpty(&master_, &slave_, nullptr, nullptr, &ws) != 0) throw std::runtime_error("openpty failed");
    unsetenv("LINES");
    unsetenv("COLUMNS");
    in_ = fdopen(dup(slave_), "r");
    out_ = fdopen(dup(slave_), "w");
    reader_ = std::thread([this] { drain(); });
    screen_ = newterm(term, out_, in_);
    if (screen_ == nullptr) throw std::runtime_error("newterm failed");
    set_term(screen_);
    app_start(app_);
}

CursesScreen::~CursesScreen() {
    app_shutdown(app_);
    delscreen(screen_);
    stdscr = nullptr;
    stop_ = true;
    reader_.join();
    fclose(in_);
    fclose(out_);
    close(slave_);
    close(master_);
}

void CursesScreen::drain() {
    char buf[4096];
    while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0) continue;
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == '\a') ++bells_;
        {
            std::lock_guard<std::mutex> hold(written_lock_);
            written_.append(buf, static_cast<std::size_t>(n));
        }
        bytes_seen_ += n;
    }
}

void CursesScreen::type(const std::string& bytes) {
    if (write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("write to pty failed");
}

void CursesScreen::push_key(int key) { ungetch(key); }

std::vector<int> CursesScreen::take_unread_keys() {
    std::vector<int> keys;
    wtimeout(stdscr, 300);
    for (int key = wgetch(stdscr); key != ERR; key = wgetch(stdscr)) keys.push_back(key);
    wtimeout(stdscr, -1);
    return keys;
}

std::string CursesScreen::row(int y) const { return text_at(y, 0, getmaxx(stdscr)); }

std::string CursesScreen::text_at(int y, int x, int n) const {
    std::string out;
    for (int i = 0; i < n && x + i < getmaxx(stdscr); ++i) {
        cchar_t cell{};
        if (mvwin_wch(stdscr, y, x + i, &cell) == ERR) break;
        wchar_t wc[CCHARW_MAX + 1] = {};
        attr_t attrs = 0;
        short pair = 0;
        getcchar(&cell, wc, &attrs, &pair, nullptr);
        append_utf8(out, wc[0] == 0 ? U' ' : static_cast<char32_t>(wc[0]));
    }
    return out;
}

bool CursesScreen::has_pair(int y, int x, int pair) const {
    cchar_t cell{};
    if (mvwin_wch(stdscr, y, x, &cell) == ERR) return false;
    wchar_t wc[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short p = 0;
    getcchar(&cell, wc, &attrs, &p, nullptr);
    return p == pair;
}

bool CursesScreen::reversed(int y, int x) const {
    cchar_t cell{};
    if (mvwin_wch(stdscr, y, x, &cell) == ERR) return false;
    wchar_t wc[CCHARW_MAX + 1] = {};
    attr_t attrs = 0;
    short p = 0;
    getcchar(&cell, wc, &attrs, &p, nullptr);
    return (attrs & A_REVERSE) != 0;
}

namespace {
// Lets the reader catch up with what curses has written.
void settle(const std::atomic<long>& bytes_seen) {
    long last = -1;
    while (last != bytes_seen) {
        last = bytes_seen;
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
}
}  // namespace

int CursesScreen::beeps() {
    settle(bytes_seen_);
    return bells_;
}

std::string CursesScreen::take_written() {
    settle(bytes_seen_);
    std::lock_guard<std::mutex> hold(written_lock_);
    std::string out;
    out.swap(written_);
    return out;
}
