// The port field (std::stoi with the default on any failure, then the clamp
// to 1..65535) against the C library's rules written out plainly.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "port.h"
#include "reference_numbers.h"

namespace {
int reference_port(const std::string& text) {
    if (text.empty()) return kDefaultPort;
    const DecimalReading r = read_decimal(text);
    if (!r.any_digit || digits_above(r.digits, r.negative ? "2147483648" : "2147483647")) return kDefaultPort;
    const auto v = static_cast<std::int64_t>(digits_value(r.digits));
    return static_cast<int>(r.negative ? -v : v);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int port = parse_port(text);
    FUZZ_CHECK(port == reference_port(text));
    const std::uint16_t clamped = clamp_port(port);
    FUZZ_CHECK(clamped == (port < 1 ? 1 : port > 65535 ? 65535 : port));
    return 0;
}
