// The options wizard: first screen of every pass of the application loop.
#pragma once

#include <string>
#include <vector>

#include "app.h"
#include "engine.h"

// True after Search (options filled and saved), false after Exit or Esc.
bool tui_collect_options(zeylatui::App& app, Options& options);

// The language button's order; the duplicate finder keeps a list of its own.
namespace lumeno {
const std::vector<std::string>& supported_languages();
}  // namespace lumeno
using lumeno::supported_languages;
std::string next_language(const std::string& code);
std::string dup_mode_label(const Options& options);
