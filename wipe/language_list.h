// The numbered language list at the start of every pass of the main loop.
#pragma once

#include <string>

#include "app.h"

// Lets the user pick one of the six languages; lang then holds the choice
// (unchanged after Esc) and set_language has been called with it. Always true.
bool pick_language_list(zeylatui::App& app, std::string& lang);
