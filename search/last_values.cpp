#include "last_values.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "atomic_file.h"
#include "engine.h"
#include "fd.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "# Lumeno TUI last values\n";

bool writable_key(const std::string& key) {
    return !key.empty() && key.find_first_of("=\n") == std::string::npos && trim(key) == key;
}

}  // namespace

fs::path last_values_path() {
    std::error_code ec;
    return fs::current_path(ec) / "lumeno_conf.dat";
}

LastValues parse_last_values(std::string_view text) {
    LastValues values;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        // A file written with CRLF line ends loads the same values.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string key = trim(std::string(line.substr(0, eq)));
        if (key.empty()) continue;
        values[std::move(key)] = std::string(line.substr(eq + 1));
    }
    return values;
}

std::string format_last_values(const LastValues& values) {
    std::vector<const LastValues::value_type*> entries;
    for (const auto& entry : values)
        if (writable_key(entry.first)) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });

    std::string text(kHeader);
    for (const auto* entry : entries) {
        // A first '#' would make the line a comment; the reader trims the blank off the key.
        if (entry->first[0] == '#') text += ' ';
        text += entry->first;
        text += '=';
        const std::string_view value = std::string_view(entry->second).substr(0, entry->second.find('\n'));
        text += value;
        // The reader takes one carriage return before the line feed as the line end.
        if (!value.empty() && value.back() == '\r') text += '\r';
        text += '\n';
    }
    return text;
}

LastValues load_last_values(const fs::path& file) {
    // A pipe or a device in the file's place would block the start or never end: only a regular file is read.
    const platform::Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode)) {
        char block[65536];
        for (;;) {
            const ssize_t n = platform::read_full(fd.get(), block, sizeof block);
            if (n <= 0) break;
            text.append(block, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < sizeof block) break;
        }
    }
    return parse_last_values(text);
}

void save_last_values(const fs::path& file, const LastValues& values) {
    // Written beside and renamed over: a crash or a full disk leaves the old file or the new one, never a cut one.
    (void)platform::write_file_atomically(file.native(), format_last_values(values), true);
}
