// Letter case of the ASCII letters only, as the C locale has it: whatever
// locale curses sets, no other byte is touched, and no library call per byte.
#pragma once

#include <string>

namespace platform {

inline char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string ascii_lower(std::string s) {
    for (char& c : s) c = ascii_lower(c);
    return s;
}

}  // namespace platform
