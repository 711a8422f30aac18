#include "app_loop.h"
#include "banner.h"
#include "i18n.h"
#include "terminal_check.h"

int main() {
    if (!check_terminal()) return 1;
    show_banner("Corvane", "v3.0.0");
    set_language(default_language_from_locale());
    const GenOptions defaults;
    return run_app(defaults);
}
