// Compressor internals that the round trips alone would rarely reach.
#include <gtest/gtest.h>

#include <algorithm>

#include "cabbuild/folder_compressor.h"
#include "cabbuild/lzx_huffman_builder.h"
#include "lzx_test_support.h"

namespace {

using cabbuild::lzx_detail::BuildCodeLengths;

uint64_t Kraft(const std::vector<uint8_t>& lengths) {
    uint64_t sum = 0;
    for (uint8_t len : lengths)
        if (len != 0) sum += uint64_t{1} << (16 - len);
    return sum;
}

TEST(LzxCompressorParts, CodeLengthsAreLimitedAndComplete) {
    // Fibonacci frequencies make a plain Huffman code about 30 levels deep.
    std::vector<uint32_t> freq(32);
    freq[0] = freq[1] = 1;
    for (size_t i = 2; i < freq.size(); ++i) freq[i] = freq[i - 1] + freq[i - 2];
    for (uint32_t limit : {7u, 15u, 16u}) {
        std::vector<uint32_t> f(freq.begin(), freq.begin() + (limit == 7 ? 8 : 32));
        std::vector<uint8_t> lengths =
            BuildCodeLengths(f.data(), static_cast<uint32_t>(f.size()), limit);
        EXPECT_LE(*std::max_element(lengths.begin(), lengths.end()), limit);
        EXPECT_EQ(Kraft(lengths), 65536u) << limit;
        for (uint8_t len : lengths) EXPECT_NE(len, 0);
    }
    std::vector<uint32_t> one(20, 0), none(20, 0);
    one[0] = 5;
    EXPECT_EQ(Kraft(BuildCodeLengths(one.data(), 20, 15)), 65536u);  // paired with a neighbour
    EXPECT_EQ(Kraft(BuildCodeLengths(none.data(), 20, 15)), 0u);     // an empty tree
}

TEST(LzxCompressorParts, TextFoldersAnnounceNoTranslationBinaryFoldersDo) {
    std::vector<uint8_t> text(5000);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<uint8_t>("int main() {\n  return 0;\n}\n"[i % 27]);
    std::vector<uint8_t> binary = lzx_test::MixedData(5000, 9);
    for (auto* data : {&text, &binary}) {
        auto compressor = cabbuild::MakeLzxCompressor(16);
        std::vector<uint8_t> block = compressor->CompressBlock(*data);
        ASSERT_GE(block.size(), 2u);
        // The first bit of the stream (top bit of the first word) is the E8 header flag.
        EXPECT_EQ((block[1] >> 7) & 1, data == &binary ? 1 : 0);
    }
    EXPECT_EQ(cabbuild::MakeLzxCompressor(14), nullptr);
    EXPECT_EQ(cabbuild::MakeLzxCompressor(22), nullptr);
}

}  // namespace
