#include "engine.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "dir_walk.h"
#include "worker_thread.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kRegexFlags = std::regex::ECMAScript | std::regex::icase;

// Enough for the regex engine's recursion over regex_line_limit() bytes;
// only the pages a worker touches are ever committed.
constexpr std::size_t kWorkerStackBytes = std::size_t{64} << 20;
// Stack the expression may use: a quarter of the worker's, for headroom.
constexpr std::size_t kRegexStackBudget = kWorkerStackBytes / 4;
// Measured worst case of the regex engine (sanitized debug build) per
// consumed character and per byte of the expression, with a margin.
constexpr std::size_t kStackPerCharAndPatternByte = 320;

// tolower of the default locale, without a library call per byte: the
// program folds the ASCII letters only, whatever locale curses sets.
inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

void write_error_line(const std::string& line) {
    // One write per line, so that lines from several workers stay whole.
    std::cerr << line + "\n" << std::flush;
}

// The line of a search that could not run, kept for the caller's screen as well.
void report_search_error(std::string* errorLine, const std::string& line) {
    write_error_line(line);
    if (errorLine) *errorLine = line;
}

struct SharedSearch {
    const Options& options;
    const std::vector<fs::path>& candidates;
    const std::regex* contentRegex;  // null when not compiled
    std::atomic<std::uint64_t> next{0};
    std::mutex mutex;
    std::vector<MatchInfo> results;
    std::exception_ptr firstError;
};

void search_worker(SharedSearch& shared) {
    try {
        std::optional<std::regex> ownRegex;
        if (shared.contentRegex) ownRegex.emplace(*shared.contentRegex);
        const std::regex* regex = ownRegex ? &*ownRegex : nullptr;
        const Options& options = shared.options;
        for (;;) {
            const std::uint64_t i = shared.next.fetch_add(1);
            if (i >= shared.candidates.size()) return;
            MatchInfo match;
            match.path = shared.candidates[i];
            std::error_code ec;
            const std::uintmax_t size = fs::file_size(match.path, ec);
            if (ec) continue;
            if (options.hasMinSize && size < options.minSizeBytes) continue;
            if (options.hasMaxSize && size > options.maxSizeBytes) continue;
            match.size = size;
            if (options.useContentPattern || options.useContentRegex) {
                std::string snippet;
                std::uint64_t lineNumber = 0;
                if (!match_file_content(match.path, options, regex, snippet, lineNumber)) continue;
                match.contentMatched = true;
                match.snippet = std::move(snippet);
                match.firstMatchLine = lineNumber;
            }
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.results.push_back(std::move(match));
        }
    } catch (...) {
        // The other workers finish their files; search_files rethrows this one.
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.firstError) shared.firstError = std::current_exception();
    }
}

bool compile_expression(std::regex& out, const std::string& text, const char* what, std::string* errorLine) {
    try {
        out = std::regex(text, kRegexFlags);
        return true;
    } catch (const std::regex_error& e) {
        report_search_error(errorLine, std::string("[ERROR] Invalid ") + what + " pattern: " + e.what());
        return false;
    }
}

void accept_entry(const WalkEntry& entry, const Options& options, const std::regex* filenameRegex,
                  std::vector<fs::path>& candidates) {
    // The walk's paths end in the entry's own name: no need to parse the whole path.
    const std::string& full = entry.path;
    const std::size_t slash = full.find_last_of('/');
    const std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
    if (!options.filenamePattern.empty() && options.filenamePattern != "*" &&
        !wildcard_match(options.filenamePattern, name))
        return;
    if (filenameRegex && !std::regex_search(name, *filenameRegex)) return;
    // Checked last: for a link it costs a query of the file it points to.
    if (!entry.is_regular_file()) return;
    candidates.emplace_back(entry.path);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<double>(ns.count()) / 1e9;
}

bool regex_finds(const std::string& line, std::size_t limit, const std::regex& regex, std::smatch& m) {
    const auto end = line.begin() + static_cast<std::ptrdiff_t>(std::min(limit, line.size()));
    return std::regex_search(line.begin(), end, m, regex);
}

std::string make_snippet_limited(const std::string& line, const std::string& contentPattern,
                                 const std::regex* contentRegex, bool useContentPattern, bool useContentRegex,
                                 std::size_t regexLimit) {
    if (useContentRegex && contentRegex) {
        std::smatch m;
        if (regex_finds(line, regexLimit, *contentRegex, m)) {
            const auto pos = static_cast<std::size_t>(m.position(0));
            const auto len = static_cast<std::size_t>(m.length(0));
            return line.substr(0, pos) + "[MATCH]" + line.substr(pos, len) + "[/MATCH]" + line.substr(pos + len);
        }
    }
    if (useContentPattern && !contentPattern.empty()) {
        const std::size_t p = to_lower(line).find(to_lower(contentPattern));
        if (p != std::string::npos) {
            const std::size_t len = contentPattern.size();
            return line.substr(0, p) + "[MATCH]" + line.substr(p, len) + "[/MATCH]" + line.substr(p + len);
        }
    }
    return line;
}

}  // namespace

std::size_t regex_line_limit(const std::string& expression) {
    // Without a quantifier every match attempt consumes at most one character
    // per expression byte, so the recursion no longer grows with the line.
    if (expression.find_first_of("*+?{") == std::string::npos) return std::numeric_limits<std::size_t>::max();
    const std::size_t perChar = kStackPerCharAndPatternByte * (expression.size() + 2);
    return std::clamp<std::size_t>(kRegexStackBudget / perChar, 64, std::size_t{1} << 20);
}

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

    std::regex contentRegex;
    std::regex filenameRegex;
    if (options.useContentRegex && !compile_expression(contentRegex, options.contentRegex, "--regex", errorLine)) return {};
    if (options.useFilenameRegex && !compile_expression(filenameRegex, options.filenameRegex, "--regex-filename", errorLine))
        return {};

    std::vector<fs::path> candidates;
    const std::regex* nameRegex = options.useFilenameRegex ? &filenameRegex : nullptr;
    // The walk matches the name expression, so it gets a worker's stack too;
    // the calling thread only waits for it.
    std::exception_ptr walkError;
    WorkerThread walker;
    walker.body = [&] {
        try {
            walk_directory(root.native(), options.recursive,
                           [&](const WalkEntry& entry) { accept_entry(entry, options, nameRegex, candidates); });
        } catch (...) {
            walkError = std::current_exception();
        }
    };
    start_worker(walker, kWorkerStackBytes);
    join_worker(walker);
    if (walkError) std::rethrow_exception(walkError);

    candidatesScanned = candidates.size();
    if (candidates.empty()) {
        elapsedSeconds = seconds_since(start);
        return {};
    }

    std::uint64_t n = std::thread::hardware_concurrency();
    if (n == 0) n = 4;
    if (options.hasThreads && options.threads != 0) n = options.threads;
    n = std::min<std::uint64_t>(n, candidates.size());

    SharedSearch shared{options, candidates, options.useContentRegex ? &contentRegex : nullptr, {}, {}, {}, {}};
    std::vector<std::unique_ptr<WorkerThread>> workers;
    std::exception_ptr startError;
    // Reserved first, so that no started worker can be lost to a failing append.
    try {
        workers.reserve(n);
    } catch (...) {
        startError = std::current_exception();
    }
    for (std::uint64_t i = 0; i < n && !startError; ++i) {
        try {
            auto worker = std::make_unique<WorkerThread>();
            worker->body = [&shared] { search_worker(shared); };
            start_worker(*worker, kWorkerStackBytes);
            workers.push_back(std::move(worker));
        } catch (...) {
            // The workers already running share out every candidate.
            startError = std::current_exception();
        }
    }
    for (auto& worker : workers) join_worker(*worker);
    threadsUsed = static_cast<std::uint32_t>(workers.size());
    elapsedSeconds = seconds_since(start);

    if (workers.empty() && startError) std::rethrow_exception(startError);
    if (shared.firstError) std::rethrow_exception(shared.firstError);
    return std::move(shared.results);
}

bool match_file_content(const fs::path& file, const Options& options, const std::regex* contentRegex,
                        std::string& snippet, std::uint64_t& lineNumber) {
    snippet.clear();
    lineNumber = 0;
    if (!options.useContentPattern && !options.useContentRegex) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;

    const std::string pattern = options.useContentPattern ? to_lower(options.contentPattern) : std::string();
    const bool useRegex = options.useContentRegex && contentRegex;
    const std::size_t limit = useRegex ? regex_line_limit(options.contentRegex) : 0;
    bool warned = false;
    std::smatch m;
    std::string line;
    std::uint64_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (options.useContentPattern && to_lower(line).find(pattern) == std::string::npos) continue;
        if (useRegex) {
            if (line.size() > limit && !warned) {
                warned = true;
                write_error_line("[WARN] Line " + std::to_string(number) + " longer than " + std::to_string(limit) +
                                 " bytes, --regex tested on its first " + std::to_string(limit) +
                                 " bytes only: " + file.string());
            }
            if (!regex_finds(line, limit, *contentRegex, m)) continue;
        }
        snippet = make_snippet_limited(line, options.contentPattern, contentRegex, options.useContentPattern,
                                       options.useContentRegex, limit);
        lineNumber = number;
        return true;
    }
    return false;
}

std::string make_snippet(const std::string& line, const std::string& contentPattern, const std::regex* contentRegex,
                         bool useContentPattern, bool useContentRegex) {
    return make_snippet_limited(line, contentPattern, contentRegex, useContentPattern, useContentRegex,
                                std::string::npos);
}

bool wildcard_match(const std::string& pattern, const std::string& name) {
    const std::size_t plen = pattern.size();
    const std::size_t nlen = name.size();
    const std::size_t width = nlen + 1;
    // One flat table reused per thread: the walk calls this once per entry.
    thread_local std::vector<unsigned char> table;
    table.assign((plen + 1) * width, 0);
    const auto cell = [&](std::size_t i, std::size_t j) -> unsigned char& { return table[i * width + j]; };
    cell(0, 0) = 1;
    for (std::size_t i = 1; i <= plen; ++i)
        if (pattern[i - 1] == '*') cell(i, 0) = cell(i - 1, 0);
    for (std::size_t i = 1; i <= plen; ++i) {
        const char p = ascii_lower(pattern[i - 1]);
        for (std::size_t j = 1; j <= nlen; ++j) {
            if (p == '*')
                cell(i, j) = cell(i - 1, j) | cell(i, j - 1);
            else if (p == '?' || p == ascii_lower(name[j - 1]))
                cell(i, j) = cell(i - 1, j - 1);
        }
    }
    return cell(plen, nlen) != 0;
}

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
