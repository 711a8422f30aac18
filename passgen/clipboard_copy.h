// A password onto the clipboard as Unicode text, and the timer that empties it.
#pragma once

#include <cstdint>
#include <string>

// The Windows-1252 text as UTF-16 on the clipboard; false on any failure.
bool clipboard_set_text(const std::string& text);

namespace corvane {
// Empties the clipboard; when the terminal has gone, at least the copies
// tmux keeps.
void clipboard_clear();

// One clearing, seconds from now, on the program's own timer thread (started
// on first use); false when that thread cannot be started. A later copy does
// not put off an earlier clearing.
bool schedule_clipboard_clear(std::int32_t seconds);

// For the end of the program: a clearing still waiting is carried out now,
// on the calling thread, and the timer thread is joined.
void clear_clipboard_now();

// Clearings still waiting.
std::size_t pending_clipboard_clears();
}  // namespace corvane
