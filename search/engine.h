// The search engine: name filters on the walk, size and content filters on
// worker threads. Never touches the screen.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expression.h"
#include "line_sink.h"

struct Options {
    std::string rootPath = ".";
    std::string filenamePattern = "*";
    std::string contentPattern;
    bool useContentPattern = false;
    std::string contentRegex;
    bool useContentRegex = false;
    std::string filenameRegex;
    bool useFilenameRegex = false;
    bool recursive = true;
    bool searchRequested = false;
    bool hasMinSize = false;
    bool hasMaxSize = false;
    std::uint64_t minSizeBytes = 0;
    std::uint64_t maxSizeBytes = 0;
    std::uint32_t duplicatesMode = 0;  // 0 any, 1 dup, 2 uniq
    bool hasDuplicatesDir = false;
    std::string duplicatesDir;
    bool showStatistics = false;
    bool hasThreads = false;
    std::uint32_t threads = 0;  // 0: automatic
};

// A result's path as the walk made it, held as its text alone in one
// allocation: a std::filesystem::path keeps a parsed list of its components
// beside the text, hundreds of bytes per result. It reads like one and
// converts to one.
class ResultPath {
public:
    ResultPath() = default;
    ResultPath(std::string_view text) { assign(text); }
    ResultPath(const std::string& text) { assign(text); }
    ResultPath(const char* text) { assign(text); }
    ResultPath(const std::filesystem::path& path) { assign(path.native()); }
    ResultPath(const ResultPath& other) { assign(other.view()); }
    ResultPath(ResultPath&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
    ResultPath& operator=(ResultPath other) noexcept {
        std::swap(data_, other.data_);
        return *this;
    }
    ~ResultPath() { delete[] data_; }

    std::string_view view() const {
        return data_ ? std::string_view(data_ + sizeof(std::size_t), length()) : std::string_view();
    }
    std::string native() const { return std::string(view()); }
    std::string string() const { return std::string(view()); }
    const char* c_str() const { return data_ ? data_ + sizeof(std::size_t) : ""; }
    std::filesystem::path filename() const { return std::filesystem::path(view()).filename(); }
    operator std::filesystem::path() const { return std::filesystem::path(view()); }
    operator std::string() const { return std::string(view()); }  // for the streams' by-name constructors
    friend bool operator==(const ResultPath& a, const ResultPath& b) { return a.view() == b.view(); }
    friend bool operator==(const ResultPath& a, const std::filesystem::path& b) {
        return std::filesystem::path(a.view()) == b;
    }
    friend std::ostream& operator<<(std::ostream& out, const ResultPath& path) {
        return out << std::filesystem::path(path.view());
    }

private:
    std::size_t length() const {
        std::size_t n = 0;
        std::memcpy(&n, data_, sizeof n);
        return n;
    }
    // The length, the text and a NUL.
    void assign(std::string_view text) {
        data_ = new char[sizeof(std::size_t) + text.size() + 1];
        const std::size_t n = text.size();
        std::memcpy(data_, &n, sizeof n);
        std::memcpy(data_ + sizeof n, text.data(), n);
        data_[sizeof n + n] = '\0';
    }

    char* data_ = nullptr;
};

struct MatchInfo {
    ResultPath path;
    std::uint64_t size = 0;
    bool contentMatched = false;
    std::string snippet;
    std::uint64_t firstMatchLine = 0;
};

// errorLine, when given, receives the "[ERROR] ..." line of a search that could not run
// (also written to standard error), so that the screen can show it; empty otherwise.
std::vector<MatchInfo> search_files(const Options& options, std::uint64_t& candidatesScanned,
                                    std::uint32_t& threadsUsed, double& elapsedSeconds,
                                    std::string* errorLine = nullptr);
// The same, with each warning and error line handed to `warnings` instead of
// standard error (from the walk's thread and the workers, possibly at once).
std::vector<MatchInfo> search_files_warning_to(const Options& options, std::uint64_t& candidatesScanned,
                                              std::uint32_t& threadsUsed, double& elapsedSeconds,
                                              std::string* errorLine, const platform::LineSink& warnings);

bool match_file_content(const std::filesystem::path& file, const Options& options, const SearchRegex* contentRegex,
                        std::string& snippet, std::uint64_t& lineNumber,
                        const platform::LineSink& warnings = platform::stderr_sink());

std::string make_snippet(const std::string& line, const std::string& contentPattern, const SearchRegex* contentRegex,
                         bool useContentPattern, bool useContentRegex);

bool wildcard_match(const std::string& pattern, const std::string& name);
std::string to_lower(const std::string& s);
// The program's own trimming rule (every byte isspace accepts); the wipe program
// and the password generator have rules of their own, so this one's symbol is
// the program's while its callers name it as before.
namespace lumeno {
std::string trim(const std::string& s);
}  // namespace lumeno
using lumeno::trim;
std::string format_size(std::uint64_t bytes);

