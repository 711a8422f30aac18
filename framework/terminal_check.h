// Whether the terminal can show full screens at all, checked before anything is drawn.
#pragma once

#include <iostream>

// Whether the terminal type `term` (a TERM value) can move the cursor to any
// cell; without that every screen comes out as a scramble of lines.
bool terminal_can_address_cursor(const char* term);

// For the first line of main: true when the terminal in TERM can address the
// cursor, otherwise false after one line on `err` that says so.
bool check_terminal(std::ostream& err = std::cerr);
