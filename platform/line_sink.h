// Where an engine's warnings and log lines go: the program's edge decides
// (standard error, a log screen, a test's vector). No curses here.
#pragma once

#include <functional>
#include <iostream>
#include <string_view>

namespace platform {
using LineSink = std::function<void(std::string_view line)>;

// The default: the line on standard error.
inline void stderr_line(std::string_view line) { std::cerr << line << '\n'; }
}  // namespace platform
