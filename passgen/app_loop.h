#pragma once

#include "generator.h"

// Curses, the language menu, then options form and password list in turn
// until the user leaves; returns 0.
int run_app(GenOptions options);
