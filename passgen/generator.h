// Passwords from chosen character classes, drawn from the system's
// cryptographic random source. No screen code here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct GenOptions {
    bool upper = false;
    bool lower = false;
    bool digits = false;
    bool accented = false;
    bool symbols = false;
    std::int32_t length = 16;
    std::int32_t quantity = 1;
    std::string exclude;
    bool guarantee_each_class = true;
    std::int32_t clipboard_clear_seconds = 0;
};

// Uniform in 0 .. n-1 (0 when n < 2); throws "BCryptGenRandom failed".
std::uint32_t random_below(std::uint32_t n);

// One element per character, in the order lower, upper, digits, accented, symbols.
std::vector<std::string> build_charset(bool upper, bool lower, bool digits, bool accented, bool symbols);
bool is_excluded(const std::string& element, const std::string& exclude);
void remove_excluded(std::vector<std::string>& elements, const std::string& exclude);

// Throws std::runtime_error with the refusal texts; changes nothing in options.
std::vector<std::string> generate_passwords(const GenOptions& options);

namespace corvane {
// Without leading and trailing isspace characters.
std::string trim(const std::string& text);
}  // namespace corvane
