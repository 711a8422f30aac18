// The one keyboard reader of the wipe program and the duplicate finder: it
// turns scan-code pairs and console escape sequences into curses key codes.
#pragma once

// One key from stdscr, letter table included (list navigation).
int read_key();

// The same reading without the letter table, for forms: letters stay
// letters and Tab stays Tab. Install it with set_form_key_reader().
int read_key_no_letters();
