// The wipe program's settings, owned by main for the whole run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

struct WipeConfig {
    std::string lang = "en";
    std::filesystem::path target;
    std::uint64_t passes = 1;
    std::uint64_t block_mib = 4;
    bool dry_run = false;
    bool yes = false;
    std::string log_file;
};
