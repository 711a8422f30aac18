#include "keys.h"

#include <curses.h>

#include "ending_signals.h"

namespace {
constexpr int kEsc = 27;

bool in_range(int c, int low, int high) { return c >= low && c <= high; }

// The next byte only if it is already waiting: a terminal sends a whole
// sequence at once, a person typing does not.
int waiting_byte() {
    nodelay(stdscr, TRUE);
    const int c = wgetch(stdscr);
    nodelay(stdscr, FALSE);
    return c;
}

// After Esc and its introducer ('[' or 'O'): parameter bytes, intermediate
// bytes, then one final byte ends the sequence. A sequence cut short ends
// where the waiting bytes do.
void skip_sequence_rest() {
    for (int c = waiting_byte(); c != ERR; c = waiting_byte()) {
        if (in_range(c, 0x40, 0x7E)) return;  // the final byte
        if (!in_range(c, 0x20, 0x3F)) {       // no part of a sequence: a key of its own
            ungetch(c);
            return;
        }
    }
}
}  // namespace

int read_terminal_key() {
    const int key = wgetch(stdscr);
    if (!act_on_signals()) return key;
    // Continued after a stop: a key read just before it comes next.
    if (key != ERR) ungetch(key);
    return KEY_RESIZE;
}

int read_screen_key() {
    for (;;) {
        const int key = read_terminal_key();
        if (key != kEsc) return key;
        const int next = waiting_byte();
        if (next == ERR) return kEsc;
        if (next != '[' && next != 'O') {
            ungetch(next);
            return kEsc;
        }
        skip_sequence_rest();
    }
}
