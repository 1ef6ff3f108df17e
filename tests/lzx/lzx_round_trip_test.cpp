// The compressor's blocks decode back to the frames through the decoder.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cabbuild/folder_compressor.h"
#include "lzx_test_support.h"

namespace {

using lzx_test::Decoder;

std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data;
    data.reserve(size);
    const std::string words[] = {"template", "typename", "return", " ", "\n", "{", "}", "std::vector<int>", "0123"};
    while (data.size() < size) {
        switch (rng() % 6) {
            case 0:  // x86-like call instructions with near operands
                data.push_back(0xE8);
                for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(i < 2 ? rng() : (rng() % 2 ? 0xFF : 0)));
                break;
            case 1:  // random bytes
                for (int i = rng() % 16; i > 0; --i) data.push_back(static_cast<uint8_t>(rng()));
                break;
            case 2:  // long-range repeat
                if (data.size() > 100) {
                    size_t from = rng() % data.size();
                    size_t len = 3 + rng() % 300;
                    for (size_t i = 0; i < len; ++i) data.push_back(data[from + i % (data.size() - from)]);
                }
                break;
            case 3:  // runs
                data.insert(data.end(), rng() % 40, static_cast<uint8_t>(rng() % 3));
                break;
            default: {
                const std::string& w = words[rng() % 9];
                data.insert(data.end(), w.begin(), w.end());
            }
        }
    }
    data.resize(size);
    return data;
}

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
        EXPECT_EQ(decoder.Decode(block, static_cast<uint32_t>(n), &out), decoders::DECODER_ERROR_NONE)
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
