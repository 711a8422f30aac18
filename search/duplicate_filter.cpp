#include "duplicate_filter.h"

#include <fstream>
#include <iostream>
#include <string>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

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
    std::error_code ec;
    fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec);
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            ec.clear();
            continue;
        }
        const fs::directory_entry& entry = *it;
        std::error_code entryEc;
        if (!entry.is_regular_file(entryEc) || entryEc) continue;
        const std::uintmax_t size = entry.file_size(entryEc);
        if (entryEc) continue;
        std::uint64_t hash = 0;
        if (hash_file_fnv1a(entry.path(), hash)) ++counts[content_key(size, hash)];
    }
}

}  // namespace

bool hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        write_warning("[WARN] Cannot open file for hashing: " + file.string());
        return false;
    }
    std::uint64_t state = kFnvOffsetBasis;
    std::vector<char> block(65536);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const std::streamsize got = in.gcount();
        for (std::streamsize i = 0; i < got; ++i) {
            state ^= static_cast<unsigned char>(block[static_cast<std::size_t>(i)]);
            state *= kFnvPrime;
        }
    }
    hash = state;
    return true;
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
