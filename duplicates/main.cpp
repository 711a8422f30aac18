#include "banner.h"
#include "report.h"
#include "screens.h"

int main() {
    show_banner(kProgramTitle, kProgramVersion);
    return tui_main();
}
