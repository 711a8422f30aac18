// The wipe wizard's passes and block size (32-bit stoul, then the wizard's
// defaults and clamps) against the C library's rules written out plainly.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "reference_numbers.h"
#include "wizard.h"

using namespace vornix;

namespace {
std::optional<std::uint64_t> reference_stoul32(const std::string& text) {
    const DecimalReading r = read_decimal(text);
    if (!r.any_digit || digits_above(r.digits, "4294967295")) return std::nullopt;
    const std::uint64_t v = digits_value(r.digits);
    return r.negative && v != 0 ? 4294967296u - v : v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto want = reference_stoul32(text);
    FUZZ_CHECK(parse_u32_like_stoul(text) == want);

    const std::uint64_t passes = !want || *want == 0 ? 1 : *want;
    FUZZ_CHECK(parse_passes(text) == passes);
    std::uint64_t block = 4;
    if (want) block = *want == 0 ? 1 : (*want > 1024 ? 1024 : *want);
    FUZZ_CHECK(parse_block_mib(text) == block);
    return 0;
}
