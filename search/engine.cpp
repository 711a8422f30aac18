#include "engine.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "ascii.h"
#include "dir_walk.h"
#include "ending_signals.h"
#include "escape.h"
#include "fd.h"
#include "line_scan.h"
#include "line_sink.h"

namespace fs = std::filesystem;

namespace {

// Candidates reach the workers in batches of this many (or bytes of paths), or
// after this wait, and at the walk's end.
constexpr std::size_t kBatchSize = 256;
constexpr std::size_t kBatchBytes = std::size_t{32} << 10;
constexpr auto kBatchWait = std::chrono::milliseconds(2);
// The walk waits while this many candidates wait for a worker, so that a walk
// far ahead of slow workers does not hold the whole tree's paths.
constexpr std::size_t kQueuedMax = std::size_t{1} << 16;
// Each worker holds a read block and a stack: a worker count typed or loaded
// from the last-values file must not exhaust memory.
constexpr std::uint64_t kMaxWorkers = 256;
// Results gather in chunks of this many, each taken from and given back to the system whole.
constexpr std::size_t kResultChunk = 4096;

using platform::ascii_lower;

bool wildcard_matches(std::string_view pattern, std::string_view name);

// The line of a search that could not run, kept for the caller's screen as well,
// which escapes it itself. It names the root as the user or the file gave it.
void report_search_error(const platform::LineSink& warnings, std::string* errorLine, const std::string& line) {
    warnings(zeylatui::escape_untrusted(line));
    if (errorLine) *errorLine = line;
}

void warn_file(const platform::LineSink& warnings, const std::string& what, const std::string& path) noexcept {
    try {
        warnings("[WARN] " + what + ": " + zeylatui::escape_untrusted(path));
    } catch (...) {
        // Out of memory even for the warning: the file stays not matching all the same.
    }
}

// Memory straight from the system and back to it when freed: the result
// chunks, so that gathering them into the final list never holds both.
template <typename T>
struct SystemPages {
    using value_type = T;
    SystemPages() = default;
    template <typename U>
    SystemPages(const SystemPages<U>&) {}
    T* allocate(std::size_t n) {
        // Filled at once: its pages are made in one call rather than one fault each.
        void* p = mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1,
                       0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) { munmap(p, n * sizeof(T)); }
    friend bool operator==(const SystemPages&, const SystemPages&) { return true; }
};
using ResultChunk = std::vector<MatchInfo, SystemPages<MatchInfo>>;

// Makes the pages of [data, data + bytes) in one call: a fault per page costs
// far more, most of all on virtual machines. Only a hint; whole pages only.
void populate(void* data, std::size_t bytes) {
#ifdef MADV_POPULATE_WRITE
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto from = (reinterpret_cast<std::uintptr_t>(data) + page - 1) / page * page;
    const auto to = (reinterpret_cast<std::uintptr_t>(data) + bytes) / page * page;
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)data;
    (void)bytes;
#endif
}

// Candidates in one buffer, one path after another, with where each starts.
class CandidateBatch {
public:
    void add(const std::string& path, std::size_t nameLength) {
        entries_.push_back({static_cast<std::uint32_t>(text_.size()),
                            static_cast<std::uint32_t>(path.size() - nameLength)});
        text_ += path;
    }
    void add_from(const CandidateBatch& other, std::size_t i) {
        entries_.push_back({static_cast<std::uint32_t>(text_.size()), other.entries_[i].name});
        text_.append(other.path(i), other.length(i));
    }
    std::size_t size() const { return entries_.size(); }
    std::size_t bytes() const { return text_.size(); }
    const char* path(std::size_t i) const { return text_.data() + entries_[i].path; }
    std::size_t length(std::size_t i) const {
        return (i + 1 < entries_.size() ? entries_[i + 1].path : text_.size()) - entries_[i].path;
    }
    // The path's folder part, its final slash included, is its first folder_length bytes.
    std::size_t folder_length(std::size_t i) const { return entries_[i].name; }
    bool same_folder(std::size_t i, std::size_t j) const {
        return folder_length(i) == folder_length(j) && std::memcmp(path(i), path(j), folder_length(i)) == 0;
    }
    void clear() {
        text_.clear();
        entries_.clear();
    }

private:
    struct Entry {
        std::uint32_t path;
        std::uint32_t name;  // the name's offset within the path
    };
    std::string text_;
    std::vector<Entry> entries_;
};

// Candidates reach the workers while the walk is still going on; each is taken by exactly one worker.
struct SharedSearch {
    SharedSearch(const Options& o, const FoldedNeedle* needle, const SearchRegex* regex, const FoldedNeedle* literal,
                 const platform::LineSink& w)
        : options(o), warnings(w), contentNeedle(needle), contentRegex(regex), contentLiteral(literal),
          readsContent(o.useContentPattern || o.useContentRegex) {}

    const Options& options;
    const platform::LineSink& warnings;
    const FoldedNeedle* contentNeedle;   // the content text, when in use
    const SearchRegex* contentRegex;     // null when not compiled
    const FoldedNeedle* contentLiteral;  // what every match of contentRegex holds, or null
    const bool readsContent;

    std::mutex queueMutex;
    std::condition_variable queueGrew;
    std::condition_variable queueShrank;
    std::deque<CandidateBatch> queue;
    std::size_t frontTaken = 0;  // candidates of queue.front() already taken
    std::size_t queued = 0;      // candidates not yet taken
    std::size_t walked = 0;      // candidates ever queued
    std::size_t working = 0;     // workers that have not returned
    bool walkDone = false;

    std::mutex resultMutex;
    std::vector<ResultChunk> results;
    std::exception_ptr firstError;

    // Up to most candidates, in the walk's order; false once the walk is done and all are taken.
    bool take(CandidateBatch& into, std::size_t most) {
        into.clear();
        std::unique_lock<std::mutex> lock(queueMutex);
        queueGrew.wait(lock, [&] { return queued > 0 || walkDone; });
        if (queued == 0) return false;
        CandidateBatch& front = queue.front();
        if (frontTaken == 0 && front.size() <= most) {
            std::swap(into, front);
            queue.pop_front();
        } else {
            for (; into.size() < most && frontTaken < front.size(); ++frontTaken) into.add_from(front, frontTaken);
            if (frontTaken == front.size()) {
                queue.pop_front();
                frontTaken = 0;
            }
        }
        queued -= into.size();
        if (queued < kQueuedMax / 2) queueShrank.notify_one();
        return true;
    }

    // The results of one take, appended together in their order.
    void append(std::vector<MatchInfo>& found) {
        std::lock_guard<std::mutex> lock(resultMutex);
        for (MatchInfo& match : found) {
            if (results.empty() || results.back().size() == kResultChunk) {
                results.emplace_back();
                results.back().reserve(kResultChunk);
            }
            results.back().push_back(std::move(match));
        }
        found.clear();
    }
};

// The content filters on an open file: the first passing line's number and snippet.
// needle: the content text, folded once per search; null when not in use.
bool match_open_file(const platform::LineSink& warnings, int fd, std::uint64_t size, const std::string& path,
                     const Options& options,
                     const FoldedNeedle* needle, const SearchRegex* contentRegex, const FoldedNeedle* literal,
                     std::string& snippet, std::uint64_t& lineNumber) {
    const bool useRegex = options.useContentRegex && contentRegex && contentRegex->compiled();
    const ScanWarning warn = [&](const std::string& what) { warn_file(warnings, what, path); };
    if (!useRegex) return needle && scan_for_needle(fd, size, *needle, warn, lineNumber, snippet);
    return scan_for_expression(fd, size, *contentRegex, literal, needle, warn, lineNumber, snippet);
}

// A candidate's size, asked relative to its open folder when there is one.
bool size_of(const ResultPath& path, std::size_t folderLength, int folderFd, struct stat& st) {
    if (folderFd >= 0) return fstatat(folderFd, path.c_str() + folderLength, &st, 0) == 0;
    if (path.view().size() < PATH_MAX) return stat(path.c_str(), &st) == 0;
    return stat_any_length(path.string(), st);
}

// One candidate: its size, then the content filters; false when it is dropped.
// folderFd: the candidate's folder when open, else -1.
bool examine(const SharedSearch& shared, std::string_view candidate, std::size_t folderLength, int folderFd,
             const SearchRegex* regex, MatchInfo& match) {
    const Options& options = shared.options;
    const auto fits = [&](std::uint64_t size) {
        return !(options.hasMinSize && size < options.minSizeBytes) &&
               !(options.hasMaxSize && size > options.maxSizeBytes);
    };
    struct stat st {};
    if (!shared.readsContent) {
        // Without content filters nearly every candidate is a result: its path is made once, here.
        match.path = ResultPath(candidate);
        if (!size_of(match.path, folderLength, folderFd, st) || !fits(static_cast<std::uint64_t>(st.st_size)))
            return false;
        match.size = static_cast<std::uint64_t>(st.st_size);
        return true;
    }
    // With a content filter the file is opened anyway: its size comes from what was opened.
    const std::string path(candidate);
    const platform::Fd file(open_regular_for_reading(path, st));
    if (!file.valid()) return false;
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (!fits(size)) return false;
    try {
        if (!match_open_file(shared.warnings, file.get(), size, path, options, shared.contentNeedle, regex,
                             shared.contentLiteral, match.snippet, match.firstMatchLine))
            return false;
    } catch (const std::exception& e) {
        // Whatever went wrong stays with this file.
        warn_file(shared.warnings, std::string("Cannot search file (") + e.what() + "), taken as not matching", path);
        return false;
    } catch (...) {
        warn_file(shared.warnings, "Cannot search file, taken as not matching", path);
        return false;
    }
    match.size = size;
    match.contentMatched = true;
    match.path = ResultPath(path);
    return true;
}

void search_worker(SharedSearch& shared) {
    try {
        std::optional<SearchRegex> ownRegex;
        if (shared.contentRegex) ownRegex.emplace(*shared.contentRegex);
        const SearchRegex* regex = ownRegex ? &*ownRegex : nullptr;
        // Content reading varies from file to file: one at a time keeps every worker busy.
        const std::size_t most = shared.readsContent ? 1 : kBatchSize;
        CandidateBatch mine;
        std::vector<MatchInfo> found;
        while (ending_signal() == 0 && shared.take(mine, most)) {
            platform::Fd folder;
            for (std::size_t i = 0; i < mine.size(); ++i) {
                // Sizes of a run of files in one folder are asked relative to it, not by whole paths.
                const std::size_t folderLength = mine.folder_length(i);
                if (i == 0 || !mine.same_folder(i - 1, i)) {
                    folder.reset();
                    if (!shared.readsContent && i + 1 < mine.size() && folderLength > 0 && mine.same_folder(i, i + 1))
                        folder.reset(
                            open_any_length(std::string(mine.path(i), folderLength), O_PATH | O_DIRECTORY | O_CLOEXEC));
                }
                MatchInfo match;
                if (examine(shared, std::string_view(mine.path(i), mine.length(i)), folderLength, folder.get(), regex,
                            match))
                    found.push_back(std::move(match));
            }
            if (!found.empty()) shared.append(found);
        }
    } catch (...) {
        // Out of memory outside any one file: the other workers finish theirs; search_files rethrows this.
        std::lock_guard<std::mutex> lock(shared.resultMutex);
        if (!shared.firstError) shared.firstError = std::current_exception();
    }
    // A walk waiting for room in the queue must not wait for workers that are gone.
    std::lock_guard<std::mutex> lock(shared.queueMutex);
    --shared.working;
    shared.queueShrank.notify_one();
}

bool compile_expression(const platform::LineSink& warnings, SearchRegex& out, const std::string& text,
                        const char* what, std::string* errorLine) {
    std::string description;
    if (out.compile(text, description)) return true;
    report_search_error(warnings, errorLine, std::string("[ERROR] Invalid ") + what + " pattern: " + description);
    return false;
}

bool name_passes(const platform::LineSink& warnings, const WalkEntry& entry, const Options& options,
                 const SearchRegex* filenameRegex) {
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
                warn_file(warnings, "--regex-filename too costly to test, taken as not matching", entry.path);
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
    return search_files_warning_to(options, candidatesScanned, threadsUsed, elapsedSeconds, errorLine,
                                   platform::stderr_sink());
}

std::vector<MatchInfo> search_files_warning_to(const Options& options, std::uint64_t& candidatesScanned,
                                              std::uint32_t& threadsUsed, double& elapsedSeconds,
                                              std::string* errorLine, const platform::LineSink& warnings) {
    if (errorLine) errorLine->clear();
    const auto start = std::chrono::steady_clock::now();
    candidatesScanned = 0;
    threadsUsed = 0;
    elapsedSeconds = 0.0;

    const fs::path root(options.rootPath);
    if (!fs::exists(root)) {
        report_search_error(warnings, errorLine, "[ERROR] Path does not exist: " + root.string());
        return {};
    }
    if (!fs::is_directory(root)) {
        report_search_error(warnings, errorLine, "[ERROR] Path is not a directory: " + root.string());
        return {};
    }

    SearchRegex contentRegex;
    SearchRegex filenameRegex;
    if (options.useContentRegex &&
        !compile_expression(warnings, contentRegex, options.contentRegex, "--regex", errorLine))
        return {};
    if (options.useFilenameRegex &&
        !compile_expression(warnings, filenameRegex, options.filenameRegex, "--regex-filename", errorLine))
        return {};
    std::optional<FoldedNeedle> needle;
    if (options.useContentPattern) needle.emplace(options.contentPattern);
    std::optional<FoldedNeedle> literal;
    if (options.useContentRegex) literal.emplace(required_literal(options.contentRegex));

    std::uint64_t wanted = std::thread::hardware_concurrency();
    if (wanted == 0) wanted = 4;
    if (options.hasThreads && options.threads != 0) wanted = options.threads;
    wanted = std::min(wanted, kMaxWorkers);

    SharedSearch shared(options, needle ? &*needle : nullptr, options.useContentRegex ? &contentRegex : nullptr,
                        literal && !literal->empty() ? &*literal : nullptr, warnings);
    // The expression engine keeps its backtracking on its own stack, so a
    // worker needs no more than an ordinary thread.
    std::vector<std::thread> workers;
    std::exception_ptr startError;
    // A worker joins for each new candidate until there are as many as wanted:
    // never more workers than candidates.
    const auto add_worker = [&] {
        try {
            workers.reserve(workers.size() + 1);
            {
                std::lock_guard<std::mutex> lock(shared.queueMutex);
                ++shared.working;
            }
            try {
                workers.emplace_back([&shared] { search_worker(shared); });
            } catch (...) {
                std::lock_guard<std::mutex> lock(shared.queueMutex);
                --shared.working;
                throw;
            }
        } catch (const std::system_error& e) {
            // The system refused a thread: the workers already running share out every candidate.
            startError = std::make_exception_ptr(std::system_error(e.code(), "cannot start a search worker"));
        } catch (...) {
            // The workers already running share out every candidate.
            startError = std::current_exception();
        }
    };
    const SearchRegex* nameRegex = options.useFilenameRegex ? &filenameRegex : nullptr;
    std::exception_ptr walkError;
    // The walk hands candidates on in batches, so that it rarely meets the
    // workers at the lock; a batch also goes when it has waited a moment.
    CandidateBatch batch;
    auto batchStart = std::chrono::steady_clock::now();
    std::size_t sinceClock = 0;
    const auto hand_on = [&] {
        std::size_t walked = 0;
        {
            std::unique_lock<std::mutex> lock(shared.queueMutex);
            shared.queueShrank.wait(lock, [&] { return shared.queued < kQueuedMax || shared.working == 0; });
            shared.queued += batch.size();
            shared.walked += batch.size();
            walked = shared.walked;
            shared.queue.push_back(std::move(batch));
        }
        batch = CandidateBatch();
        // A batch goes to one worker whole unless files are read, one at a time.
        if (shared.readsContent)
            shared.queueGrew.notify_all();
        else
            shared.queueGrew.notify_one();
        while (workers.size() < walked && workers.size() < wanted && !startError) add_worker();
    };
    try {
        walk_directory(root.native(), options.recursive, [&](const WalkEntry& entry) {
            act_on_signals();
            if (batch.size() != 0 && ++sinceClock % 256 == 0 &&
                std::chrono::steady_clock::now() - batchStart > kBatchWait)
                hand_on();
            if (!name_passes(warnings, entry, options, nameRegex)) return;
            if (batch.size() == 0) batchStart = std::chrono::steady_clock::now();
            batch.add(entry.path, std::strlen(entry.name));
            if (batch.size() >= kBatchSize || batch.bytes() >= kBatchBytes) hand_on();
        }, true);
        if (batch.size() != 0) hand_on();
    } catch (...) {
        walkError = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(shared.queueMutex);
        shared.walkDone = true;
        candidatesScanned = walkError ? 0 : shared.walked;
    }
    shared.queueGrew.notify_all();
    for (std::thread& worker : workers) worker.join();
    act_on_signals();
    threadsUsed = static_cast<std::uint32_t>(workers.size());

    if (walkError) std::rethrow_exception(walkError);
    if (workers.empty() && startError) std::rethrow_exception(startError);
    if (shared.firstError) std::rethrow_exception(shared.firstError);
    // One list, each chunk given back as soon as it is moved over.
    std::size_t total = 0;
    for (const ResultChunk& chunk : shared.results) total += chunk.size();
    std::vector<MatchInfo> results;
    results.reserve(total);
    for (ResultChunk& chunk : shared.results) {
        populate(results.data() + results.size(), chunk.size() * sizeof(MatchInfo));
        std::move(chunk.begin(), chunk.end(), std::back_inserter(results));
        ResultChunk().swap(chunk);
    }
    elapsedSeconds = seconds_since(start);
    return results;
}

bool match_file_content(const fs::path& file, const Options& options, const SearchRegex* contentRegex,
                        std::string& snippet, std::uint64_t& lineNumber, const platform::LineSink& warnings) {
    snippet.clear();
    lineNumber = 0;
    if (!options.useContentPattern && !options.useContentRegex) return false;
    struct stat st {};
    const platform::Fd fd(open_regular_for_reading(file.native(), st));
    if (!fd.valid()) return false;
    std::optional<FoldedNeedle> needle;
    if (options.useContentPattern) needle.emplace(options.contentPattern);
    std::optional<FoldedNeedle> literal;
    if (options.useContentRegex && contentRegex && contentRegex->compiled())
        literal.emplace(required_literal(options.contentRegex));
    const bool found = match_open_file(warnings, fd.get(), static_cast<std::uint64_t>(st.st_size), file.native(),
                                       options,
                                       needle ? &*needle : nullptr, contentRegex,
                                       literal && !literal->empty() ? &*literal : nullptr, snippet, lineNumber);
    if (!found) {
        snippet.clear();
        lineNumber = 0;
    }
    return found;
}

std::string make_snippet(const std::string& line, const std::string& contentPattern, const SearchRegex* contentRegex,
                         bool useContentPattern, bool useContentRegex) {
    if (useContentRegex && contentRegex && contentRegex->compiled()) {
        std::size_t start = 0;
        std::size_t end = 0;
        if (contentRegex->search(line.data(), line.size(), start, end) == SearchRegex::Outcome::match)
            return snippet_of(line.data(), line.size(), start, end);
    }
    if (useContentPattern && !contentPattern.empty()) {
        const std::size_t p = FoldedNeedle(contentPattern).find(line.data(), line.size());
        if (p != std::string::npos) return snippet_of(line.data(), line.size(), p, p + contentPattern.size());
    }
    return line.size() <= kSnippetLineMax ? line : line.substr(0, kSnippetLineMax);
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

std::string to_lower(const std::string& s) { return ascii_lower(s); }

std::string lumeno::trim(const std::string& s) {
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
