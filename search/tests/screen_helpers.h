// Shared bits of the search program's screen tests.
#pragma once

#include <string>
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
