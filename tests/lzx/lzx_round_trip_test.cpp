// The compressor's blocks decode back to the frames through the decoder.
#include <gtest/gtest.h>

#include "cabbuild/folder_compressor.h"
#include "lzx_test_support.h"

namespace {

using lzx_test::Decoder;
using lzx_test::MixedData;

// Compresses `data` frame by frame and decodes each block; returns the total
// compressed size.
size_t RoundTrip(const std::vector<uint8_t>& data, int windowBits) {
    auto compressor = cabbuild::MakeLzxCompressor(windowBits);
    EXPECT_NE(compressor, nullptr);
    EXPECT_EQ(compressor->TypeWord(), 3 | (windowBits << 8));
    Decoder decoder(static_cast<uint32_t>(windowBits));
    EXPECT_EQ(decoder.created(), decoders::DECODER_ERROR_NONE);
    size_t compressed = 0;
    std::vector<uint8_t> out;
    for (size_t at = 0; at < data.size(); at += cabbuild::kFrameSize) {
        size_t n = std::min<size_t>(cabbuild::kFrameSize, data.size() - at);
        std::vector<uint8_t> frame(data.begin() + at, data.begin() + at + n);
        std::vector<uint8_t> block = compressor->CompressBlock(frame);
        EXPECT_LE(block.size(), n + 6144);
        compressed += block.size();
        EXPECT_EQ(decoder.Decode(block, static_cast<uint32_t>(n), &out),
                  decoders::DECODER_ERROR_NONE)
            << "frame at " << at;
        if (out != frame) {
            ADD_FAILURE() << "frame at " << at << " differs";
            break;
        }
    }
    return compressed;
}

TEST(LzxRoundTrip, EveryWindowSizeOnMixedData) {
    const std::vector<uint8_t> data = MixedData(600000, 7);
    for (int bits = 15; bits <= 21; ++bits) {
        SCOPED_TRACE(bits);
        size_t compressed = RoundTrip(data, bits);
        EXPECT_LT(compressed, data.size() * 3 / 4);
    }
}

TEST(LzxRoundTrip, IncompressibleDataUsesUncompressedBlocks) {
    std::mt19937 rng(3);
    std::vector<uint8_t> data(100001);  // odd-sized last frame
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    size_t compressed = RoundTrip(data, 17);
    EXPECT_LT(compressed, data.size() + 100);
}

TEST(LzxRoundTrip, TinyRepetitiveAndShortFrames) {
    for (size_t size : {1u, 2u, 5u, 6u, 10u, 11u, 12u, 300u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data(size, 0xE8);
        RoundTrip(data, 15);
        RoundTrip(MixedData(size, static_cast<uint32_t>(size)), 16);
    }
    std::vector<uint8_t> zeros(5 * 32768, 0);
    EXPECT_LT(RoundTrip(zeros, 21), 1000u);
}

}  // namespace
