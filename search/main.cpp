#include "app_loop.h"
#include "banner.h"

int main(int argc, char** argv) {
    enter_program_folder(argc >= 1 ? argv[0] : nullptr);
    show_banner("Lumeno", "2.2.0");
    const Options options;
    return run_app(options);
}
