// Finding the first passing line of a file from large blocks read with
// read(2): the substring test folds the needle once and never copies lines;
// the line number and the line itself are made only for the first hit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "expression.h"

// The content text folded once (A-Z only), searched without folding copies of the data.
struct FoldedNeedle {
    explicit FoldedNeedle(const std::string& text);
    // Offset of the first occurrence in data[0, size), or npos.
    std::size_t find(const char* data, std::size_t size) const;

    std::string folded;
    std::size_t anchor = 0;  // the needle byte looked for first: the one rarest in text
    char anchorLower = 0;
    char anchorUpper = 0;
};

// Substring only: memory bounded by one block whatever the file; true with the
// first line holding the needle and its 1-based number.
bool scan_for_needle(int fd, const FoldedNeedle& needle, std::string& line, std::uint64_t& number);

// Expression, and the needle too when given: holds at most one line at a time.
// [matchStart, matchEnd) is the expression's match in line. A line on which the
// expression gives up is reported through gaveUp and does not pass.
bool scan_for_expression(int fd, const SearchRegex& regex, const FoldedNeedle* needle,
                         const std::function<void(std::uint64_t)>& gaveUp, std::string& line, std::uint64_t& number,
                         std::size_t& matchStart, std::size_t& matchEnd);
