// The wipe engine: overwrites files in passes, removes them, and reports every
// step as one log line. No curses here; the run screen installs the sink.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include "line_sink.h"
#include "target_place.h"

// Receives every finished log line while log_enabled is true.
extern std::function<void(const std::string&)> log_sink;
extern bool log_enabled;

// Local time as "%Y-%m-%d %H:%M:%S".
std::string now_timestamp();
// Sends "[" timestamp "] " msg to the sink.
void log_line(const std::string& msg);

// Drive roots, the Windows folder and device paths, and on this system the
// root and the operating system's folders, by text alone; also a last
// component "..". Links and mounts are judged on the opened place
// (is_unsafe_place).
bool is_unsafe_path(const std::filesystem::path& p);

// Every name in a log line goes through zeylatui::escape_untrusted, so one
// line stays one line. Files, folders and links are reached through open
// descriptors only; nothing outside the target's folder tree and mount is
// written or removed. A file is removed only while its name still holds the
// file that was overwritten, at the size that was overwritten.
bool wipe_file(const std::filesystem::path& path, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run);
// Opens the target (open_target) and wipes that place.
void wipe_target(const std::filesystem::path& target, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run);

namespace vornix {
// s without leading and trailing blanks of the set " \t\r\n".
std::string trim(const std::string& s);

// Fills the first n bytes of block with overwrite data: the low 32 bits of one
// generator output per four bytes, least significant byte first.
void fill_random_block(unsigned char* block, std::uint64_t n, std::mt19937_64& gen);

// Commits one finished pass of one file to the medium (fdatasync); 0 or -1
// with errno. Tests replace it to count or fail the syncs.
using SyncFunction = int (*)(int fd);
extern SyncFunction wipe_sync;

// Wipes the place the checks were made on; its path is not looked up again.
// Every step is one line to log.
void wipe_target(const TargetPlace& place, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run,
                 const platform::LineSink& log);

// The program's sink: log_line, so the run screen's log_sink gets the
// lines while log_enabled is set.
void log_line_sink(std::string_view msg);
}  // namespace vornix
