// Shared bits of the search program's screen tests.
#pragma once

#include <atomic>
#include <chrono>
#include <curses.h>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

#include "curses_screen.h"
#include "temp_folder.h"

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

// Repeated keys whose last repetitions are meant for no later screen.
class ClosingKeys {
public:
    ClosingKeys(CursesScreen& screen, std::string keys) {
        keys_.emplace(screen, std::move(keys), std::chrono::milliseconds(100));
    }
    ~ClosingKeys() {
        keys_.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flushinp();
    }
    ClosingKeys(const ClosingKeys&) = delete;
    ClosingKeys& operator=(const ClosingKeys&) = delete;

private:
    std::optional<RepeatedKeys> keys_;
};
