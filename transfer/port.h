// The port field of the send and receive forms.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int kDefaultPort = 28473;

int parse_port(const std::string& text);
std::uint16_t clamp_port(int value);
