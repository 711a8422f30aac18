// Runs curses in-process on a pseudo-terminal of a chosen size, so that
// screens can be fed real key bytes and read back cell by cell.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app.h"

struct screen;

class CursesScreen {
public:
    // term: the terminal type curses draws for ("vt100" has no colours).
    CursesScreen(int rows, int cols, const char* term = "xterm-256color");
    ~CursesScreen();
    CursesScreen(const CursesScreen&) = delete;
    CursesScreen& operator=(const CursesScreen&) = delete;

    zeylatui::App& app() { return app_; }

    // Bytes as the keyboard would send them ("\t", "\x1b[Z", "abc").
    void type(const std::string& bytes);
    // A key code pushed straight into curses' input queue (after typed bytes).
    void push_key(int key);
    // Keys still waiting, read off the queue until none arrives for a moment.
    std::vector<int> take_unread_keys();

    // Row y of the screen as UTF-8 (line-drawing cells read back as curses stores them).
    std::string row(int y) const;
    // Cells [x, x+n) of row y.
    std::string text_at(int y, int x, int n) const;
    // Whether cell (y, x) is drawn in colour pair `pair`.
    bool has_pair(int y, int x, int pair) const;
    // Whether cell (y, x) is drawn in reverse video.
    bool reversed(int y, int x) const;
    // Bell bytes the program has written so far.
    int beeps();
    // Bytes curses has written to the terminal since the last call.
    std::string take_written();

private:
    void drain();
    int master_ = -1;
    int slave_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    screen* screen_ = nullptr;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<int> bells_{0};
    std::atomic<long> bytes_seen_{0};
    std::mutex written_lock_;
    std::string written_;
    zeylatui::App app_;
};

// Types the same keys at a fixed interval until destroyed: keys that must reach
// a screen after the program has discarded everything typed before it.
class RepeatedKeys {
public:
    RepeatedKeys(CursesScreen& screen, std::string keys,
                 std::chrono::milliseconds every = std::chrono::milliseconds(50))
        : thread_([this, &screen, keys = std::move(keys), every] {
              while (!stop_) {
                  screen.type(keys);
                  std::this_thread::sleep_for(every);
              }
          }) {}
    ~RepeatedKeys() {
        stop_ = true;
        thread_.join();
    }
    RepeatedKeys(const RepeatedKeys&) = delete;
    RepeatedKeys& operator=(const RepeatedKeys&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
