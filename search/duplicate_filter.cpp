#include "duplicate_filter.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>

#include "dir_walk.h"
#include "ending_signals.h"
#include "escape.h"
#include "fnv1a.h"
#include "line_sink.h"
#include "same_content.h"
#include "work_pool.h"

namespace fs = std::filesystem;

namespace {
// An ending signal ends the reading between blocks and files; the program
// then ends where the workers have been joined.
constexpr platform::StopCheck kEndingSignals{ending_signal, act_on_signals};


void warn_unopened(const platform::LineSink& warnings, const std::string& path) {
    warnings("[WARN] Cannot open file for hashing: " + zeylatui::escape_untrusted(path));
}

// The whole file's hash, read up to the size it has at the open and no
// further; `expected` (when given) is the size it must still have. A pipe or
// device in a file's place, or a file of procfs or sysfs, counts as unopened.
bool hash_path(const std::string& path, const std::uint64_t* expected, std::uint64_t& hash, FileIdentity& id,
               std::vector<unsigned char>& buffer) {
    std::uint64_t size = 0;
    const platform::Fd fd = open_content(path.c_str(), id, size);
    if (!fd || (expected && size != *expected)) return false;
    Fnv1aProgress progress;
    if (!fnv1a_read(fd.get(), size, progress, buffer, kEndingSignals) || !still_of_size(fd.get(), size)) return false;
    hash = progress.state;
    return true;
}

bool opens_for_reading(const std::string& path) {
    FileIdentity id;
    std::uint64_t size = 0;
    return open_content(path.c_str(), id, size).valid();
}

struct ReferenceFile {
    std::string path;
    std::uint64_t size;
};

// One file to look at: hashed when another file may share its size, otherwise
// only opened, since its content key then counts once whatever its hash.
struct Look {
    const std::string* path;
    std::uint64_t size;
    bool needs_hash;
    bool opened = false;
    std::uint64_t hash = 0;
    FileIdentity id;
};

// Looks at every file on worker threads, each into its own slot.
void look_at(std::vector<Look>& looks) {
    const unsigned workers = default_worker_count();
    std::vector<std::vector<unsigned char>> scratch(workers);
    run_on_workers(looks.size(), workers, [&](std::size_t i, unsigned worker) {
        Look& look = looks[i];
        look.opened = look.needs_hash ? hash_path(*look.path, &look.size, look.hash, look.id, scratch[worker])
                                      : opens_for_reading(*look.path);
    }, kEndingSignals);
}

// Equal keys are not yet equal files: files that share a key are told apart
// by their bytes, and each file counts the files of its class of byte-equal
// files. One that can no longer be read counts as unopened. Only the counts of
// the first `results` looks matter: keys no result holds are left unread.
std::vector<std::uint64_t> count_equal_files(std::vector<Look>& looks, std::size_t results) {
    std::vector<std::uint64_t> counts(looks.size(), 1);
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < looks.size(); ++i)
        if (looks[i].opened && looks[i].needs_hash) order.push_back(i);
    const auto key = [&](std::size_t i) { return std::make_pair(looks[i].size, looks[i].hash); };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return key(x) < key(y); });
    std::vector<std::pair<std::size_t, std::size_t>> buckets;  // first, count in order
    for (std::size_t first = 0, last = 0; first < order.size(); first = last) {
        for (last = first + 1; last < order.size() && key(order[last]) == key(order[first]);) ++last;
        const bool holds_result =
            std::any_of(order.begin() + static_cast<std::ptrdiff_t>(first),
                        order.begin() + static_cast<std::ptrdiff_t>(last), [&](std::size_t i) { return i < results; });
        if (last - first >= 2 && holds_result) buckets.emplace_back(first, last - first);
    }
    run_on_workers(buckets.size(), default_worker_count(), [&](std::size_t b, unsigned) {
        const auto [first, count] = buckets[b];
        std::vector<ContentFile> files;
        for (std::size_t k = first; k < first + count; ++k)
            files.push_back({looks[order[k]].path->c_str(), looks[order[k]].id});
        const std::vector<std::uint32_t> classes = split_by_content(files, looks[order[first]].size, kEndingSignals);
        std::vector<std::uint64_t> members(count, 0);
        for (const std::uint32_t c : classes)
            if (c != kUnreadable) ++members[c];
        for (std::size_t k = 0; k < count; ++k) {
            if (classes[k] == kUnreadable)
                looks[order[first + k]].opened = false;
            else
                counts[order[first + k]] = members[classes[k]];
        }
    }, kEndingSignals);
    return counts;
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

bool lumeno::hash_file_fnv1a(const fs::path& file, std::uint64_t& hash) {
    std::vector<unsigned char> buffer;
    FileIdentity id;
    if (hash_path(file.native(), nullptr, hash, id, buffer)) return true;
    warn_unopened(platform::stderr_sink(), file.string());
    return false;
}

void filter_duplicates(const Options& options, std::vector<MatchInfo>& results) {
    filter_duplicates_warning_to(options, results, platform::stderr_sink());
}

void filter_duplicates_warning_to(const Options& options, std::vector<MatchInfo>& results,
                                  const platform::LineSink& warnings) {
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
        looks.push_back({&result_paths.back(), match.size, filtering && shared, false, 0, {}});
    }
    for (const ReferenceFile& file : reference)
        looks.push_back({&file.path, file.size, filtering && results_of_size.count(file.size) != 0, false, 0, {}});
    look_at(looks);
    // A file hashed by no one is alone at its size: it counts once.
    const std::vector<std::uint64_t> counts =
        filtering ? count_equal_files(looks, results.size()) : std::vector<std::uint64_t>{};

    for (std::size_t i = 0; i < results.size(); ++i)
        if (!looks[i].opened) warn_unopened(warnings, results[i].path.string());
    if (reference_failure) std::rethrow_exception(reference_failure);
    if (options.hasDuplicatesDir && !reference_valid)
        warnings("[WARN] --duplicates-dir is not a valid directory: " + zeylatui::escape_untrusted(dir.string()));
    for (std::size_t k = 0; k < reference.size(); ++k)
        if (!looks[results.size() + k].opened) warn_unopened(warnings, fs::path(reference[k].path).string());
    if (!filtering) return;

    const bool only_duplicates = options.duplicatesMode == 1;
    std::vector<MatchInfo> kept;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const bool keep = !looks[i].opened ? !only_duplicates : only_duplicates ? counts[i] >= 2 : counts[i] == 1;
        if (keep) kept.push_back(results[i]);
    }
    results = std::move(kept);
}
