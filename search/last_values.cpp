#include "last_values.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "engine.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "# Lumeno TUI last values\n";

bool writable_key(const std::string& key) {
    return !key.empty() && key.find_first_of("=\n") == std::string::npos && trim(key) == key;
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A fresh file beside the target, opened exclusively so that nothing else's file is reused.
int create_temp_beside(int dir, const std::string& name, std::string& tempName) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempName = "." + name + ".tmp" + std::to_string(random());
        const int fd = ::openat(dir, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The whole new content reaches the disk before it takes the old file's name,
// so a crash or a full disk leaves either the old file or the new one, never a cut one.
bool replace_file(const fs::path& file, std::string_view text) {
    const std::string name = file.filename().string();
    if (name.empty()) return false;
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;

    struct stat old {};
    const bool keepMode = ::fstatat(dir, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
    std::string tempName;
    const int fd = create_temp_beside(dir, name, tempName);
    if (fd < 0) {
        ::close(dir);
        return false;
    }
    if (keepMode) (void)::fchmod(fd, old.st_mode & 0777);
    bool ok = write_all(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::renameat(dir, tempName.c_str(), dir, name.c_str()) == 0;
    if (ok)
        (void)::fsync(dir);  // the rename is done; a folder that cannot sync has nothing left to undo
    else
        ::unlinkat(dir, tempName.c_str(), 0);
    ::close(dir);
    return ok;
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
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return {};
    std::string text;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char block[65536];
        for (;;) {
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            text.append(block, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return parse_last_values(text);
}

void save_last_values(const fs::path& file, const LastValues& values) {
    (void)replace_file(file, format_last_values(values));
}
