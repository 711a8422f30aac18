// The last-values file as the wizard uses it: load, merge into the wizard's
// values, save, load again, save again. The two saves are the same bytes and
// the second load gives the values of the first: whatever a load accepts but
// a save cannot write as it came is normalised once, never changed again.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "last_values.h"
#include "option_values.h"

namespace {
// What the wizard does with a loaded file on Search when no field was edited.
std::string wizard_save(const LastValues& loaded, LastValues& stored) {
    Options options;
    stored = loaded;
    merge_last_values(options, stored);
    store_search_values(options, stored);
    return format_last_values(stored);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LastValues first;
    const std::string firstSave = wizard_save(parse_last_values(text), first);
    const LastValues reloaded = parse_last_values(firstSave);
    FUZZ_CHECK(reloaded == first);
    LastValues second;
    FUZZ_CHECK(wizard_save(reloaded, second) == firstSave);
    FUZZ_CHECK(second == first);
    // Without the wizard in between, a saved file reads back and saves to the same bytes.
    FUZZ_CHECK(format_last_values(parse_last_values(firstSave)) == firstSave);
    return 0;
}
