// The generator form's numbers (a whole trimmed text read as a 32-bit strtol
// that saturates) against the C library's rules written out plainly.
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "options_form.h"
#include "reference_numbers.h"

using namespace corvane;

namespace {
bool reference_number(const std::string& text, std::int32_t& value) {
    std::size_t b = 0, e = text.size();
    while (b < e && is_c_blank(text[b])) ++b;
    while (e > b && is_c_blank(text[e - 1])) --e;
    const std::string trimmed = text.substr(b, e - b);
    const DecimalReading r = read_decimal(trimmed);
    // The whole trimmed text: nothing after the digits.
    if (!r.any_digit || r.end != trimmed.size()) return false;
    if (r.negative)
        value = digits_above(r.digits, "2147483648")
                    ? INT32_MIN
                    : static_cast<std::int32_t>(-static_cast<std::int64_t>(digits_value(r.digits)));
    else
        value = digits_above(r.digits, "2147483647") ? INT32_MAX : static_cast<std::int32_t>(digits_value(r.digits));
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::int32_t got = 12345, want = 12345;
    const bool ok = parse_number_field(text, got);
    FUZZ_CHECK(ok == reference_number(text, want));
    FUZZ_CHECK(!ok || got == want);

    // The three fields in turn: the first that fails names the message.
    const std::size_t third = text.size() / 3;
    const std::string length = text.substr(0, third), quantity = text.substr(third, third),
                      seconds = text.substr(2 * third);
    std::int32_t l = 0, q = 0, s = 0, rl = 0, rq = 0, rs = 0;
    const char* error = check_option_numbers(length, quantity, seconds, l, q, s);
    const char* want_error = nullptr;
    if (!reference_number(length, rl) || rl < 1)
        want_error = "err_invalid_length";
    else if (!reference_number(quantity, rq) || rq < 1)
        want_error = "err_invalid_quantity";
    else if (!reference_number(seconds, rs) || rs < 0)
        want_error = "err_invalid_clipclear";
    FUZZ_CHECK((error == nullptr) == (want_error == nullptr));
    FUZZ_CHECK(error == nullptr || std::string(error) == want_error);
    FUZZ_CHECK(error != nullptr || (l == rl && q == rq && s == rs));
    return 0;
}
