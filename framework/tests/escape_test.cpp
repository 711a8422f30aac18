#include "escape.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeUntrusted, RewritesControlsC1AndBackslashOnly) {
    struct Case { std::string in, out; };
    const Case cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"a\nb", "a\\x0ab"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b]52;c;cm0=\x07", "\\x1b]52;c;cm0=\\x07"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b" "2J", "csi\\xc2\\x9b2J"},
        {"caf\xc3\xa9 \xe2\x98\x85", "caf\xc3\xa9 \xe2\x98\x85"},      // letters pass
        {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},                              // U+00A0 is no C1
        {"back\\slash", "back\\\\slash"},
        {"lone\xc2", "lone\xc2"},                                      // cut sequence passes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zeylatui::escape_untrusted(c.in), c.out) << c.in;
        const bool control = c.in.find_first_of(std::string("\n\x1b\x7f\0", 4)) != std::string::npos ||
                             c.in.find("\xc2\x9b") != std::string::npos;
        EXPECT_EQ(zeylatui::has_control_text(c.in), control) << c.in;
    }
}

TEST(EscapeUntrusted, OutputHoldsNoTerminalControl) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    all += "\xc2\x80\xc2\x9f";
    const std::string out = zeylatui::escape_untrusted(all);
    EXPECT_FALSE(zeylatui::has_control_text(out));
}

}  // namespace
