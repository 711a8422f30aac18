// A fresh folder per test, and a way to scan it as an unprivileged user so
// that denied files and folders really are denied even when tests run as root.
#pragma once

#include <filesystem>
#include <functional>
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
    // Writes `content` to a file `name` below `levels` nested folders of 200
    // bytes under root/relative, made one at a time: the whole path is
    // longer than one system call takes.
    std::string write_deep(const std::string& relative, int levels, const std::string& name,
                           const std::string& content) const;

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

// find_duplicates in a forked child given `seconds` to finish: false when it
// did not. `prepare` runs in the child first.
bool scan_within(const std::filesystem::path& root, unsigned workers, unsigned seconds, ScanOutcome& outcome,
                 const std::function<void()>& prepare = {});

// A scan outcome as text and back, for scans run in another process.
std::string serialize(const ScanOutcome& outcome);
ScanOutcome deserialize(const std::string& text);
