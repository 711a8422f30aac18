#pragma once
// Text that came from a file name, a file or a peer, made safe for a terminal or a log line.
#include <string>
#include <string_view>

namespace zeylatui {

// Control bytes (0x00-0x1F, 0x7F) and the UTF-8 C1 characters (U+0080-U+009F, bytes C2 80..C2 9F)
// become \xHH (each byte), a backslash becomes \\; every other byte passes as it is.
// One escaped name is always one line and can never start a terminal escape sequence.
std::string escape_untrusted(std::string_view text);

// True when the text holds a byte or character that escape_untrusted would rewrite (the backslash aside).
bool has_control_text(std::string_view text);

}  // namespace zeylatui
