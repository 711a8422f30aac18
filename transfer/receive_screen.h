#pragma once

#include "app.h"

void run_receive_tui(zeylatui::App& app);
