#include "duplicate_filter.h"

#include <exception>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

#include "dir_walk.h"
#include "escape.h"
#include "fnv1a.h"
#include "work_pool.h"

namespace fs = std::filesystem;

namespace {

void write_warning(const std::string& line) { std::cerr << line + "\n" << std::flush; }

void warn_unopened(const std::string& path) {
    write_warning("[WARN] Cannot open file for hashing: " + zeylatui::escape_untrusted(path));
}

// A pipe or device put in a result's place counts as unopened instead of blocking.
int open_regular(const std::string& path) {
    struct stat st {};
    return open_regular_for_reading(path, st);
}

// The whole file's hash; a read error ends it with the bytes read so far.
bool hash_path(const std::string& path, std::uint64_t& hash, std::vector<unsigned char>& buffer) {
    const int fd = open_regular(path);
    if (fd < 0) return false;
    hash = fnv1a_descriptor(fd, buffer);
    close(fd);
    return true;
}

bool opens_for_reading(const std::string& path) {
    const int fd = open_regular(path);
    if (fd >= 0) close(fd);
    return fd >= 0;
}

struct ReferenceFile {
    std::string path;
    std::uint64_t size;
};

// One file to look at: hashed when another file may share its size, otherwise
// only opened, since its content key then counts once whatever its hash.
struct Look {
    const std::string* path;
    bool needs_hash;
    bool opened = false;
    std::uint64_t hash = 0;
};

// Looks at every file on worker threads, each into its own slot.
void look_at(std::vector<Look>& looks) {
    const unsigned workers = default_worker_count();
    std::vector<std::vector<unsigned char>> scratch(workers);
    run_on_workers(looks.size(), workers, [&](std::size_t i, unsigned worker) {
        Look& look = looks[i];
        look.opened =
            look.needs_hash ? hash_path(*look.path, look.hash, scratch[worker]) : opens_for_reading(*look.path);
    });
}

// The reference folder's regular files and their sizes, in walk order; false
// when it does not exist or is no folder (both tests follow links).
bool gather_reference_folder(const fs::path& dir, std::vector<ReferenceFile>& files) {
    if (!fs::exists(dir) || !fs::is_directory(dir)) return false;
    walk_directory(dir.native(), true, [&files](const WalkEntry& entry) {
        if (!entry.is_regular_file()) return;
        struct stat st {};
        if (stat_any_length(entry.path, st)) files.push_back({entry.path, static_cast<std::uint64_t>(st.st_size)});
    });
    return true;
}

}  // namespace

bool hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    std::vector<unsigned char> buffer;
    if (hash_path(file.native(), hash, buffer)) return true;
    warn_unopened(file.string());
    return false;
}

void filter_duplicates(const Options& options, std::vector<MatchInfo>& results) {
    if (results.empty()) return;
    if (options.duplicatesMode == 0 && !options.hasDuplicatesDir) return;

    // The folder is walked first, so that sizes can tell which files need
    // their hash; its warning and any failure still follow the results' warnings.
    const fs::path dir(options.duplicatesDir);
    std::vector<ReferenceFile> reference;
    bool reference_valid = false;
    std::exception_ptr reference_failure;
    if (options.hasDuplicatesDir) {
        try {
            reference_valid = gather_reference_folder(dir, reference);
        } catch (...) {
            reference_failure = std::current_exception();
        }
    }

    // In mode any nothing can change: every file is only opened, for its warning.
    const bool filtering = options.duplicatesMode != 0;
    std::map<std::uint64_t, std::size_t> results_of_size;
    for (const MatchInfo& match : results) ++results_of_size[match.size];
    std::unordered_set<std::uint64_t> reference_sizes;
    for (const ReferenceFile& file : reference) reference_sizes.insert(file.size);

    std::vector<std::string> result_paths;
    result_paths.reserve(results.size());
    std::vector<Look> looks;
    looks.reserve(results.size() + reference.size());
    for (const MatchInfo& match : results) {
        result_paths.push_back(match.path.native());
        const bool shared = results_of_size[match.size] >= 2 || reference_sizes.count(match.size) != 0;
        looks.push_back({&result_paths.back(), filtering && shared});
    }
    for (const ReferenceFile& file : reference)
        looks.push_back({&file.path, filtering && results_of_size.count(file.size) != 0});
    look_at(looks);

    // Content keys: size and hash; a file hashed by no one keeps hash 0, being alone at its size.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint64_t> counts;
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (looks[i].opened)
            ++counts[{results[i].size, looks[i].hash}];
        else
            warn_unopened(results[i].path.string());
    }
    if (reference_failure) std::rethrow_exception(reference_failure);
    if (options.hasDuplicatesDir && !reference_valid)
        write_warning("[WARN] --duplicates-dir is not a valid directory: " + zeylatui::escape_untrusted(dir.string()));
    for (std::size_t k = 0; k < reference.size(); ++k) {
        const Look& look = looks[results.size() + k];
        if (look.opened)
            ++counts[{reference[k].size, look.hash}];
        else
            warn_unopened(fs::path(reference[k].path).string());
    }
    if (!filtering) return;

    const bool only_duplicates = options.duplicatesMode == 1;
    std::vector<MatchInfo> kept;
    for (std::size_t i = 0; i < results.size(); ++i) {
        bool keep;
        if (!looks[i].opened)
            keep = !only_duplicates;
        else {
            const std::uint64_t count = counts[{results[i].size, looks[i].hash}];
            keep = only_duplicates ? count >= 2 : count == 1;
        }
        if (keep) kept.push_back(results[i]);
    }
    results = std::move(kept);
}
