#include "wipe_engine.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <memory>
#include <new>
#include <sstream>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::function<void(const std::string&)> log_sink;
bool log_enabled = false;

namespace {
std::string lower_ascii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Repeated slashes, trailing slashes and "." components folded away; ".."
// stays, so "/usr/../x" still reads as below /usr.
std::string fold_slashes_and_dots(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t next = text.find('/', i);
        const std::string part = text.substr(i, next == std::string::npos ? std::string::npos : next - i);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (next == std::string::npos) break;
        i = next + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

bool is_system_folder(const std::string& absolute_text) {
    static const char* const kSystemFolders[] = {"/bin",    "/boot", "/dev", "/etc",  "/lib", "/lib32", "/lib64",
                                                 "/libx32", "/proc", "/run", "/sbin", "/sys", "/usr"};
    const std::string folded = fold_slashes_and_dots(absolute_text);
    if (folded == "/") return true;
    for (const std::string f : kSystemFolders)
        if (folded == f || folded.rfind(f + "/", 0) == 0) return true;
    return false;
}

bool is_missing(const std::error_code& ec) {
    return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory ||
           ec == std::errc::filename_too_long || ec == std::errc::invalid_argument;
}

// The last component the text names: "link/" and "link/." reach through the
// link, yet the user chose the link itself.
fs::path without_trailing_dots(const fs::path& p) {
    std::string text = p.string();
    for (;;) {
        if (text.size() > 1 && text.back() == '/')
            text.pop_back();
        else if (text.size() > 2 && text.ends_with("/."))
            text.resize(text.size() - 2);
        else
            return text;
    }
}

bool names_a_link(const fs::path& target, const fs::file_status& st) {
    if (st.type() == fs::file_type::symlink) return true;
    std::error_code ec;
    return fs::symlink_status(without_trailing_dots(target), ec).type() == fs::file_type::symlink;
}

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Block = std::unique_ptr<unsigned char, FreeDeleter>;

// calloc hands out untouched zero pages, so a large block costs memory only
// where it is actually written.
Block zeroed_block(std::uint64_t bytes) {
    auto* p = static_cast<unsigned char*>(std::calloc(std::max<std::uint64_t>(bytes, 1), 1));
    if (p == nullptr) throw std::bad_alloc();
    return Block(p);
}

bool overwrite_pass(const fs::path& path, const std::string& shown, std::uint64_t size, std::uint64_t block_bytes,
                    bool random_pass, const unsigned char* zeros, unsigned char* random, std::mt19937_64& gen) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!f.is_open()) f.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!f.is_open()) {
        log_line("Failed to open for overwrite: " + shown);
        return false;
    }
    f.seekp(0);
    std::uint64_t written = 0;
    while (written < size) {
        const std::uint64_t n = std::min(size - written, block_bytes);
        const unsigned char* data = zeros;
        if (random_pass) {
            fill_random_block(random, n, gen);
            data = random;
        }
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
        if (f.fail()) {
            log_line("Write error on: " + shown);
            f.close();
            return false;
        }
        written += n;
    }
    f.flush();
    f.close();
    return true;
}
}  // namespace

std::string now_timestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream out;
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return out.str();
}

std::string trim(const std::string& s) {
    const char* blanks = " \t\r\n";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

void log_line(const std::string& msg) {
    if (!log_enabled || !log_sink) return;
    std::string line = "[";
    line += now_timestamp();
    line += "] ";
    line += msg;
    log_sink(line);
}

bool is_unsafe_path(const fs::path& p) {
    const std::string text = lower_ascii(p.string());
    if (text.size() == 3 && text[1] == ':' && (text[2] == '\\' || text[2] == '/')) return true;
    if (text.rfind("c:\\windows", 0) == 0) return true;
    if (text.rfind("\\windows", 0) == 0) return true;
    if (text.rfind("\\\\.\\", 0) == 0) return true;

    const std::string raw = p.string();
    if (!raw.empty() && raw.front() == '/' && is_system_folder(raw)) return true;
    if (raw.empty()) return false;

    // The place the path really names: "../../etc" or a link to /usr.
    std::error_code ec;
    const fs::path absolute = fs::absolute(p, ec);
    if (ec) return false;
    fs::path resolved = fs::weakly_canonical(absolute, ec);
    if (ec) resolved = absolute.lexically_normal();
    return is_system_folder(resolved.string());
}

bool is_current_directory(const fs::path& target) {
    try {
        const fs::path cwd = fs::current_path();
        return fs::exists(target) && fs::exists(cwd) && fs::equivalent(target, cwd);
    } catch (...) {
        // The check itself failing must not stop the run.
        return false;
    }
}

void fill_random_block(unsigned char* block, std::uint64_t n, std::mt19937_64& gen) {
    std::uint64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const auto v = static_cast<std::uint32_t>(gen());
        block[i] = static_cast<unsigned char>(v);
        block[i + 1] = static_cast<unsigned char>(v >> 8);
        block[i + 2] = static_cast<unsigned char>(v >> 16);
        block[i + 3] = static_cast<unsigned char>(v >> 24);
    }
    if (i < n) {
        auto v = static_cast<std::uint32_t>(gen());
        for (; i < n; ++i, v >>= 8) block[i] = static_cast<unsigned char>(v);
    }
}

bool wipe_file(const fs::path& path, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const std::string shown = path.string();
    // Links are never followed: what they point to lies outside the target.
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || st.type() != fs::file_type::regular) {
        log_line("Skipping non-regular file: " + shown);
        return false;
    }
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        log_line("Could not get size: " + shown + " (" + ec.message() + ")");
        return false;
    }
    log_line(std::string(dry_run ? "[DRY] " : "") + "Preparing to overwrite: " + shown + " (" + std::to_string(size) +
             " bytes)");
    if (dry_run) return true;

    if (size == 0) {
        fs::remove(path, ec);
        if (ec) {
            log_line("Zero-length file removed with error: " + shown + " (" + ec.message() + ")");
            return false;
        }
        log_line("Zero-length file removed: " + shown);
        return true;
    }

    const Block zeros = zeroed_block(block_bytes);
    const Block random = zeroed_block(block_bytes);
    std::random_device source;
    const std::uint32_t seed = source();
    std::mt19937_64 gen(seed);

    for (std::uint64_t pass = 0; pass < passes; ++pass) {
        if (!overwrite_pass(path, shown, size, block_bytes, pass % 2 == 1, zeros.get(), random.get(), gen))
            return false;
    }

    fs::remove(path, ec);
    if (ec) {
        log_line("File removed with error: " + shown + " (" + ec.message() + ")");
        return false;
    }
    log_line("File overwritten and removed: " + shown);
    return true;
}

void wipe_target(const fs::path& target, std::uint64_t passes, std::uint64_t block_bytes, bool dry_run) {
    const std::string shown = target.string();
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(target, ec);
    if (ec && !is_missing(ec)) throw fs::filesystem_error("cannot query target", target, ec);
    if (ec || !fs::exists(st)) {
        log_line("Path does not exist: " + shown);
        return;
    }
    // A link as target is reported and left alone, never walked through.
    if (st.type() == fs::file_type::regular || names_a_link(target, st)) {
        wipe_file(target, passes, block_bytes, dry_run);
        return;
    }

    for (fs::recursive_directory_iterator it(target, fs::directory_options::skip_permission_denied), end; it != end;
         ++it) {
        try {
            const fs::path entry = it->path();
            std::error_code entry_ec;
            const fs::file_status entry_st = fs::symlink_status(entry, entry_ec);
            if (entry_ec && !is_missing(entry_ec)) throw fs::filesystem_error("cannot query entry", entry, entry_ec);
            if (entry_ec) continue;
            if (entry_st.type() == fs::file_type::regular || entry_st.type() == fs::file_type::symlink)
                wipe_file(entry, passes, block_bytes, dry_run);
        } catch (const std::exception& e) {
            log_line(std::string("Exception while iterating: ") + e.what());
        }
    }

    if (dry_run) {
        log_line("[DRY] Directory removal skipped for: " + shown);
        return;
    }
    fs::remove_all(target, ec);
    if (ec) {
        log_line("Could not remove directory tree: " + shown + " (" + ec.message() + ")");
        return;
    }
    log_line("Directory tree removed: " + shown);
}
