#include "generator.h"

#include <cctype>
#include <stdexcept>
#include <utility>

#include "random.h"

namespace {
const char kLower[] = "abcdefghijklmnopqrstuvwxyz";
const char kUpper[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
const char kDigits[] = "0123456789";
// Windows-1252 letters: E0-EF, F1-F6, F8-FD, FF, C0-CF, D1-D6, D8-DD.
const char kAccented[] =
    "\xE0\xE1\xE2\xE3\xE4\xE5\xE6\xE7\xE8\xE9\xEA\xEB\xEC\xED\xEE\xEF"
    "\xF1\xF2\xF3\xF4\xF5\xF6\xF8\xF9\xFA\xFB\xFC\xFD\xFF"
    "\xC0\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xCA\xCB\xCC\xCD\xCE\xCF"
    "\xD1\xD2\xD3\xD4\xD5\xD6\xD8\xD9\xDA\xDB\xDC\xDD";
const char kSymbols[] = "!@#$%^&*()-_=+[]{};:,.<>/?~`|\\\"'";

constexpr std::int64_t kMaxLength = 4096;
constexpr std::int64_t kMaxQuantity = 10000;
constexpr std::int64_t kMaxCharacters = 20000000;

void append_class(std::vector<std::string>& out, const char* chars) {
    for (const char* c = chars; *c != '\0'; ++c) out.emplace_back(1, *c);
}

std::vector<std::string> class_elements(const char* chars) {
    std::vector<std::string> out;
    append_class(out, chars);
    return out;
}
}  // namespace

std::uint32_t random_below(std::uint32_t n) {
    if (n < 2) return 0;
    const std::uint64_t max = 4294967295u;
    const std::uint64_t limit = max - (max % n);
    for (;;) {
        unsigned char buffer[4] = {0, 0, 0, 0};
        if (BCryptGenRandom(nullptr, buffer, sizeof buffer, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
            throw std::runtime_error("BCryptGenRandom failed");
        const std::uint32_t r = static_cast<std::uint32_t>(buffer[0]) | static_cast<std::uint32_t>(buffer[1]) << 8 |
                                static_cast<std::uint32_t>(buffer[2]) << 16 |
                                static_cast<std::uint32_t>(buffer[3]) << 24;
        if (r < limit) return r % n;
    }
}

std::vector<std::string> build_charset(bool upper, bool lower, bool digits, bool accented, bool symbols) {
    std::vector<std::string> pool;
    if (lower) append_class(pool, kLower);
    if (upper) append_class(pool, kUpper);
    if (digits) append_class(pool, kDigits);
    if (accented) append_class(pool, kAccented);
    if (symbols) append_class(pool, kSymbols);
    return pool;
}

bool is_excluded(const std::string& element, const std::string& exclude) {
    for (char c : element)
        if (exclude.find(c) != std::string::npos) return true;
    return false;
}

void remove_excluded(std::vector<std::string>& elements, const std::string& exclude) {
    if (exclude.empty()) return;
    std::erase_if(elements, [&](const std::string& e) { return is_excluded(e, exclude); });
}

std::vector<std::string> generate_passwords(const GenOptions& o) {
    if (o.length < 1) throw std::runtime_error("Length must be > 0");
    if (o.quantity < 1) throw std::runtime_error("Quantity must be > 0");
    if (o.length > kMaxLength) throw std::runtime_error("Length too large (max 4096)");
    if (o.quantity > kMaxQuantity) throw std::runtime_error("Quantity too large (max 10000)");
    if (static_cast<std::int64_t>(o.length) * static_cast<std::int64_t>(o.quantity) > kMaxCharacters)
        throw std::runtime_error("Requested output is too large (length*quantity limit exceeded)");

    std::vector<std::string> pool = build_charset(o.upper, o.lower, o.digits, o.accented, o.symbols);
    if (!o.exclude.empty()) remove_excluded(pool, o.exclude);
    if (pool.empty()) throw std::runtime_error("Empty charset (after exclude)");

    // Upper before lower here, unlike the pool.
    std::vector<std::vector<std::string>> required;
    if (o.guarantee_each_class) {
        const std::pair<bool, const char*> classes[] = {
            {o.upper, kUpper}, {o.lower, kLower}, {o.digits, kDigits}, {o.accented, kAccented}, {o.symbols, kSymbols}};
        for (const auto& [on, chars] : classes) {
            if (!on) continue;
            std::vector<std::string> members = class_elements(chars);
            remove_excluded(members, o.exclude);
            if (members.empty()) throw std::runtime_error("A selected class became empty after exclude");
            required.push_back(std::move(members));
        }
    }
    const auto k = static_cast<std::int32_t>(required.size());
    if (o.guarantee_each_class && o.length < k)
        throw std::runtime_error("Requested length " + std::to_string(o.length) +
                                 " is smaller than number of required classes (" + std::to_string(k) + ")");

    const auto length = static_cast<std::size_t>(o.length);
    const auto pool_size = static_cast<std::uint32_t>(pool.size());
    std::vector<std::string> result;
    result.reserve(static_cast<std::size_t>(o.quantity));
    for (std::int32_t p = 0; p < o.quantity; ++p) {
        std::vector<std::string> chosen;
        chosen.reserve(length);
        for (const auto& members : required)
            chosen.push_back(members[random_below(static_cast<std::uint32_t>(members.size()))]);
        for (std::size_t i = required.size(); i < length; ++i) chosen.push_back(pool[random_below(pool_size)]);
        for (std::size_t i = chosen.size() - 1; i >= 1; --i) {
            const std::size_t j = random_below(static_cast<std::uint32_t>(i + 1));
            if (j != i) std::swap(chosen[i], chosen[j]);
        }
        std::string password;
        password.reserve(4 * length);
        for (const std::string& c : chosen) password += c;
        result.push_back(std::move(password));
    }
    return result;
}

std::string trim(const std::string& text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && space(text[begin])) ++begin;
    while (end > begin && space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}
