#include <gtest/gtest.h>

#include "fdi/fdi.h"

TEST(Checksum, PublishedValues) {
    struct Case {
        const char* bytes;
        uint32_t expected;
    } cases[] = {
        {"abc", 0x00616263u},
        {"abcd", 0x64636261u},
        {"abcdefg", 0x64060406u},
        {"", 0u},
        {"a", 0x61u},
        {"ab", 0x6162u},
    };
    for (const auto& c : cases) {
        uint32_t n = static_cast<uint32_t>(std::char_traits<char>::length(c.bytes));
        EXPECT_EQ(FDIChecksum(c.bytes, n, 0), c.expected) << c.bytes;
    }
}

TEST(Checksum, SeedIsXoredIn) {
    EXPECT_EQ(FDIChecksum("abcd", 4, 0x11111111u), 0x64636261u ^ 0x11111111u);
}
