// A fresh temporary folder per test, removed afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <gtest/gtest.h>

class TempTree : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        root_ = std::filesystem::temp_directory_path() /
                ("lumeno_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
        std::filesystem::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(root_, ec);
    }
    std::filesystem::path write(const std::string& relative, const std::string& content) {
        const auto p = root_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(root_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path root_;
};
