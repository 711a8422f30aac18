// The file-name wildcard against a dynamic-programming matcher: same
// answer on every pattern and name, each in time the fuzzer's -timeout bounds.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "engine.h"

namespace {
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The table form of the definition, one row per pattern byte: entry j tells
// whether the pattern so far matches the first j name bytes. Independent of the engine's
// one-star greedy scan, which it must agree with. O(pattern x name).
bool reference_match(const std::string& pattern, const std::string& name) {
    std::vector<char> previous(name.size() + 1, 0), row(name.size() + 1, 0);
    previous[0] = 1;
    for (const char pc : pattern) {
        row[0] = pc == '*' && previous[0];
        for (std::size_t j = 1; j <= name.size(); ++j) {
            if (pc == '*')
                row[j] = previous[j] || row[j - 1];
            else
                row[j] = (pc == '?' || fold(pc) == fold(name[j - 1])) && previous[j - 1];
        }
        previous.swap(row);
    }
    return previous[name.size()] != 0;
}
}  // namespace

// Input: pattern, a NUL byte, name (no NUL: the whole input is the pattern, the name empty).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string pattern = input.substr(0, cut);
    const std::string name = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    FUZZ_CHECK(wildcard_match(pattern, name) == reference_match(pattern, name));
    return 0;
}
