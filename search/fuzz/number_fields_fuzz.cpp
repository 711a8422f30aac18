// The search wizard's numbers (threads as 32-bit stoul, sizes as stoull)
// against the C library's rules written out plainly.
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "option_values.h"
#include "reference_numbers.h"

namespace {
std::optional<std::uint64_t> reference_unsigned(const std::string& text, const std::string& limit,
                                                std::uint64_t modulus_mask) {
    const DecimalReading r = read_decimal(text);
    if (!r.any_digit || digits_above(r.digits, limit)) return std::nullopt;
    const std::uint64_t v = digits_value(r.digits);
    return r.negative ? (0 - v) & modulus_mask : v;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto u32 = parse_stoul32(text);
    const auto want32 = reference_unsigned(text, "4294967295", 0xFFFFFFFFu);
    FUZZ_CHECK(u32 == want32);
    const auto u64 = parse_stoull(text);
    const auto want64 = reference_unsigned(text, "18446744073709551615", ~std::uint64_t{0});
    FUZZ_CHECK(u64 == want64);
    return 0;
}
