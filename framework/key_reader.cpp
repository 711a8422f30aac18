#include "key_reader.h"

#include <curses.h>

#include "keys.h"

namespace {
constexpr int kEsc = 27;

int scan_code_key(int s) {
    switch (s) {
        case 71:
            return KEY_HOME;
        case 72:
            return KEY_UP;
        case 73:
            return KEY_PPAGE;
        case 75:
            return KEY_LEFT;
        case 77:
            return KEY_RIGHT;
        case 79:
            return KEY_END;
        case 80:
            return KEY_DOWN;
        case 81:
            return KEY_NPAGE;
        case 83:
            return KEY_DC;
        default:
            return s;
    }
}

bool is_ascii_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

int tilde_key(const unsigned char* seq, int len) {
    int n = 0;
    for (int i = 1; i < len && seq[i] >= '0' && seq[i] <= '9'; ++i) {
        n = n * 10 + (seq[i] - '0');
        // Anything past two digits is already out of the table; stop before overflow.
        if (n > 100) break;
    }
    switch (n) {
        case 1:
        case 7:
            return KEY_HOME;
        case 3:
            return KEY_DC;
        case 4:
        case 8:
            return KEY_END;
        case 5:
            return KEY_PPAGE;
        case 6:
            return KEY_NPAGE;
        default:
            return kEsc;
    }
}

// Terminals send a whole sequence at once, so the bytes after Esc are read
// without waiting: a lone Esc comes back immediately.
int escape_sequence_key() {
    nodelay(stdscr, TRUE);
    const int c1 = wgetch(stdscr);
    if (c1 == ERR) {
        nodelay(stdscr, FALSE);
        return kEsc;
    }
    const int c2 = wgetch(stdscr);
    if (c2 == ERR) {
        nodelay(stdscr, FALSE);
        return kEsc;
    }
    unsigned char seq[26];
    int len = 0;
    seq[len++] = static_cast<unsigned char>(c1);
    seq[len++] = static_cast<unsigned char>(c2);
    for (int i = 0; i < 24; ++i) {
        const int c = wgetch(stdscr);
        if (c == ERR) break;
        seq[len++] = static_cast<unsigned char>(c);
        if (is_ascii_letter(seq[len - 1]) || seq[len - 1] == '~') break;
    }
    nodelay(stdscr, FALSE);

    if (seq[0] != '[' && seq[0] != 'O') return kEsc;
    switch (seq[len - 1]) {
        case 'A':
            return KEY_UP;
        case 'B':
            return KEY_DOWN;
        case 'C':
            return KEY_RIGHT;
        case 'D':
            return KEY_LEFT;
        case 'F':
            return KEY_END;
        case 'H':
            return KEY_HOME;
        case '~':
            return tilde_key(seq, len);
        default:
            return kEsc;
    }
}

int letter_key(int k) {
    switch (k) {
        case 9:
        case 'j':
        case 'J':
        case 's':
        case 'S':
            return KEY_DOWN;
        case 'k':
        case 'K':
        case 'w':
        case 'W':
            return KEY_UP;
        case 'h':
        case 'H':
        case 'a':
        case 'A':
            return KEY_LEFT;
        case 'l':
        case 'L':
        case 'd':
        case 'D':
            return KEY_RIGHT;
        default:
            return k;
    }
}

bool is_continuation(int c) { return c >= 0x80 && c <= 0xBF; }

// 224 is also the first byte of the UTF-8 letters U+0800-U+0FFF (E0, then
// A0-BF, then a continuation byte), which terminals send in one piece: such
// a letter comes back byte by byte, a scan-code pair as before.
int after_224() {
    const int s = wgetch(stdscr);
    if (s < 0xA0 || s > 0xBF) return scan_code_key(s);
    nodelay(stdscr, TRUE);
    const int c3 = wgetch(stdscr);
    nodelay(stdscr, FALSE);
    if (c3 == ERR) return scan_code_key(s);
    // ungetch hands keys back last in, first out.
    ungetch(c3);
    if (!is_continuation(c3)) return scan_code_key(s);
    ungetch(s);
    return 224;
}

int read_translated(bool letters) {
    const int k = read_terminal_key();
    if (k == 0) return scan_code_key(wgetch(stdscr));
    if (k == 224) return after_224();
    if (k == kEsc) return escape_sequence_key();
    if (letters && k >= 9 && k <= 119) return letter_key(k);
    return k;
}
}  // namespace

int read_key() { return read_translated(true); }

int read_key_no_letters() { return read_translated(false); }
