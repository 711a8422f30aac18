// Where an engine's warnings and log lines go: one call per whole line,
// without its line end, possibly from several threads at once. The program's
// edge decides (standard error, a log screen, a test's vector). No curses here.
#pragma once

#include <functional>
#include <iostream>
#include <string>
#include <string_view>

namespace platform {

using LineSink = std::function<void(std::string_view line)>;

// One write per line, so that lines from several threads stay whole.
inline LineSink stderr_sink() {
    return [](std::string_view line) { std::cerr << std::string(line) + "\n" << std::flush; };
}

}  // namespace platform
