#include "app_loop.h"
#include "banner.h"
#include "ending_signals.h"
#include "terminal_check.h"

int main(int argc, char** argv) {
    watch_ending_signals();
    if (!check_terminal()) return 1;
    enter_program_folder(argc >= 1 ? argv[0] : nullptr);
    show_banner("Lumeno", "2.2.0");
    const Options options;
    return run_app(options);
}
