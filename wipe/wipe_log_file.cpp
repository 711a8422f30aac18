#include "wipe_log_file.h"

namespace vornix {

void open_wipe_log(std::ofstream& out, const std::string& path) {
    if (path.empty()) return;
    out.open(path, std::ios::out | std::ios::app | std::ios::binary);
}

void append_wipe_log(std::ofstream& out, const std::string& line) {
    if (!out.is_open()) return;
    out << line << '\n';
    out.flush();
}

}  // namespace vornix
