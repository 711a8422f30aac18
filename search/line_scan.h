// Finding the first passing line of a file from large blocks read once, front
// to back: lines are counted as the blocks pass, the needle is looked for
// with a vector search for its two rarest bytes, and a line is copied only
// when an expression must see it whole. Whatever goes wrong in one file ends
// with one warning for that file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "expression.h"

// A snippet holds a line up to this long whole; of a longer line it holds this
// many bytes around the first hit.
constexpr std::size_t kSnippetLineMax = std::size_t{64} << 10;
// Bytes of a long line kept before its hit in the snippet, so that the details
// view, which shows a snippet's start, still shows the hit.
constexpr std::size_t kSnippetLead = 256;
// Longest line an expression is run on; a longer line that may hold a match
// gives up its file rather than exhaust memory.
constexpr std::size_t kExpressionLineMax = std::size_t{64} << 20;
// The expression work of one file: this many lines' fixed budgets, plus the
// per-byte share of every line searched.
constexpr std::uint64_t kFileBudgetLines = 16;

// The content text folded once (A-Z only), searched without folding copies of the data.
struct FoldedNeedle {
    explicit FoldedNeedle(const std::string& text);
    // Offset of the first occurrence in data[0, size), or npos.
    std::size_t find(const char* data, std::size_t size) const;
    bool empty() const { return folded.empty(); }

    std::string folded;
    // The two needle positions whose bytes are rarest in text and code: a
    // place holding both is checked in full.
    std::size_t rare1 = 0;
    std::size_t rare2 = 0;
};

// A text (ASCII case folded) that every match of the expression holds, taken
// from its plain characters outside groups; empty when none is sure.
std::string required_literal(const std::string& expression);

// One warning's text for the file being scanned, without "[WARN] " and the path.
using ScanWarning = std::function<void(const std::string&)>;

// The first line holding the needle: its 1-based number and its snippet (the
// line with the hit marked). sizeWhenOpened: a file that ends before it shrank
// while it was read, which gives a warning.
bool scan_for_needle(int fd, std::uint64_t sizeWhenOpened, const FoldedNeedle& needle, const ScanWarning& warn,
                     std::uint64_t& number, std::string& snippet);

// The first line on which the expression matches (and that holds the needle,
// when one is given). literal: a text every match holds (required_literal),
// or null; lines without it, or without the expression's required byte, are
// never given to the expression, whatever their length. A line on which the
// expression gives up warns and does not pass; so does a line too long to hold
// that may match, and too much work in one file, both of which give up the
// rest of the file.
bool scan_for_expression(int fd, std::uint64_t sizeWhenOpened, const SearchRegex& regex,
                         const FoldedNeedle* literal, const FoldedNeedle* needle, const ScanWarning& warn,
                         std::uint64_t& number, std::string& snippet);

// The snippet of a line: its bytes with [start, end) marked, whole up to
// kSnippetLineMax, otherwise kSnippetLineMax bytes from shortly before start.
std::string snippet_of(const char* line, std::size_t size, std::size_t start, std::size_t end);

// Seam for tests: every read of a file's blocks (platform::read_full by default).
extern ssize_t (*line_scan_read)(int fd, void* data, std::size_t size, bool* failed);
