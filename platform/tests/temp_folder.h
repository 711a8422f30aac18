// A fresh temporary folder per test, removed afterwards (a gtest fixture).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
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
                ("zeyla_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
        std::filesystem::create_directories(root_);
    }
    void TearDown() override {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(root_, ec);
        // The library's removal gives up on paths beyond the system's limit.
        if (std::filesystem::exists(root_, ec)) (void)std::system(("rm -rf '" + root_.string() + "'").c_str());
    }
    std::filesystem::path write(const std::string& relative, const std::string& content) {
        const auto p = root_ / relative;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    // A file below 25 folders of 200 bytes, made one folder at a time: the whole
    // path is too long for one system call.
    std::filesystem::path write_deep(const std::string& name, const std::string& content) {
        const std::string part(200, 'p');
        std::string path = root_.string();
        int dir = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
        for (int depth = 0; depth < 25 && dir >= 0; ++depth) {
            mkdirat(dir, part.c_str(), 0700);
            const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
            close(dir);
            dir = next;
            path += "/" + part;
        }
        const int file = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const bool written =
            file >= 0 && ::write(file, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        if (file >= 0) close(file);
        if (dir >= 0) close(dir);
        EXPECT_TRUE(written) << path;
        return path + "/" + name;
    }
    std::string read(const std::string& relative) const {
        std::ifstream in(root_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::path root_;
};
