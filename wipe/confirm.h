// The confirmation step: the user retypes a fresh random code.
#pragma once

#include <random>
#include <string>

#include "app.h"
#include "wipe_config.h"

// Capital letters without I and O, then the digits 2 to 9.
inline constexpr char kCodeAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";

// True when cfg.yes is set or the code was retyped exactly.
bool wizard_confirm(zeylatui::App& app, const WipeConfig& cfg);

namespace vornix {
// "WIPE-" and six symbols, each indexed by the top five bits of one output.
std::string make_confirmation_code(std::mt19937_64& gen);

// The form that asks for code; true when it was typed exactly and confirmed
// with the go button, false (with a beep for a wrong code) otherwise.
bool confirm_code_form(zeylatui::App& app, const std::string& code);
}  // namespace vornix
