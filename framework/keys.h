// Keys for screens that read the keyboard themselves rather than through a
// program's own key reader.
#pragma once

// One key from stdscr, blocking. An ending signal ends the program here;
// after a stop (Ctrl-Z) and continue, KEY_RESIZE, so that the screen is
// drawn again. ERR only when the terminal is gone.
int read_terminal_key();

// read_terminal_key, with an escape sequence that the terminal's description
// does not know (Shift+Tab on a vt100: Esc [ Z) taken as one unknown key and
// skipped, never as Esc followed by stray keys. An Esc with nothing waiting
// behind it is Esc at once.
int read_screen_key();
