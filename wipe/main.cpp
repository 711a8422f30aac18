#include "app.h"
#include "banner.h"
#include "confirm.h"
#include "ending_signals.h"
#include "form.h"
#include "i18n.h"
#include "key_reader.h"
#include "language_list.h"
#include "palette.h"
#include "run_screen.h"
#include "wipe_config.h"
#include "wizard.h"
#include "terminal_check.h"

int main() {
    watch_ending_signals();
    if (!check_terminal()) return 1;
    show_banner("Vornix", "3.0.0");
    set_language("en");

    zeylatui::App app;
    app_start(app);
    vornix::set_vornix_palette();
    set_form_key_reader(read_key_no_letters);

    WipeConfig cfg;
    for (;;) {
        pick_language_list(app, cfg.lang);
        if (!wizard_config(app, cfg)) break;
        if (wizard_confirm(app, cfg)) run_wipe_ui(app, cfg);
    }
    app_shutdown(app);
    return 0;
}
