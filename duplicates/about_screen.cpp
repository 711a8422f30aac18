#include "dialogs.h"
#include "report.h"
#include "screens.h"

void show_about(zeylatui::App& app) {
    tui_message_box(app, "About",
                    std::string(kProgramTitle) + " v" + kProgramVersion + "\n\n" + "Zeylaworks duplicate finder.\n" +
                        "Logic: size -> FNV-1a hash -> byte-by-byte confirmation.\n\n");
}
