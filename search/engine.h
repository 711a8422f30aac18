// The search engine: name filters on the walk, size and content filters on
// worker threads. Never touches the screen.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "expression.h"

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

// A result's path as the walk made it, held as its text alone: a
// std::filesystem::path keeps a parsed list of its components beside the
// text, hundreds of bytes per result. It reads like one and converts to one.
class ResultPath {
public:
    ResultPath() = default;
    ResultPath(std::string text) : text_(std::move(text)) {}
    ResultPath(const char* text) : text_(text) {}
    ResultPath(const std::filesystem::path& path) : text_(path.native()) {}

    const std::string& native() const { return text_; }
    const std::string& string() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    std::filesystem::path filename() const { return std::filesystem::path(text_).filename(); }
    operator std::filesystem::path() const { return std::filesystem::path(text_); }
    operator const std::string&() const { return text_; }  // for the streams' by-name constructors
    bool operator==(const ResultPath& other) const = default;
    friend bool operator==(const ResultPath& a, const std::filesystem::path& b) {
        return std::filesystem::path(a.text_) == b;
    }
    friend std::ostream& operator<<(std::ostream& out, const ResultPath& path) {
        return out << std::filesystem::path(path.text_);
    }

private:
    std::string text_;
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

bool match_file_content(const std::filesystem::path& file, const Options& options, const SearchRegex* contentRegex,
                        std::string& snippet, std::uint64_t& lineNumber);

std::string make_snippet(const std::string& line, const std::string& contentPattern, const SearchRegex* contentRegex,
                         bool useContentPattern, bool useContentRegex);

bool wildcard_match(const std::string& pattern, const std::string& name);
std::string to_lower(const std::string& s);
std::string trim(const std::string& s);
std::string format_size(std::uint64_t bytes);

