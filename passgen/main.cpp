#include <sys/prctl.h>

#include "app_loop.h"
#include "banner.h"
#include "i18n.h"
#include "terminal_check.h"

int main() {
    // No core dump (Ctrl-\, a crash) may write the passwords to a file.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (!check_terminal()) return 1;
    show_banner("Corvane", "v3.0.0");
    set_language(default_language_from_locale());
    const GenOptions defaults;
    return run_app(defaults);
}
