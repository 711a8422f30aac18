#include "port.h"

#include <stdexcept>

int parse_port(const std::string& text) {
    if (text.empty()) return kDefaultPort;
    try {
        return std::stoi(text);
    } catch (const std::logic_error&) {
        return kDefaultPort;
    }
}

std::uint16_t clamp_port(int value) {
    if (value <= 0) return 1;
    if (value > 65535) return 65535;
    return static_cast<std::uint16_t>(value);
}
