// lumeno_conf.dat: the wizard's last values and the chosen language, as
// key=value lines beside the program.
#pragma once

#include <filesystem>
#include <string>
#include <unordered_map>

using LastValues = std::unordered_map<std::string, std::string>;

std::filesystem::path last_values_path();
LastValues load_last_values(const std::filesystem::path& file);
void save_last_values(const std::filesystem::path& file, const LastValues& values);
