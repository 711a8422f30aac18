#include "transfer_screens.h"

#include <curses.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "app.h"
#include "ending_signals.h"
#include "i18n.h"
#include "keys.h"
#include "terminal.h"

namespace {
bool is_enter(int key) { return key == 10 || key == 13 || key == KEY_ENTER; }

void begin_frame() {
    clear();
    box(stdscr, 0, 0);
}

void draw_title(const std::string& title) { draw_text(0, 2, " " + title + " "); }

void draw_share_card(const std::string& host, std::uint16_t port, const std::string& session_text,
                     const std::string& fingerprint) {
    const int w = getmaxx(stdscr);
    const int h = getmaxy(stdscr);
    begin_frame();
    draw_title(tr("p2p_share_title"));
    draw_text(2, 2, tr("p2p_share_host") + ":");
    draw_text(3, 4, tovrel::cut_text(host, w - 6));
    draw_text(4, 2, tr("p2p_share_port") + ":");
    draw_text(5, 4, std::to_string(port));
    draw_text(6, 2, tr("p2p_share_sess") + ":");
    draw_text(7, 4, tovrel::cut_text(session_text, w - 6));
    draw_text(8, 2, tr("p2p_share_fp") + ":");
    draw_text(9, 4, tovrel::cut_text(fingerprint, w - 6));
    draw_text(11, 2, tovrel::cut_text(tr("p2p_share_hint"), w - 4));
    draw_text(h - 2, 2, "Enter = OK | Esc = Cancel");
    terminal_refresh();
}

void draw_progress_frame(const std::string& title, const std::string& status, char spinner,
                         const std::vector<std::string>& lines) {
    // The worker prints progress to the same terminal; a frame is drawn and
    // sent whole before it may write again.
    std::lock_guard<std::mutex> lock(terminal_mutex());
    const int w = getmaxx(stdscr);
    const int h = getmaxy(stdscr);
    begin_frame();
    draw_title(title);
    draw_text(1, 2, std::string(1, spinner) + " " + tovrel::cut_text(status, w - 6));
    const std::size_t rows = static_cast<std::size_t>(std::max(h - 5, 1));
    const std::size_t first = lines.size() > rows ? lines.size() - rows : 0;
    int row = 3;
    for (std::size_t i = first; i < lines.size() && row <= h - 3; ++i, ++row)
        draw_text(row, 2, tovrel::cut_text(lines[i], w - 4));
    draw_text(h - 2, 2, "Esc = (disabled during transfer)");
    refresh();
}
}  // namespace

std::string tovrel::cut_text(const std::string& text, int n) {
    if (n <= 0) return {};
    std::size_t i = 0;
    int count = 0;
    while (i < text.size() && count < n) {
        ++i;
        // Continuation bytes belong to the letter already counted.
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
        ++count;
    }
    return text.substr(0, i);
}

bool show_share_card(const std::string& host, std::uint16_t port, const std::string& session_text,
                     const std::string& fingerprint) {
    nodelay(stdscr, FALSE);
    keypad(stdscr, TRUE);
    bool first = true;
    for (;;) {
        draw_share_card(host, port, session_text, fingerprint);
        // Keys typed while the key pair was made were meant for no screen.
        if (first) flushinp();
        first = false;
        const int key = read_screen_key();
        if (is_enter(key)) return true;
        if (key == 27 || key == ERR) return false;  // ERR: the terminal is gone
    }
}

void show_transfer_progress(const std::string& title, const std::string& status, TransferLog& log,
                            const std::atomic<bool>& done, const std::atomic<bool>& success, const std::string& error) {
    static const char kSpinner[] = {'|', '/', '-', '\\'};
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    unsigned counter = 0;
    // Keys are not read here; a transfer ends only through its worker.
    while (!done.load()) {
        draw_progress_frame(title, status, kSpinner[counter % 4], log.snapshot());
        ++counter;
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        // An ending signal ends the program here, without waiting for the
        // worker, which may sit in a socket call.
        act_on_signals();
    }
    std::vector<std::string> lines;
    lines.push_back(success.load() ? tr("p2p_log_done") : tr("err_title"));
    if (!error.empty()) lines.push_back(error);
    show_result_screen(title, lines);
}

void show_result_screen(const std::string& title, const std::vector<std::string>& lines) {
    const int w = getmaxx(stdscr);
    const int h = getmaxy(stdscr);
    begin_frame();
    draw_title(title);
    int row = 2;
    for (const std::string& line : lines) {
        if (row >= h - 3) break;
        draw_text(row++, 2, tovrel::cut_text(line, w - 4));
    }
    draw_text(h - 2, 2, tovrel::cut_text(tr("p2p_press_any"), w - 4));
    terminal_refresh();
    // Only a key pressed once the result is on screen may close it; keys
    // pressed during the transfer, where they had no effect, are dropped.
    flushinp();
    nodelay(stdscr, FALSE);
    for (;;) {
        const int key = read_screen_key();
        if (is_enter(key) || key == 27 || key == ERR) return;  // ERR: the terminal is gone
    }
}
