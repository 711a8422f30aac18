#include "banner.h"
#include "report.h"
#include "screens.h"
#include "terminal_check.h"

int main() {
    if (!check_terminal()) return 1;
    show_banner(kProgramTitle, kProgramVersion);
    return tui_main();
}
