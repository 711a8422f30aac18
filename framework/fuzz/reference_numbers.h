// The C library's decimal reading, written out the plain way for the fuzz
// targets to hold the wizards' number parsers against: the digits are kept as
// text and compared with the type's limit as text, never with arithmetic.
#pragma once

#include <cstdint>
#include <string>

struct DecimalReading {
    bool negative = false;
    std::string digits;      // without leading zeros; empty for zero or for no digit
    bool any_digit = false;  // false: the C library reads no number
    std::size_t end = 0;     // index just after the last digit read
};

inline bool is_c_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Blanks, one optional sign, then the run of digits, as strtol/strtoul read them in base 10.
inline DecimalReading read_decimal(const std::string& text) {
    DecimalReading r;
    std::size_t i = 0;
    while (i < text.size() && is_c_blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) r.negative = text[i++] == '-';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        r.any_digit = true;
        if (!(r.digits.empty() && text[i] == '0')) r.digits += text[i];
        r.end = i + 1;
    }
    return r;
}

// Whether the digits (no leading zeros) name a number above `limit` (digits, no leading zeros).
inline bool digits_above(const std::string& digits, const std::string& limit) {
    if (digits.size() != limit.size()) return digits.size() > limit.size();
    return digits > limit;
}

// The value of digits already known to fit in 64 bits.
inline std::uint64_t digits_value(const std::string& digits) {
    std::uint64_t v = 0;
    for (char c : digits) v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}
