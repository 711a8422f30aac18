#include "banner.h"
#include "ending_signals.h"
#include "report.h"
#include "screens.h"
#include "terminal_check.h"

int main() {
    watch_ending_signals();
    if (!check_terminal()) return 1;
    show_banner(kProgramTitle, kProgramVersion);
    return tui_main();
}
