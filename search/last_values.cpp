#include "last_values.h"

#include <fstream>

#include "engine.h"

namespace fs = std::filesystem;

fs::path last_values_path() {
    std::error_code ec;
    return fs::current_path(ec) / "lumeno_conf.dat";
}

LastValues load_last_values(const fs::path& file) {
    LastValues values;
    std::ifstream in(file);
    if (!in) return values;
    std::string line;
    while (std::getline(in, line)) {
        // A file written with CRLF line ends loads the same values.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = trim(line.substr(0, eq));
        if (key.empty()) continue;
        values[key] = line.substr(eq + 1);
    }
    return values;
}

void save_last_values(const fs::path& file, const LastValues& values) {
    std::ofstream out(file, std::ios::trunc);
    if (!out) return;
    out << "# Lumeno TUI last values\n";
    for (const auto& [key, value] : values) out << key << '=' << value << '\n';
}
