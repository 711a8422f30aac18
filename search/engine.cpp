#include "engine.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unistd.h>

#include "dir_walk.h"
#include "ending_signals.h"
#include "escape.h"
#include "line_scan.h"
#include "worker_thread.h"

namespace fs = std::filesystem;

namespace {

// The expression engine keeps its backtracking on its own stack, so a worker
// needs no more than an ordinary thread.
constexpr std::size_t kWorkerStackBytes = std::size_t{8} << 20;
// Candidates reach the workers in batches of this many, or after this wait, and at the walk's end.
constexpr std::size_t kBatchSize = 32;
constexpr auto kBatchWait = std::chrono::milliseconds(2);
// Each worker holds a read block and a stack: a worker count typed or loaded
// from the last-values file must not exhaust memory.
constexpr std::uint64_t kMaxWorkers = 256;

// tolower of the default locale, without a library call per byte: the
// program folds the ASCII letters only, whatever locale curses sets.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool wildcard_matches(std::string_view pattern, std::string_view name);

void write_error_line(const std::string& line) {
    // One write per line, so that lines from several workers stay whole.
    std::cerr << line + "\n" << std::flush;
}

// The line of a search that could not run, kept for the caller's screen as well,
// which escapes it itself. It names the root as the user or the file gave it.
void report_search_error(std::string* errorLine, const std::string& line) {
    write_error_line(zeylatui::escape_untrusted(line));
    if (errorLine) *errorLine = line;
}

void warn_gave_up(const std::string& what, const std::string& path) {
    write_error_line("[WARN] " + what + " too costly to test, taken as not matching: " +
                     zeylatui::escape_untrusted(path));
}

std::string marked(const std::string& line, std::size_t pos, std::size_t len) {
    return line.substr(0, pos) + "[MATCH]" + line.substr(pos, len) + "[/MATCH]" + line.substr(pos + len);
}

// Candidates reach the workers while the walk is still going on; the list
// only grows, and each candidate is taken by exactly one worker.
struct SharedSearch {
    const Options& options;
    const SearchRegex* contentRegex;  // null when not compiled
    std::mutex queueMutex;
    std::condition_variable queueGrew;
    std::vector<std::string> candidates;
    std::size_t next = 0;
    bool walkDone = false;
    std::mutex resultMutex;
    std::vector<MatchInfo> results;
    std::exception_ptr firstError;

    bool take(std::string& path) {
        std::unique_lock<std::mutex> lock(queueMutex);
        queueGrew.wait(lock, [&] { return next < candidates.size() || walkDone; });
        if (next >= candidates.size()) return false;
        path = candidates[next++];
        return true;
    }
};

// The content filters on an open file; the line and its number only for the first passing line.
bool match_open_file(int fd, const std::string& path, const Options& options, const SearchRegex* contentRegex,
                     std::string& snippet, std::uint64_t& lineNumber) {
    const bool useRegex = options.useContentRegex && contentRegex && contentRegex->compiled();
    std::optional<FoldedNeedle> needle;
    if (options.useContentPattern) needle.emplace(options.contentPattern);
    std::string line;
    if (!useRegex) {
        if (!needle || !scan_for_needle(fd, *needle, line, lineNumber)) return false;
        snippet = options.contentPattern.empty() ? line : marked(line, needle->find(line.data(), line.size()),
                                                                 options.contentPattern.size());
        return true;
    }
    std::size_t start = 0;
    std::size_t end = 0;
    const auto gaveUp = [&](std::uint64_t number) { warn_gave_up("--regex on line " + std::to_string(number), path); };
    if (!scan_for_expression(fd, *contentRegex, needle ? &*needle : nullptr, gaveUp, line, lineNumber, start, end))
        return false;
    snippet = marked(line, start, end - start);
    return true;
}

void search_worker(SharedSearch& shared) {
    try {
        std::optional<SearchRegex> ownRegex;
        if (shared.contentRegex) ownRegex.emplace(*shared.contentRegex);
        const SearchRegex* regex = ownRegex ? &*ownRegex : nullptr;
        const Options& options = shared.options;
        const bool content = options.useContentPattern || options.useContentRegex;
        std::string path;
        while (ending_signal() == 0 && shared.take(path)) {
            MatchInfo match;
            struct stat st {};
            int fd = -1;
            // With a content filter the file is opened anyway: its size comes from what was opened.
            if (content) {
                fd = open_regular_for_reading(path, st);
                if (fd < 0) continue;
            } else if (!stat_any_length(path, st)) {
                continue;
            }
            const auto size = static_cast<std::uint64_t>(st.st_size);
            bool keep = !(options.hasMinSize && size < options.minSizeBytes) &&
                        !(options.hasMaxSize && size > options.maxSizeBytes);
            if (keep && content) {
                try {
                    keep = match_open_file(fd, path, options, regex, match.snippet, match.firstMatchLine);
                } catch (...) {
                    close(fd);
                    throw;
                }
                match.contentMatched = keep;
            }
            if (fd >= 0) close(fd);
            if (!keep) continue;
            match.size = size;
            match.path = std::move(path);
            std::lock_guard<std::mutex> lock(shared.resultMutex);
            shared.results.push_back(std::move(match));
        }
    } catch (...) {
        // The other workers finish their files; search_files rethrows this one.
        std::lock_guard<std::mutex> lock(shared.resultMutex);
        if (!shared.firstError) shared.firstError = std::current_exception();
    }
}

bool compile_expression(SearchRegex& out, const std::string& text, const char* what, std::string* errorLine) {
    std::string description;
    if (out.compile(text, description)) return true;
    report_search_error(errorLine, std::string("[ERROR] Invalid ") + what + " pattern: " + description);
    return false;
}

bool name_passes(const WalkEntry& entry, const Options& options, const SearchRegex* filenameRegex) {
    const std::string_view name = entry.name;
    if (!options.filenamePattern.empty() && options.filenamePattern != "*" &&
        !wildcard_matches(options.filenamePattern, name))
        return false;
    if (filenameRegex) {
        std::size_t start = 0;
        std::size_t end = 0;
        switch (filenameRegex->search(name.data(), name.size(), start, end)) {
            case SearchRegex::Outcome::match:
                break;
            case SearchRegex::Outcome::gave_up:
                warn_gave_up("--regex-filename", entry.path);
                return false;
            case SearchRegex::Outcome::no_match:
                return false;
        }
    }
    // Checked last: for a link it costs a query of the file it points to.
    return entry.is_regular_file();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<double>(ns.count()) / 1e9;
}

}  // namespace

std::vector<MatchInfo> search_files(const Options& options, std::uint64_t& candidatesScanned,
                                    std::uint32_t& threadsUsed, double& elapsedSeconds, std::string* errorLine) {
    if (errorLine) errorLine->clear();
    const auto start = std::chrono::steady_clock::now();
    candidatesScanned = 0;
    threadsUsed = 0;
    elapsedSeconds = 0.0;

    const fs::path root(options.rootPath);
    if (!fs::exists(root)) {
        report_search_error(errorLine, "[ERROR] Path does not exist: " + root.string());
        return {};
    }
    if (!fs::is_directory(root)) {
        report_search_error(errorLine, "[ERROR] Path is not a directory: " + root.string());
        return {};
    }

    SearchRegex contentRegex;
    SearchRegex filenameRegex;
    if (options.useContentRegex && !compile_expression(contentRegex, options.contentRegex, "--regex", errorLine))
        return {};
    if (options.useFilenameRegex &&
        !compile_expression(filenameRegex, options.filenameRegex, "--regex-filename", errorLine))
        return {};

    std::uint64_t wanted = std::thread::hardware_concurrency();
    if (wanted == 0) wanted = 4;
    if (options.hasThreads && options.threads != 0) wanted = options.threads;
    wanted = std::min(wanted, kMaxWorkers);

    SharedSearch shared{options, options.useContentRegex ? &contentRegex : nullptr, {}, {}, {}, 0, false, {}, {}, {}};
    std::vector<std::unique_ptr<WorkerThread>> workers;
    std::exception_ptr startError;
    // A worker joins for each new candidate until there are as many as wanted:
    // never more workers than candidates.
    const auto add_worker = [&] {
        try {
            workers.reserve(workers.size() + 1);
            auto worker = std::make_unique<WorkerThread>();
            worker->body = [&shared] { search_worker(shared); };
            start_worker(*worker, kWorkerStackBytes);
            workers.push_back(std::move(worker));
        } catch (...) {
            // The workers already running share out every candidate.
            startError = std::current_exception();
        }
    };
    const SearchRegex* nameRegex = options.useFilenameRegex ? &filenameRegex : nullptr;
    std::exception_ptr walkError;
    // The walk hands candidates on in small batches, so that it rarely meets
    // the workers at the lock; a batch also goes when it has waited a moment.
    std::vector<std::string> batch;
    auto batchStart = std::chrono::steady_clock::now();
    std::size_t sinceClock = 0;
    const auto hand_on = [&] {
        std::size_t count = 0;
        {
            std::lock_guard<std::mutex> lock(shared.queueMutex);
            for (std::string& path : batch) shared.candidates.push_back(std::move(path));
            count = shared.candidates.size();
        }
        batch.clear();
        shared.queueGrew.notify_all();
        while (workers.size() < count && workers.size() < wanted && !startError) add_worker();
    };
    try {
        walk_directory(root.native(), options.recursive, [&](const WalkEntry& entry) {
            act_on_signals();
            if (!batch.empty() && ++sinceClock % 256 == 0 &&
                std::chrono::steady_clock::now() - batchStart > kBatchWait)
                hand_on();
            if (!name_passes(entry, options, nameRegex)) return;
            if (batch.empty()) batchStart = std::chrono::steady_clock::now();
            batch.push_back(entry.path);
            if (batch.size() >= kBatchSize) hand_on();
        }, true);
        hand_on();
    } catch (...) {
        walkError = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(shared.queueMutex);
        shared.walkDone = true;
        candidatesScanned = walkError ? 0 : shared.candidates.size();
    }
    shared.queueGrew.notify_all();
    for (auto& worker : workers) join_worker(*worker);
    act_on_signals();
    threadsUsed = static_cast<std::uint32_t>(workers.size());
    elapsedSeconds = seconds_since(start);

    if (walkError) std::rethrow_exception(walkError);
    if (workers.empty() && startError) std::rethrow_exception(startError);
    if (shared.firstError) std::rethrow_exception(shared.firstError);
    return std::move(shared.results);
}

bool match_file_content(const fs::path& file, const Options& options, const SearchRegex* contentRegex,
                        std::string& snippet, std::uint64_t& lineNumber) {
    snippet.clear();
    lineNumber = 0;
    if (!options.useContentPattern && !options.useContentRegex) return false;
    const int fd = open_any_length(file.native(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    try {
        const bool found = match_open_file(fd, file.native(), options, contentRegex, snippet, lineNumber);
        close(fd);
        if (!found) {
            snippet.clear();
            lineNumber = 0;
        }
        return found;
    } catch (...) {
        close(fd);
        throw;
    }
}

std::string make_snippet(const std::string& line, const std::string& contentPattern, const SearchRegex* contentRegex,
                         bool useContentPattern, bool useContentRegex) {
    if (useContentRegex && contentRegex && contentRegex->compiled()) {
        std::size_t start = 0;
        std::size_t end = 0;
        if (contentRegex->search(line.data(), line.size(), start, end) == SearchRegex::Outcome::match)
            return marked(line, start, end - start);
    }
    if (useContentPattern && !contentPattern.empty()) {
        const std::size_t p = FoldedNeedle(contentPattern).find(line.data(), line.size());
        if (p != std::string::npos) return marked(line, p, contentPattern.size());
    }
    return line;
}

bool wildcard_match(const std::string& pattern, const std::string& name) { return wildcard_matches(pattern, name); }

namespace {

bool wildcard_matches(std::string_view pattern, std::string_view name) {
    // Greedy matching with one remembered '*': the same answers as the full
    // table of prefixes, in time close to the name's length.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || ascii_lower(pattern[p]) == ascii_lower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

std::string to_lower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

std::string trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string format_size(std::uint64_t bytes) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes);
    int unit = 0;
    while (value >= 1024.0 && unit < 4) {
        value *= 1.0 / 1024.0;
        ++unit;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f %s", unit == 0 ? 0 : 2, value, units[unit]);
    return buf;
}
