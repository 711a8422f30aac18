// The wipe program's colours; pairs 4 and 5 are its own.
#pragma once

inline constexpr short PAIR_HIGHLIGHT = 4;  // yellow: selected language, status and exit rows
inline constexpr short PAIR_DONE = 5;       // green: the done text

namespace vornix {
// Run right after app_start.
void set_vornix_palette();
}  // namespace vornix
