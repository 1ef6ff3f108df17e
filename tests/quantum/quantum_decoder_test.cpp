// The decoder through its contract: configuration and size query, handle
// checks, and hand-made streams (built item by item with the item encoder)
// for the longest match, matches longer than the output still wanted, short
// and over-long blocks, and the window's initial contents.
#include <gtest/gtest.h>

#include "cabbuild/quantum_encoder.h"
#include "quantum_test_support.h"

namespace {

using namespace qtest;
using cabbuild::quantum_enc::ItemEncoder;
using decoders::DECODER_ERROR_BAD_PARAMETERS;
using decoders::DECODER_ERROR_BUFFER_OVERFLOW;
using decoders::DECODER_ERROR_CONFIGURATION;
using decoders::DECODER_ERROR_FAILED;
using decoders::DECODER_ERROR_NO_MEMORY;
using decoders::DECODER_ERROR_NONE;

class QuantumDecoder : public ::testing::Test {
  protected:
    void TearDown() override {
        Heap::Restore();
        SpillFiles::Restore();
        EXPECT_EQ(Heap::live, 0);
    }

    // Decodes one block wanting `wanted` bytes; returns the result code.
    int Decode(void* h, const std::vector<uint8_t>& block, uint32_t wanted,
               std::vector<uint8_t>* out = nullptr) {
        std::vector<uint8_t> buf(32768, 0xEE);
        uint32_t size = wanted;
        const int r =
            quantum::DecoderDecompress(h, block.data(), uint32_t(block.size()), buf.data(), &size);
        if (out) out->assign(buf.begin(), buf.begin() + wanted);
        return r;
    }
};

TEST_F(QuantumDecoder, SizeQueryChecksWindowBitsAndClampsSizes) {
    struct Case {
        int bits;
        uint32_t maxIn;
        int result;
        uint32_t maxOut;
    };
    const Case cases[] = {
        {9, 32768, DECODER_ERROR_CONFIGURATION, 32768},
        {22, 32768, DECODER_ERROR_CONFIGURATION, 32768},
        {10, 32768, DECODER_ERROR_NONE, 32768},
        {21, 32768, DECODER_ERROR_NONE, 32768},
        {15, 0, DECODER_ERROR_NONE, 32768},
        {15, 32769, DECODER_ERROR_NONE, 32768},
        {15, 0xFFFFFFFF, DECODER_ERROR_NONE, 32768},
        {15, 1000, DECODER_ERROR_NONE, 1000},
    };
    for (const Case& c : cases) {
        uint32_t maxOut = c.maxIn, inSize = 0;
        const decoders::DecoderConfig cfg{c.bits, 0};
        EXPECT_EQ(
            quantum::DecoderCreate(&maxOut, &cfg, nullptr, nullptr, &inSize, nullptr, nullptr),
            c.result)
            << c.bits << " " << c.maxIn;
        if (c.result == DECODER_ERROR_NONE) {
            EXPECT_EQ(maxOut, c.maxOut);
            EXPECT_EQ(inSize, c.maxOut + 10240);
        }
    }
    EXPECT_EQ(Heap::live, 0);
}

TEST_F(QuantumDecoder, CreationFailuresLeaveNothingAllocated) {
    uint32_t maxOut = 32768, inSize = 0;
    const decoders::DecoderConfig cfg{16, 0};
    void* h = reinterpret_cast<void*>(1);
    // The handle itself cannot be had.
    Heap::budget = 0;
    EXPECT_EQ(quantum::DecoderCreate(&maxOut, &cfg, Heap::Alloc, Heap::Free, &inSize, &h, nullptr),
              DECODER_ERROR_NO_MEMORY);
    EXPECT_EQ(h, nullptr);
    Heap::budget = -1;
    // No window and no open callback to spill to.
    Heap::refuseSize = 1u << 16;
    int rc = 0;
    EXPECT_EQ(Create(16, &rc, false), nullptr);
    EXPECT_EQ(rc, DECODER_ERROR_NO_MEMORY);
    // The open callback refuses the spill request.
    SpillFiles::refuseOpen = true;
    EXPECT_EQ(Create(16, &rc), nullptr);
    EXPECT_EQ(rc, DECODER_ERROR_NO_MEMORY);
    SpillFiles::refuseOpen = false;
    // Only two page buffers: the file is opened and closed again.
    const int opened = SpillFiles::opened, closed = SpillFiles::closed;
    Heap::budget = 1 + 1 + 2;  // handle, page table, two buffers
    EXPECT_EQ(Create(16, &rc), nullptr);
    EXPECT_EQ(rc, DECODER_ERROR_NO_MEMORY);
    EXPECT_EQ(SpillFiles::opened - opened, 1);
    EXPECT_EQ(SpillFiles::closed - closed, 1);
}

TEST_F(QuantumDecoder, SpillRequestNamesTheWindowSize) {
    Heap::refuseSize = 1u << 20;
    void* h = Create(20);
    ASSERT_NE(h, nullptr);
    const std::string expected("*\0\0\0\x10\0", 6);  // 0x00100000 little-endian
    EXPECT_EQ(SpillFiles::lastName, expected);
    EXPECT_EQ(SpillFiles::lastFlags, 0x8102);
    EXPECT_EQ(SpillFiles::lastMode, 0x180);
    const int closed = SpillFiles::closed;
    EXPECT_EQ(quantum::DecoderDestroy(h), DECODER_ERROR_NONE);
    EXPECT_EQ(SpillFiles::closed - closed, 1);
}

TEST_F(QuantumDecoder, OperationsRefuseHandlesWithoutSignature) {
    alignas(8) uint8_t fake[4096] = {};
    for (void* h : {static_cast<void*>(nullptr), static_cast<void*>(fake)}) {
        uint32_t size = 10;
        uint8_t in[4] = {}, out[16];
        EXPECT_EQ(quantum::DecoderDecompress(h, in, 4, out, &size), DECODER_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(quantum::DecoderReset(h), DECODER_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(quantum::DecoderDestroy(h), DECODER_ERROR_BAD_PARAMETERS);
    }
}

TEST_F(QuantumDecoder, WantedSizeAboveMaximumBlockOverflows) {
    uint32_t maxOut = 1000, inSize = 0;
    void* h = nullptr;
    const decoders::DecoderConfig cfg{12, 0};
    ASSERT_EQ(quantum::DecoderCreate(&maxOut, &cfg, Heap::Alloc, Heap::Free, &inSize, &h, nullptr),
              DECODER_ERROR_NONE);
    EXPECT_EQ(Decode(h, {0, 0, 0, 0}, 1001), DECODER_ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(Decode(h, {0, 0}, 0), DECODER_ERROR_NONE);
    quantum::DecoderDestroy(h);
}

TEST_F(QuantumDecoder, ZeroWantedStillNeedsTheFirstSixteenBits) {
    void* h = Create(15);
    EXPECT_EQ(Decode(h, {}, 0), DECODER_ERROR_FAILED);
    EXPECT_EQ(Decode(h, {0x12}, 0), DECODER_ERROR_FAILED);
    EXPECT_EQ(Decode(h, {0x12, 0x34}, 0), DECODER_ERROR_NONE);
    quantum::DecoderDestroy(h);
}

TEST_F(QuantumDecoder, LongestMatchAndTrailingBytes) {
    ItemEncoder e(15);
    e.Literal('a');
    e.Literal('b');
    e.Match(259, 2);  // length slot 26, the longest
    e.Match(3, 1);
    auto block = e.FinishBlock();
    void* h = Create(15);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(h, block, 264, &out), DECODER_ERROR_NONE);
    for (size_t k = 0; k < 261; ++k) EXPECT_EQ(out[k], k % 2 ? 'b' : 'a') << k;
    // The length-3 match repeats the last byte, 'a' at 260.
    for (size_t k = 261; k < 264; ++k) EXPECT_EQ(out[k], 'a') << k;
    // Junk after the last item is never looked at.
    quantum::DecoderReset(h);
    auto padded = block;
    padded.insert(padded.end(), {0xFF, 0x00, 0x5A});
    std::vector<uint8_t> again;
    ASSERT_EQ(Decode(h, padded, 264, &again), DECODER_ERROR_NONE);
    EXPECT_EQ(again, out);
    // One byte short: the coder's final renormalization runs dry.
    quantum::DecoderReset(h);
    block.pop_back();
    EXPECT_EQ(Decode(h, block, 264), DECODER_ERROR_FAILED);
    quantum::DecoderDestroy(h);
}

// Byte 63 is the last entry of literal model 0 until the first sorting
// rebuild, which that very literal triggers and which moves it to the front.
// The decoder must return the symbol the entry held when it was found, as
// the encoder coded it, not the one the sort put there.
TEST_F(QuantumDecoder, SymbolIsTakenBeforeTheRebuildReordersTheModel) {
    ItemEncoder e(12);
    for (int k = 0; k < 2000; ++k) e.Literal(63);
    EXPECT_EQ(e.Models().literal[0].symbol[0], 63);  // the sort did happen
    const auto block = e.FinishBlock();
    void* h = Create(12);
    std::vector<uint8_t> out;
    ASSERT_EQ(Decode(h, block, 2000, &out), DECODER_ERROR_NONE);
    EXPECT_EQ(out, std::vector<uint8_t>(2000, 63));
    quantum::DecoderDestroy(h);
}

TEST_F(QuantumDecoder, MatchLongerThanWantedFailsInsteadOfBeingCut) {
    for (bool spill : {false, true}) {
        if (spill) Heap::refuseSize = 1u << 15;
        ItemEncoder e(15);
        e.Literal('x');
        e.Match(10, 1);
        const auto block = e.FinishBlock();
        void* h = Create(15);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(Decode(h, block, 11), DECODER_ERROR_NONE);
        quantum::DecoderReset(h);
        EXPECT_EQ(Decode(h, block, 5), DECODER_ERROR_FAILED) << spill;
        quantum::DecoderDestroy(h);
    }
}

TEST_F(QuantumDecoder, MatchBeforeFirstByteReadsZerosInMemoryAndFailsInSpill) {
    for (int bits : {10, 13, 16}) {
        ItemEncoder e(bits);
        e.Literal('q');
        e.Match(5, 3);  // two bytes before the folder's start
        const auto block = e.FinishBlock();

        void* h = Create(bits);  // the heap hands out non-zero garbage
        std::vector<uint8_t> out;
        ASSERT_EQ(Decode(h, block, 6, &out), DECODER_ERROR_NONE);
        EXPECT_EQ(out, (std::vector<uint8_t>{'q', 0, 0, 'q', 0, 0}));
        quantum::DecoderDestroy(h);

        Heap::refuseSize = 1u << bits;
        h = Create(bits);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(Decode(h, block, 6), DECODER_ERROR_FAILED) << bits;
        quantum::DecoderDestroy(h);
        Heap::refuseSize = 0;
    }
}

TEST_F(QuantumDecoder, SpillMatchIntoPageNeverWrittenFails) {
    // 64 KiB window in 16 pages; after 5000 bytes (pages 0 and 1) a match
    // 6000 back lands in page 15, which was never written.
    const auto data = MixedData(5000, 3);
    ItemEncoder e(16);
    for (uint8_t b : data) e.Literal(b);
    e.Match(8, 6000);
    const auto block = e.FinishBlock();
    Heap::refuseSize = 1u << 16;
    void* h = Create(16);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Decode(h, block, 5008), DECODER_ERROR_FAILED);
    // The failure sticks until the folder is reset.
    ItemEncoder fresh(16);
    fresh.Literal('z');
    const auto ok = fresh.FinishBlock();
    EXPECT_EQ(Decode(h, ok, 1), DECODER_ERROR_FAILED);
    quantum::DecoderReset(h);
    EXPECT_EQ(Decode(h, ok, 1), DECODER_ERROR_NONE);
    quantum::DecoderDestroy(h);
}

TEST_F(QuantumDecoder, SpillWriteFailureFailsUntilReset) {
    const auto data = MixedData(200000, 11);
    const auto blocks = Compress(data, 17);
    Heap::refuseSize = 1u << 17;
    Heap::budget = 2 + 3;  // three page buffers for a 32-page window
    void* h = Create(17);
    ASSERT_NE(h, nullptr);
    Heap::budget = -1;
    SpillFiles::failWritesAfter = 0;
    std::vector<uint8_t> out;
    EXPECT_FALSE(DecodeAll(h, blocks, out));
    SpillFiles::failWritesAfter = -1;
    EXPECT_NE(DecodeOne(h, blocks[0], out), DECODER_ERROR_NONE);
    ASSERT_EQ(quantum::DecoderReset(h), DECODER_ERROR_NONE);
    out.clear();
    EXPECT_TRUE(DecodeAll(h, blocks, out));
    EXPECT_EQ(out, data);
    quantum::DecoderDestroy(h);
}

// Two decoders used in turn, block by block: each keeps its own models and
// window, so neither disturbs the other.
TEST_F(QuantumDecoder, TwoDecodersKeepTheirOwnState) {
    const auto a = MixedData(120000, 1), b = MixedData(120000, 2);
    const auto ba = Compress(a, 16), bb = Compress(b, 21);
    void* ha = Create(16);
    void* hb = Create(21);
    std::vector<uint8_t> oa, ob;
    for (size_t k = 0; k < ba.size(); ++k) {
        ASSERT_EQ(DecodeOne(ha, ba[k], oa), DECODER_ERROR_NONE);
        ASSERT_EQ(DecodeOne(hb, bb[k], ob), DECODER_ERROR_NONE);
    }
    EXPECT_EQ(oa, a);
    EXPECT_EQ(ob, b);
    quantum::DecoderDestroy(ha);
    quantum::DecoderDestroy(hb);
}

}  // namespace
