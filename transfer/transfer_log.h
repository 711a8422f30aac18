// The log a transfer's worker writes and the progress screen reads.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

inline constexpr std::size_t kLogMaxLines = 2000;
inline constexpr std::size_t kLogTrimLines = 500;

struct TransferLog {
    std::mutex mutex;
    std::vector<std::string> lines;

    // Appends the line, escaped as untrusted text, and trims the oldest lines.
    void push(std::string line);
    std::vector<std::string> snapshot();
};
