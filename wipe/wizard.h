// The settings form of every pass of the main loop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app.h"
#include "wipe_config.h"

// Shows the form; true after the start button, with cfg holding the parsed
// values; false after Esc or the quit button, with cfg untouched.
bool wizard_config(zeylatui::App& app, WipeConfig& cfg);

namespace vornix {
// Reads a number as std::stoul does where unsigned long has 32 bits; empty
// when there is no digit or the value exceeds 4294967295.
std::optional<std::uint64_t> parse_u32_like_stoul(const std::string& text);
std::uint64_t parse_passes(const std::string& text);
std::uint64_t parse_block_mib(const std::string& text);
bool parse_flag(const std::string& text);
}  // namespace vornix
