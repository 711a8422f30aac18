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
        if (current_encoding == TextEncoding::utf8) n = decode_utf8(text, i, cp);
        if (n == 0) {
            cp = byte < 0x80 ? byte : cp1252_to_unicode(byte);
            n = 1;
        }
        out += screen_char(cp);
        i += n;
    }
    return out;
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
        int w = wcwidth(cells[i]);
        wchar_t c = cells[i];
        if (w < 0) c = L' ', w = 1;
        if (x + used + w > cols) break;
        shown += c;
        used += w;
    }
    if (!shown.empty()) mvaddnwstr(y, x, shown.c_str(), static_cast<int>(shown.size()));
}

std::mutex& terminal_mutex() {
    static std::mutex m;
    return m;
}

void terminal_refresh() {
    std::lock_guard<std::mutex> lock(terminal_mutex());
    refresh();
}
