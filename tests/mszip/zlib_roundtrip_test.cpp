// Folders deflated by zlib (every level and strategy) decode to the original
// bytes, block after block through the shared output buffer.
#include <gtest/gtest.h>

#include "tests/mszip/mszip_helpers.h"

namespace mszip_test {
namespace {

// Text-like, incompressible, long runs and short periodic patterns, in one
// folder of several blocks with a short last block.
Bytes MixedFolder() {
    Bytes data = PatternData(50000, 1);
    const Bytes random = RandomData(40000, 2);
    data.insert(data.end(), random.begin(), random.end());
    data.insert(data.end(), 30000, 'r');
    for (int i = 0; i < 20000; ++i) data.push_back(static_cast<uint8_t>("abcdefg"[i % 7]));
    const Bytes text = PatternData(15001, 3);
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

void ExpectRoundTrip(const Bytes& data, int level, int strategy) {
    const auto blocks = ZlibBlocks(data, level, strategy);
    Decoder d;
    Bytes decoded, out;
    for (size_t i = 0; i < blocks.size(); ++i) {
        ASSERT_LE(blocks[i].size(), kBlock + 12) << "block " << i;
        ASSERT_EQ(d.Decode(blocks[i], &out), decoders::DECODER_ERROR_NONE) << "block " << i;
        decoded.insert(decoded.end(), out.begin(), out.end());
    }
    EXPECT_TRUE(decoded == data) << "level " << level << " strategy " << strategy;
}

class ZlibRoundTrip : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ZlibRoundTrip, MixedFolder) {
    static const Bytes data = MixedFolder();
    ExpectRoundTrip(data, std::get<0>(GetParam()), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(LevelsAndStrategies, ZlibRoundTrip,
                         ::testing::Combine(::testing::Range(0, 10),
                                            ::testing::Values(Z_DEFAULT_STRATEGY, Z_FILTERED,
                                                              Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE)));

TEST(ZlibRoundTripSizes, SmallAndBoundarySizes) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{2}, size_t{257}, size_t{kBlock - 1},
                        size_t{kBlock}, size_t{kBlock + 1}, size_t{3 * kBlock}}) {
        ExpectRoundTrip(PatternData(size, static_cast<uint32_t>(size)), 6, Z_DEFAULT_STRATEGY);
        ExpectRoundTrip(RandomData(size, 11), 9, Z_DEFAULT_STRATEGY);
    }
}

}  // namespace
}  // namespace mszip_test
