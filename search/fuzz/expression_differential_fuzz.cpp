// SearchRegex against std::regex on expressions and lines built from the
// fuzzer's bytes (expression_differential.h): a difference that is none of
// std::regex's departures from ECMAScript breaks the run.
#include <cstdint>
#include <cstdio>
#include <string>

#include "../tests/expression_differential.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string difference;
    const bool same =
        differential::compare(differential::generate(data, size), difference) != differential::Verdict::differ;
    if (!same) std::fprintf(stderr, "%s\n", difference.c_str());
    FUZZ_CHECK(same);
    return 0;
}
