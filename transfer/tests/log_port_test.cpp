#include <gtest/gtest.h>

#include "port.h"
#include "transfer_log.h"

TEST(Port, ParseAndClamp) {
    const struct {
        const char* text;
        int parsed;
        std::uint16_t port;
    } cases[] = {{"", 28473, 28473},
                 {"28473", 28473, 28473},
                 {"0", 0, 1},
                 {"-5", -5, 1},
                 {"70000", 70000, 65535},
                 {"80x", 80, 80},
                 {"abc", 28473, 28473},
                 {"12345678901", 28473, 28473},
                 {"  443", 443, 443},
                 {"+8080", 8080, 8080},
                 {"65535", 65535, 65535},
                 {"65536", 65536, 65535},
                 {"1", 1, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(parse_port(c.text), c.parsed) << '"' << c.text << '"';
        EXPECT_EQ(clamp_port(parse_port(c.text)), c.port) << '"' << c.text << '"';
    }
}

TEST(TransferLog, KeepsAtMost2000LinesTrimmingTheOldest500) {
    TransferLog log;
    for (int i = 1; i <= 2000; ++i) log.push(std::to_string(i));
    ASSERT_EQ(log.snapshot().size(), 2000u);
    EXPECT_EQ(log.snapshot().front(), "1");

    log.push("2001");
    auto lines = log.snapshot();
    ASSERT_EQ(lines.size(), 1501u);
    EXPECT_EQ(lines.front(), "501");
    EXPECT_EQ(lines.back(), "2001");

    for (int i = 2002; i <= 2500; ++i) log.push(std::to_string(i));
    EXPECT_EQ(log.snapshot().size(), 2000u);
    log.push("2501");
    lines = log.snapshot();
    EXPECT_EQ(lines.size(), 1501u);
    EXPECT_EQ(lines.front(), "1001");
}
