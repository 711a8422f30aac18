// The terminal text path: fit_text, the cell conversion of UTF-8 and
// Windows-1252 text, and put_text. Never more cells than asked, never a
// control byte or a split letter on screen, never a wrap onto the next row.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "app.h"
#include "fuzz_check.h"
#include "memory_screen.h"
#include "terminal.h"

namespace {
// Offsets where the letters of valid UTF-8 text start, plus its length; empty when not valid.
std::vector<std::size_t> utf8_boundaries(const std::string& s) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < s.size();) {
        starts.push_back(i);
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b < 0x80) len = 1;
        else if (b >= 0xC2 && b <= 0xDF) len = 2;
        else if (b == 0xE0) len = 3, lo = 0xA0;
        else if (b >= 0xE1 && b <= 0xEC) len = 3;
        else if (b == 0xED) len = 3, hi = 0x9F;
        else if (b >= 0xEE && b <= 0xEF) len = 3;
        else if (b == 0xF0) len = 4, lo = 0x90;
        else if (b >= 0xF1 && b <= 0xF3) len = 4;
        else if (b == 0xF4) len = 4, hi = 0x8F;
        else return {};
        if (i + len > s.size()) return {};
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return {};
        }
        i += len;
    }
    starts.push_back(s.size());
    return starts;
}

bool is_control(wchar_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// Screen columns as put_text counts them: a character curses cannot size takes one.
int columns(const std::wstring& cells) {
    int used = 0;
    for (wchar_t c : cells) used += wcwidth(c) < 0 ? 1 : wcwidth(c);
    return used;
}

void check_fit_and_cells(const std::string& text, int w, bool utf8) {
    const std::string fit = fit_text(text, w);
    const auto asked = static_cast<std::size_t>(std::max(w, 0));
    FUZZ_CHECK(fit.size() <= asked);
    const std::wstring cells = terminal_text(fit);
    FUZZ_CHECK(cells.size() <= fit.size());
    FUZZ_CHECK(columns(cells) <= w || cells.empty());
    for (wchar_t c : cells) FUZZ_CHECK(!is_control(c));
    if (!utf8) FUZZ_CHECK(cells.size() == fit.size());
}

// Valid UTF-8 cut byte-wise at `from` and fitted into w: exactly the whole
// letters that survive both cuts, then the "..." when fit_text cut.
void check_no_split_letter(const std::string& text, std::size_t from, int w) {
    const std::vector<std::size_t> starts = utf8_boundaries(text);
    if (starts.empty()) return;
    const std::wstring whole = terminal_text(text);
    FUZZ_CHECK(whole.size() == starts.size() - 1);

    const std::string tail = text.substr(from);
    const std::string fit = fit_text(tail, w);
    const bool dots = fit.size() < tail.size() && w >= 4;
    const std::size_t kept_end = from + fit.size() - (dots ? 3 : 0);
    const std::size_t first = *std::lower_bound(starts.begin(), starts.end(), from);
    const std::size_t last = *(std::upper_bound(starts.begin(), starts.end(), kept_end) - 1);
    std::wstring expected = first < last ? terminal_text(text.substr(first, last - first)) : std::wstring();
    if (dots) expected += L"...";
    FUZZ_CHECK(terminal_text(fit) == expected);
}

// put_text draws on row y only, from column max(x, 0), and never wraps.
void check_put_text(const std::string& text, int rows, int cols, int y, int x) {
    memory_screen_resize(rows, cols);
    put_text(y, x, text);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c)
            if (r != y || c < x) FUZZ_CHECK(memory_screen_char(r, c) == L' ');
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    memory_screen();
    FuzzedDataProvider in(data, size);
    const bool utf8 = in.ConsumeBool();
    const int w = in.ConsumeIntegralInRange<int>(-2, 90);
    const auto from = in.ConsumeIntegralInRange<std::size_t>(0, 8);
    const int rows = in.ConsumeIntegralInRange<int>(1, 12);
    const int cols = in.ConsumeIntegralInRange<int>(1, 100);
    const int y = in.ConsumeIntegralInRange<int>(-1, rows);
    const int x = in.ConsumeIntegralInRange<int>(-5, cols + 1);
    const std::string text = in.ConsumeRemainingBytesAsString();

    set_text_encoding(utf8 ? TextEncoding::utf8 : TextEncoding::cp1252);
    check_fit_and_cells(text, w, utf8);
    if (utf8 && from < text.size()) check_no_split_letter(text, from, w);
    check_put_text(text, rows, cols, y, x);
    return 0;
}
