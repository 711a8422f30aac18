// Shared bits of the search program's screen tests.
#pragma once

#include <atomic>
#include <chrono>
#include <curses.h>
#include <string>
#include <thread>
#include <unistd.h>

#include "curses_screen.h"
#include "temp_tree.h"

inline std::string whole_screen(const CursesScreen& screen, int rows) {
    std::string all;
    for (int y = 0; y < rows; ++y) all += screen.row(y) + "\n";
    return all;
}

// A temporary folder that is also the current folder, where lumeno_conf.dat lives.
class InTempFolder : public TempTree {
protected:
    void SetUp() override {
        TempTree::SetUp();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        TempTree::TearDown();
    }
    std::filesystem::path previous_;
};

// Waits until a key typed on the pseudo-terminal has reached curses, and leaves it pending there.
inline void wait_for_pending_key() {
    timeout(20);
    int key = ERR;
    for (int tries = 0; key == ERR && tries < 1000; ++tries) key = getch();
    timeout(-1);
    if (key != ERR) ungetch(key);
}

// Types the same keys every 100 ms until destroyed: keys that must reach a
// screen after the program has discarded everything typed before it.
class RepeatedKeys {
public:
    RepeatedKeys(CursesScreen& screen, std::string keys)
        : thread_([this, &screen, keys = std::move(keys)] {
              while (!stop_) {
                  screen.type(keys);
                  std::this_thread::sleep_for(std::chrono::milliseconds(100));
              }
          }) {}
    ~RepeatedKeys() {
        stop_ = true;
        thread_.join();
        // What the last repetitions typed is meant for no later screen.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flushinp();
    }
    RepeatedKeys(const RepeatedKeys&) = delete;
    RepeatedKeys& operator=(const RepeatedKeys&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
