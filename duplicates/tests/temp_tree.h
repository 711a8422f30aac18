// A fresh folder per test, and a way to scan it as an unprivileged user so
// that denied files and folders really are denied even when tests run as root.
#pragma once

#include <filesystem>
#include <string>

#include "scan.h"

class TempTree {
public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Writes `content` to root/relative, creating folders on the way.
    std::filesystem::path write(const std::string& relative, const std::string& content) const;

private:
    std::filesystem::path root_;
};

std::string read_whole_file(const std::filesystem::path& file);

struct ScanOutcome {
    DuplicateStats stats;
    DuplicateGroups groups;
};

// find_duplicates on a zeroed DuplicateStats, on `workers` threads (0: the
// machine's count); as root, it runs in a child process that has dropped to
// the user "nobody".
ScanOutcome scan_unprivileged(const std::filesystem::path& root, unsigned workers = 0);
