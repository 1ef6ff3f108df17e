#include <gtest/gtest.h>

#include <vector>

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

TEST(Checksum, WideFoldingMatchesByteWiseDefinition) {
    // Byte-wise reference: 4-byte little-endian groups, then the tail with
    // its first byte highest.
    auto reference = [](const uint8_t* p, uint32_t n, uint32_t seed) {
        uint32_t sum = seed, i = 0;
        for (; i + 4 <= n; i += 4) sum ^= uint32_t(p[i]) | uint32_t(p[i + 1]) << 8 | uint32_t(p[i + 2]) << 16 | uint32_t(p[i + 3]) << 24;
        uint32_t tail = 0;
        for (; i < n; ++i) tail = tail << 8 | p[i];
        return sum ^ tail;
    };
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 37 + 11);
    for (uint32_t offset = 0; offset < 8; ++offset)
        for (uint32_t n = 0; n + offset <= 290; n += 7)
            EXPECT_EQ(FDIChecksum(bytes.data() + offset, n, 0x9E3779B9u), reference(bytes.data() + offset, n, 0x9E3779B9u))
                << offset << " " << n;
}
