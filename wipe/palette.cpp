#include "palette.h"

#include <curses.h>

#include "app.h"

namespace vornix {

void set_vornix_palette() {
    if (!has_colors()) return;
    init_pair(PAIR_FRAME, COLOR_CYAN, COLOR_BLACK);
    init_pair(PAIR_FOCUS, COLOR_WHITE, COLOR_BLACK);
    init_pair(PAIR_STATUS, COLOR_BLACK, COLOR_CYAN);
    init_pair(PAIR_HIGHLIGHT, COLOR_YELLOW, COLOR_BLACK);
    init_pair(PAIR_DONE, COLOR_GREEN, COLOR_BLACK);
}

}  // namespace vornix
