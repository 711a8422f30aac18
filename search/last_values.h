// lumeno_conf.dat: the wizard's last values and the chosen language, as
// key=value lines beside the program.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

using LastValues = std::unordered_map<std::string, std::string>;

std::filesystem::path last_values_path();
LastValues load_last_values(const std::filesystem::path& file);
// Replaces the file through a synced temporary file in the same folder; on any
// failure the old file stays as it was and nothing is reported.
void save_last_values(const std::filesystem::path& file, const LastValues& values);

// The file's text without the file: what load and save read and write.
LastValues parse_last_values(std::string_view text);
// Keys in byte order, so that equal maps give equal bytes. Every entry reads
// back as written, except what no line can hold: a key that is empty, has
// blanks at either end, or holds '=' or a line feed is left out, and a value
// ends before its first line feed.
std::string format_last_values(const LastValues& values);
