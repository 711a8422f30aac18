// The one place where narrow text reaches curses; its refresh holds the
// terminal lock (terminal_lock.h) that keeps other writers out of it.
#pragma once

#include <string>

#include "terminal_lock.h"

// How the program's narrow texts are encoded. UTF-8 passes through; a
// Windows-1252 program has its bytes 0x80 to 0xFF shown as the letters
// they stand for.
enum class TextEncoding { utf8, cp1252 };

void set_text_encoding(TextEncoding encoding);
TextEncoding text_encoding();

// The characters that put_text hands to curses for a text: control bytes
// become one blank each (0x18 and 0x19 become the console's arrows). A letter
// that a byte-wise cut has split (at either end of the text, or before the
// "..." of fit_text) is left out; other bytes that are not valid UTF-8 are
// read as Windows-1252.
std::wstring terminal_text(const std::string& text);

// Screen cells put_text gives a text (a wide letter two, a combining mark none).
int terminal_cells(const std::string& text);

// Draws text at (y, x) on stdscr, cut at the right edge of the screen so
// that it never wraps onto the next row.
void put_text(int y, int x, const std::string& text);

// refresh() under terminal_mutex().
void terminal_refresh();
