// The list of generated passwords; Enter copies one to the clipboard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app.h"
#include "generator.h"

void tui_show_passwords(zeylatui::App& app, const GenOptions& options, const std::vector<std::string>& passwords);
void copy_password_action(zeylatui::App& app, const GenOptions& options, const std::vector<std::string>& passwords,
                          std::size_t index);

namespace corvane {
// The confirmation after a copy: two paragraphs, and a third announcing the
// clearing when a timer of that many seconds runs.
std::string copied_message(std::int32_t seconds, bool timer_started);
}  // namespace corvane
