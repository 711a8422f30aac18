// The share card, the progress screen and the result screen: whole-terminal
// views drawn directly rather than through forms and menus.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "transfer_log.h"

// True on Enter, false on Esc.
bool show_share_card(const std::string& host, std::uint16_t port, const std::string& session_text,
                     const std::string& fingerprint);

// Redraws every 80 ms until done, then shows the result screen.
void show_transfer_progress(const std::string& title, const std::string& status, TransferLog& log,
                            const std::atomic<bool>& done, const std::atomic<bool>& success, const std::string& error);

void show_result_screen(const std::string& title, const std::vector<std::string>& lines);

namespace tovrel {
// The first n characters of UTF-8 text (a byte cut could split a letter).
std::string cut_text(const std::string& text, int n);
}  // namespace tovrel
