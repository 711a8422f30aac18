// A password onto the clipboard as Unicode text, and the timer that empties it.
#pragma once

#include <cstdint>
#include <string>

// The Windows-1252 text as UTF-16 on the clipboard; false on any failure.
bool clipboard_set_text(const std::string& text);
// Timer thread body: sleeps the seconds, then empties the clipboard; owns
// and frees seconds.
int clipboard_clear_after(std::int32_t* seconds);
