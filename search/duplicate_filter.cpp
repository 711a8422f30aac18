#include "duplicate_filter.h"

#include <iostream>
#include <string>
#include <unordered_map>

#include "fnv1a.h"
#include "dir_walk.h"

namespace fs = std::filesystem;

namespace {

void write_warning(const std::string& line) { std::cerr << line + "\n" << std::flush; }

std::string content_key(std::uint64_t size, std::uint64_t hash) {
    return std::to_string(size) + "#" + std::to_string(hash);
}

void count_reference_folder(const Options& options, std::unordered_map<std::string, std::uint64_t>& counts) {
    const fs::path dir(options.duplicatesDir);
    if (!fs::exists(dir) || !fs::is_directory(dir)) {
        write_warning("[WARN] --duplicates-dir is not a valid directory: " + dir.string());
        return;
    }
    walk_directory(dir.native(), true, [&counts](const WalkEntry& entry) {
        if (!entry.is_regular_file()) return;
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(entry.path, ec);
        if (ec) return;
        std::uint64_t hash = 0;
        if (hash_file_fnv1a(entry.path, hash)) ++counts[content_key(size, hash)];
    });
}

}  // namespace

bool hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    if (fnv1a_file(file, hash)) return true;
    write_warning("[WARN] Cannot open file for hashing: " + file.string());
    return false;
}

void filter_duplicates(const Options& options, std::vector<MatchInfo>& results) {
    if (results.empty()) return;
    if (options.duplicatesMode == 0 && !options.hasDuplicatesDir) return;

    std::unordered_map<std::string, std::uint64_t> counts;
    std::vector<std::string> keys;
    keys.reserve(results.size());
    for (const MatchInfo& match : results) {
        std::uint64_t hash = 0;
        if (hash_file_fnv1a(match.path, hash)) {
            keys.push_back(content_key(match.size, hash));
            ++counts[keys.back()];
        } else {
            keys.emplace_back();
        }
    }
    if (options.hasDuplicatesDir) count_reference_folder(options, counts);
    if (options.duplicatesMode == 0) return;

    const bool onlyDuplicates = options.duplicatesMode == 1;
    std::vector<MatchInfo> kept;
    for (std::size_t i = 0; i < results.size(); ++i) {
        bool keep;
        if (keys[i].empty())
            keep = !onlyDuplicates;
        else
            keep = onlyDuplicates ? counts[keys[i]] >= 2 : counts[keys[i]] == 1;
        if (keep) kept.push_back(results[i]);
    }
    results = std::move(kept);
}
