#include "terminal.h"

#include <curses.h>

#include "cp1252.h"

namespace {
TextEncoding current_encoding = TextEncoding::utf8;

wchar_t screen_char(char32_t cp) {
    if (cp == 0x18) return L'\u2191';
    if (cp == 0x19) return L'\u2193';
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0) || cp == 0) return L' ';
    return static_cast<wchar_t>(cp);
}
bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of a UTF-8 letter that a byte-wise cut has left incomplete at pos:
// the tail of a letter at the very start, or its head at the very end or just
// before the "..." that marks the cut. 0 when the bytes there are anything else.
std::size_t cut_letter_length(const std::string& text, std::size_t pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (is_continuation(byte)) {
        // A cut leaves at most three trailing bytes of a letter; a longer run
        // is no cut letter but text in another encoding.
        if (pos != 0) return 0;
        std::size_t n = 0;
        while (n < text.size() && n < 4 && is_continuation(static_cast<unsigned char>(text[n]))) ++n;
        return n <= 3 ? n : 0;
    }
    std::size_t want = 0;
    if (byte >= 0xC2 && byte <= 0xDF) want = 2;
    if (byte >= 0xE0 && byte <= 0xEF) want = 3;
    if (byte >= 0xF0 && byte <= 0xF4) want = 4;
    if (want == 0) return 0;
    std::size_t n = 1;
    while (n < want && pos + n < text.size() && is_continuation(static_cast<unsigned char>(text[pos + n]))) ++n;
    if (n == want) return 0;
    const std::string rest = text.substr(pos + n);
    return rest.empty() || rest == "..." ? n : 0;
}
}  // namespace

void set_text_encoding(TextEncoding encoding) { current_encoding = encoding; }
TextEncoding text_encoding() { return current_encoding; }

std::wstring terminal_text(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t cp = 0;
        std::size_t n = 0;
        if (current_encoding == TextEncoding::utf8) {
            n = decode_utf8(text, i, cp);
            if (n == 0) {
                const std::size_t cut = cut_letter_length(text, i);
                if (cut > 0) {
                    i += cut;
                    continue;
                }
            }
        }
        if (n == 0) {
            cp = byte < 0x80 ? byte : cp1252_to_unicode(byte);
            n = 1;
        }
        out += screen_char(cp);
        i += n;
    }
    return out;
}

namespace {
// A character curses cannot size is drawn as one blank.
int cell_width(wchar_t& c) {
    const int w = wcwidth(c);
    if (w >= 0) return w;
    c = L' ';
    return 1;
}
}  // namespace

int terminal_cells(const std::string& text) {
    int cells = 0;
    for (wchar_t c : terminal_text(text)) cells += cell_width(c);
    return cells;
}

void put_text(int y, int x, const std::string& text) {
    const int cols = getmaxx(stdscr);
    if (y < 0 || y >= getmaxy(stdscr) || x >= cols) return;
    std::wstring cells = terminal_text(text);
    std::size_t skip = 0;
    // Text that starts left of the screen loses its first cells, as curses
    // would have dropped them.
    for (int col = x; col < 0 && skip < cells.size(); ++skip) col += 1;
    if (x < 0) x = 0;
    std::wstring shown;
    int used = 0;
    for (std::size_t i = skip; i < cells.size(); ++i) {
        wchar_t c = cells[i];
        const int w = cell_width(c);
        if (x + used + w > cols) break;
        shown += c;
        used += w;
    }
    if (!shown.empty()) mvaddnwstr(y, x, shown.c_str(), static_cast<int>(shown.size()));
}

void terminal_refresh() {
    std::lock_guard<std::mutex> lock(terminal_mutex());
    refresh();
}
