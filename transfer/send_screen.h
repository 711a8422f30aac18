#pragma once

#include "app.h"

void run_send_tui(zeylatui::App& app);
