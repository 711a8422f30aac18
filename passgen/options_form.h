// The main screen: lengths, exclusions and clipboard time as fields, the
// character classes as toggle buttons.
#pragma once

#include <cstdint>
#include <string>

#include "app.h"
#include "form.h"
#include "generator.h"

// True when the user pressed Generate and every number passed its check.
bool tui_collect_options(zeylatui::App& app, GenOptions& options, bool& generate);
void rebuild_option_buttons(Form& form, GenOptions& options, bool& generate, bool& exit_requested);

namespace corvane {
// A field's number as strtol reads it, clamped to 32 bits; false unless the
// trimmed text is a complete signed decimal integer.
bool parse_number_field(const std::string& text, std::int32_t& value);

// The message key of the first field that fails its check (length, quantity,
// clipboard seconds), or null when all three pass and are stored.
const char* check_option_numbers(const std::string& length_text, const std::string& quantity_text,
                                 const std::string& seconds_text, std::int32_t& length, std::int32_t& quantity,
                                 std::int32_t& seconds);
}  // namespace corvane
