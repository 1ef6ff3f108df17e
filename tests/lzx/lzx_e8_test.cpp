// The E8 translation of a frame: the decoder's scan with its tail overwrite,
// the compressor's inverse, and which frames of a folder are translated.
#include "cabbuild/lzx_e8.h"

#include <gtest/gtest.h>

#include <random>

#include "decoders/lzx_state.h"
#include "lzx_stream_builder.h"

namespace {

using lzx_test::Builder;
using lzx_test::Decoder;

std::vector<uint8_t> Translated(std::vector<uint8_t> frame, uint32_t size, uint32_t offset) {
    lzx::TranslateE8Frame(frame.data(), static_cast<uint32_t>(frame.size()), size, offset);
    return frame;
}

uint32_t OperandAt(const std::vector<uint8_t>& f, size_t k) {
    return uint32_t{f[k + 1]} | (uint32_t{f[k + 2]} << 8) | (uint32_t{f[k + 3]} << 16) |
           (uint32_t{f[k + 4]} << 24);
}

TEST(LzxE8, OnlyE8BytesBeforeTheLastTenAreTranslated) {
    const uint32_t frameSize = 32;
    for (uint32_t k = frameSize - 11; k < frameSize; ++k) {
        SCOPED_TRACE(k);
        std::vector<uint8_t> frame(frameSize, 0x00);
        frame[k] = 0xE8;
        // A small operand (0x10) as far as the frame has room for it: a scan
        // over the real bytes would translate every k below frameSize - 6.
        if (k + 1 < frameSize) frame[k + 1] = 0x10;
        std::vector<uint8_t> out = Translated(frame, 1u << 20, 1000);
        if (k == frameSize - 11) {
            EXPECT_EQ(OperandAt(out, k), 0x10u - (1000 + k));
            frame[k + 1] = out[k + 1];
            for (int i = 1; i <= 4; ++i) frame[k + i] = out[k + i];
        }
        EXPECT_EQ(out, frame);
    }
}

TEST(LzxE8, TheTailReadsAsE8DuringTheScan) {
    // E8 at offset 6 of 16: its operand is the real bytes 7..9 and 0xE8 in
    // place of byte 10. 0xE8000000 is -0x18000000, within reach of a frame
    // offset of 0x18000000, so the translation adds the size; byte 10 is
    // restored afterwards.
    std::vector<uint8_t> frame = {1, 2, 3, 4, 5, 6, 0xE8, 0, 0, 0, 0x11, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out = Translated(frame, 0x100, 0x18000000);
    std::vector<uint8_t> expected = frame;
    expected[8] = 0x01;
    EXPECT_EQ(out, expected);
}

TEST(LzxE8, ValueRanges) {
    const uint32_t size = 0x100000, offset = 5000, k = 3, c = offset + k;
    struct Case {
        uint32_t value, expected;
    } cases[] = {
        {0, 0u - c},
        {size - 1, size - 1 - c},
        {size, size},              // from the size up: unchanged
        {0u - c - 1, 0u - c - 1},  // up to 2^32 - c - 1: unchanged
        {0u - c, 0u - c + size},   // -c: the size added
        {0xFFFFFFFF, size - 1},    // -1 likewise
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.value);
        std::vector<uint8_t> frame(40, 'x');
        frame[k] = 0xE8;
        for (int i = 0; i < 4; ++i) frame[k + 1 + i] = static_cast<uint8_t>(t.value >> (8 * i));
        EXPECT_EQ(OperandAt(Translated(frame, size, offset), k), t.expected);
    }
}

TEST(LzxE8, AnE8InsideAnOperandIsNotTranslatedAndShortFramesAreLeftAlone) {
    std::vector<uint8_t> frame = {0xE8, 0xE8, 0, 0, 0, 0xE8, 2, 0, 0, 0,
                                  0,    0,    0, 0, 0, 0,    0, 0, 0, 0};
    std::vector<uint8_t> out = Translated(frame, 1000, 0);
    EXPECT_EQ(OperandAt(out, 0), 0xE8u);    // 0xE8 - 0
    EXPECT_EQ(OperandAt(out, 5), 2u - 5u);  // the scan resumed at offset 5
    for (uint32_t n = 0; n <= 10; ++n) {
        std::vector<uint8_t> tiny(n, 0);
        if (n > 0) tiny[0] = 0xE8;
        EXPECT_EQ(Translated(tiny, 1000, 0), tiny) << n;
    }
}

TEST(LzxE8, CompressorsEncodingIsUndoneByTheDecodersScan) {
    std::mt19937 rng(11);
    for (uint32_t offset : {0u, 12345u, 0x16FFFFF0u, 0x18000000u, 0x3FFF8000u}) {
        for (uint32_t size : {1u, 6u, 10u, 11u, 12u, 17u, 100u, 32768u}) {
            std::vector<uint8_t> frame(size);
            for (auto& b : frame) {
                uint32_t r = rng() % 8;
                b = r < 3 ? 0xE8
                          : (r < 5 ? static_cast<uint8_t>(rng() % 2 ? 0 : 0xFF)
                                   : static_cast<uint8_t>(rng()));
            }
            std::vector<uint8_t> encoded = frame;
            cabbuild::lzx_detail::EncodeE8Frame(encoded.data(), size,
                                                cabbuild::lzx_detail::kE8TranslationSize, offset);
            EXPECT_EQ(Translated(encoded, cabbuild::lzx_detail::kE8TranslationSize, offset), frame)
                << "offset " << offset << " size " << size;
        }
    }
}

// One uncompressed 16-byte block with an E8 at offset 1 (operand 0x10).
std::vector<uint8_t> CallBlock(Builder& b, bool first) {
    if (first) b.E8Header(true, 1u << 20);
    b.Header(3, 16).Raw(
        {'.', 0xE8, 0x10, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'});
    return b.Done();
}

TEST(LzxE8, FramesFromThe32769thCallOnAreNotTranslatedAndEmptyCallsCount) {
    for (uint32_t emptyCalls : {32766u, 32767u}) {
        SCOPED_TRACE(emptyCalls);
        Decoder decoder(16);
        Builder b(16);
        std::vector<uint8_t> out;
        ASSERT_EQ(decoder.Decode(CallBlock(b, true), 16, &out), decoders::DECODER_ERROR_NONE);
        EXPECT_EQ(OperandAt(out, 1), 0x10u - 1);
        for (uint32_t i = 0; i < emptyCalls; ++i) ASSERT_EQ(decoder.Decode({}, 0, &out), 0);
        ASSERT_EQ(decoder.Decode(CallBlock(b, false), 16, &out), decoders::DECODER_ERROR_NONE);
        // Call number emptyCalls + 2; its frame starts at folder offset 16.
        EXPECT_EQ(OperandAt(out, 1), emptyCalls == 32766 ? 0x10u - 17 : 0x10u);
    }
}

}  // namespace
