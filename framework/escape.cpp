#include "escape.h"

namespace zeylatui {
namespace {

bool is_control_byte(unsigned char c) { return c < 0x20 || c == 0x7F; }

// A C1 character in UTF-8 is C2 followed by 80..9F.
bool is_c1_at(std::string_view text, std::size_t i) {
    return i + 1 < text.size() && static_cast<unsigned char>(text[i]) == 0xC2 &&
           static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

void append_hex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

}  // namespace

std::string escape_untrusted(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (is_control_byte(c)) {
            append_hex(out, c);
        } else if (is_c1_at(text, i)) {
            append_hex(out, c);
            append_hex(out, static_cast<unsigned char>(text[i + 1]));
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool has_control_text(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_control_byte(static_cast<unsigned char>(text[i])) || is_c1_at(text, i)) return true;
    }
    return false;
}

}  // namespace zeylatui
