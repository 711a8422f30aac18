// The wipe's log lines: timestamped, then handed to the sink the run screen installs.
#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "wipe_engine.h"

std::function<void(const std::string&)> log_sink;
bool log_enabled = false;

std::string now_timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream out;
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return out.str();
}

void log_line(const std::string& msg) {
    if (!log_enabled || !log_sink) return;
    std::string line = "[";
    line += now_timestamp();
    line += "] ";
    line += msg;
    log_sink(line);
}

void vornix::log_line_sink(std::string_view msg) { log_line(std::string(msg)); }
