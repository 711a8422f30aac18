// The live log of one wipe and the done screen after it.
#pragma once

#include <string>
#include <vector>

#include "app.h"
#include "wipe_config.h"

// Result codes of run_wipe_ui.
inline constexpr int kRunDone = 0;
inline constexpr int kRunEmptyTarget = 1;
inline constexpr int kRunUnsafePath = 2;
inline constexpr int kRunException = 3;
inline constexpr int kRunCurrentDirectory = 4;

int run_wipe_ui(zeylatui::App& app, const WipeConfig& cfg);

namespace vornix {
// Called between the target's checks and its wipe when set: the seam where
// tests change the file system under a checked target.
extern void (*after_target_checks)();
}  // namespace vornix

// The sink body: keeps the line and redraws the whole log screen.
void draw_wipe_log(std::vector<std::string>& lines, const WipeConfig& cfg, const std::string& line);
