// The refusal of a target by its text alone; the opened place is judged in
// target_place.
#include "ascii.h"
#include "target_place.h"
#include "wipe_engine.h"

namespace fs = std::filesystem;

bool is_unsafe_path(const fs::path& p) {
    const std::string raw = p.string();
    const std::string text = platform::ascii_lower(raw);
    if (text.size() == 3 && text[1] == ':' && (text[2] == '\\' || text[2] == '/')) return true;
    if (text.rfind("c:\\windows", 0) == 0) return true;
    if (text.rfind("\\windows", 0) == 0) return true;
    if (text.rfind("\\\\.\\", 0) == 0) return true;
    if (!raw.empty() && raw.front() == '/' && vornix::is_system_path_text(raw)) return true;
    return vornix::names_parent_folder(raw);
}
