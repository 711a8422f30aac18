#include "transfer_log.h"

#include <utility>

#include "escape.h"

void TransferLog::push(std::string line) {
    // Lines carry host names, file names and peer bytes; none reaches the
    // terminal or a copy of the log raw.
    line = zeylatui::escape_untrusted(line);
    std::lock_guard<std::mutex> lock(mutex);
    lines.push_back(std::move(line));
    // Trimming in blocks keeps the cost of a full log to one erase per 500 lines.
    if (lines.size() > kLogMaxLines)
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(kLogTrimLines));
}

std::vector<std::string> TransferLog::snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines;
}
