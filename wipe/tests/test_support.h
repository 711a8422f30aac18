// Fresh temporary folders and a log sink that keeps the engine's lines.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <set>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "wipe_engine.h"

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vornix-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
};

// The engine's lines without their "[timestamp] " prefix.
struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        log_enabled = true;
        log_sink = [this](const std::string& line) { lines.push_back(line.size() > 22 ? line.substr(22) : line); };
    }
    ~LogCapture() {
        log_enabled = false;
        log_sink = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
};

inline void write_file(const std::filesystem::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Watches a file's data through a descriptor held open across its removal:
// the overwritten bytes stay readable after the name is gone.
class Watch {
public:
    explicit Watch(const std::filesystem::path& p) : fd_(open(p.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) throw std::runtime_error("cannot watch " + p.string());
    }
    ~Watch() {
        if (fd_ >= 0) close(fd_);
    }
    Watch(Watch&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    std::string content() const {
        std::string out;
        char buf[65536];
        off_t at = 0;
        for (ssize_t n; (n = pread(fd_, buf, sizeof buf, at)) > 0; at += n)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }
    int fd() const { return fd_; }

private:
    int fd_;
};

inline bool all_zero(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c == 0; });
}

// Random overwrite data shows nearly every byte value and few zeros.
inline bool looks_random(const std::string& s) {
    std::set<char> values(s.begin(), s.end());
    const auto zeros = std::count(s.begin(), s.end(), '\0');
    return values.size() > 200 && zeros < static_cast<long>(s.size() / 64);
}

// Runs body in a child process (as the unprivileged user 65534 when
// drop_root and the test runs as root) and returns its exit status and the
// text it handed back. Status 3: root could not be given up.
inline ChildResult run_in_child(const std::function<std::string()>& body, bool drop_root) {
    return run_in_child([&]() -> std::string {
        if (drop_root && geteuid() == 0 && !become_nobody()) _exit(3);
        return body();
    });
}

// The engine's lines without their prefix, one per line, for a child to hand back.
inline void capture_log_into(std::string& out) {
    log_enabled = true;
    log_sink = [&out](const std::string& line) { out += line.substr(22) + "\n"; };
}

// For a forked child only: a private mount namespace with a throw-away tmpfs
// laid over /usr/local, so that a test can bind folders out of a refused
// folder without touching a real one. Empty on success, else why it could not.
inline std::string cover_usr_local_privately() {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return "no private mount namespace here (needs root)";
    if (!std::filesystem::is_directory("/usr/local")) return "no /usr/local to cover";
    if (mount("none", "/usr/local", "tmpfs", 0, "size=4m") != 0) return "cannot lay a tmpfs over /usr/local";
    return {};
}
