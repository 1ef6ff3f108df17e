#include <gtest/gtest.h>

#include "platform/text.h"

namespace {

TEST(Text, StrictUtf8) {
    struct Case {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"plain ascii", true},   {"更新", true},          {"\xF0\x9F\x98\x80", true},
        {"\xB8\xFC\xD0\xC2", false},  // GBK
        {"\xC0\xAF", false},          // overlong '/'
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xE6\x9B", false},          // cut short
    };
    for (const auto& c : cases) EXPECT_EQ(platform::IsValidUtf8(c.bytes), c.valid) << c.bytes;
}

TEST(Text, Cp936Conversion) {
    std::string out;
    ASSERT_TRUE(platform::Cp936ToUtf8("\xB8\xFC\xD0\xC2", out));
    EXPECT_EQ(out, "更新");
    // A double-byte character whose second byte is 0x5C ('\') stays one character.
    ASSERT_TRUE(platform::Cp936ToUtf8("\x95\x5C", out));
    EXPECT_EQ(out, "昞");
    // Single bytes that grow threefold (0x80 is the euro sign) still fit.
    ASSERT_TRUE(platform::Cp936ToUtf8("\x80\x80\x80\x80\x80\x80\x80\x80", out));
    EXPECT_EQ(out, "€€€€€€€€");
    EXPECT_FALSE(platform::Cp936ToUtf8("\xB8", out));  // a lead byte alone
    EXPECT_FALSE(platform::Cp936ToUtf8(std::string_view("a\0b", 3), out));
}

}  // namespace
