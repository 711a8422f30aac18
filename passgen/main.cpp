#include "app_loop.h"
#include "banner.h"
#include "ending_signals.h"
#include "i18n.h"
#include "terminal_check.h"

int main() {
    // Also keeps the passwords out of core dumps.
    watch_ending_signals();
    if (!check_terminal()) return 1;
    show_banner("Corvane", "v3.0.0");
    set_language(default_language_from_locale());
    const GenOptions defaults;
    return run_app(defaults);
}
