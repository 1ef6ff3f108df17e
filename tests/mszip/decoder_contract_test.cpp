// The decoder contract: sizes, handles, signatures and argument checks.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "tests/mszip/mszip_helpers.h"

namespace mszip_test {
namespace {

using namespace decoders;

TEST(MszipContract, SizeQueryReportsSizesAndAllocatesNothing) {
    struct Case {
        uint32_t requested, expectedMax;
    };
    for (Case c : {Case{32768, 32768}, Case{0, 32768}, Case{40000, 32768}, Case{1000, 1000}}) {
        uint32_t maxOutput = c.requested, inputSize = 0;
        EXPECT_EQ(mszip::DecoderCreate(&maxOutput, nullptr, nullptr, nullptr, &inputSize, nullptr,
                                       nullptr),
                  DECODER_ERROR_NONE);
        EXPECT_EQ(maxOutput, c.expectedMax);
        EXPECT_EQ(inputSize, c.expectedMax + 12);
    }
}

int g_allocations = 0;
int g_failAt = -1;
void* CountingAlloc(uint32_t cb) {
    if (g_allocations++ == g_failAt) return nullptr;
    return std::malloc(cb);
}
int g_frees = 0;
unsigned char g_lastFreedHead[4];
void CountingFree(void* p) {
    ++g_frees;
    std::memcpy(g_lastFreedHead, p, 4);
    std::free(p);
}

TEST(MszipContract, CreateFailsCleanlyWhenMemoryRunsOut) {
    for (int failAt : {0, 1}) {
        g_allocations = 0;
        g_frees = 0;
        g_failAt = failAt;
        uint32_t maxOutput = kBlock, inputSize = 0;
        void* handle = reinterpret_cast<void*>(1);
        EXPECT_EQ(mszip::DecoderCreate(&maxOutput, nullptr, CountingAlloc, CountingFree, &inputSize,
                                       &handle, nullptr),
                  DECODER_ERROR_NO_MEMORY);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(g_frees, failAt);  // the handle is released when the state cannot be had
    }
    g_failAt = -1;
}

TEST(MszipContract, DestroyFreesEverythingAndInvalidatesTheHandle) {
    g_allocations = 0;
    g_frees = 0;
    g_failAt = -1;
    uint32_t maxOutput = kBlock, inputSize = 0;
    void* handle = nullptr;
    ASSERT_EQ(mszip::DecoderCreate(&maxOutput, nullptr, CountingAlloc, CountingFree, &inputSize,
                                   &handle, nullptr),
              DECODER_ERROR_NONE);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(std::memcmp(handle, "MDIC", 4), 0);
    EXPECT_EQ(mszip::DecoderReset(handle), DECODER_ERROR_NONE);
    EXPECT_EQ(mszip::DecoderDestroy(handle), DECODER_ERROR_NONE);
    EXPECT_EQ(g_frees, 2);
    EXPECT_EQ(g_allocations, 2);
    const unsigned char cleared[4] = {0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(g_lastFreedHead, cleared, 4),
              0);  // the handle goes last, its signature cleared
}

TEST(MszipContract, WrongSignatureIsRejectedByEveryOperation) {
    alignas(16) unsigned char fake[64] = {'X', 'D', 'I', 'C'};
    uint8_t out[16];
    uint32_t size = sizeof out;
    const uint8_t input[] = {'C', 'K', 0x03, 0x00};
    EXPECT_EQ(mszip::DecoderDecompress(fake, input, 4, out, &size), DECODER_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(mszip::DecoderReset(fake), DECODER_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(mszip::DecoderDestroy(fake), DECODER_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(mszip::DecoderDecompress(nullptr, input, 4, out, &size),
              DECODER_ERROR_BAD_PARAMETERS);
    EXPECT_EQ(mszip::DecoderReset(nullptr), DECODER_ERROR_BAD_PARAMETERS);
}

TEST(MszipContract, InputLargerThanTheBufferIsRefused) {
    Decoder d;
    Bytes big(kBlock + 13, 0);
    big[0] = 'C';
    big[1] = 'K';
    EXPECT_EQ(d.Decode(big), DECODER_ERROR_BUFFER_OVERFLOW);
    // The largest allowed input is decoded: a stored block of 32768 bytes fits with room to spare.
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(0, 2);
    w.AlignToByte();
    w.Bits(kBlock, 16);
    w.Bits(~kBlock & 0xFFFF, 16);
    for (uint32_t i = 0; i < kBlock; ++i) w.Byte(static_cast<uint8_t>(i * 7));
    Bytes payload = w.Payload();
    payload.resize(kBlock + 12, 0xEE);  // trailing bytes after the final block are ignored
    Bytes out;
    ASSERT_EQ(d.Decode(payload, &out), DECODER_ERROR_NONE);
    ASSERT_EQ(out.size(), kBlock);
    EXPECT_EQ(out[kBlock - 1], static_cast<uint8_t>((kBlock - 1) * 7));
}

TEST(MszipContract, FixedTablesAreBuiltSafelyByConcurrentCreates) {
    // Two threads create decoders at once and decode the same fixed-code data.
    Bytes data = PatternData(20000, 3);
    const Bytes payload = ZlibBlocks(data, 6, Z_FIXED)[0];
    Bytes results[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&, t] {
            Decoder d;
            d.Decode(payload, &results[t]);
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(results[0], data);
    EXPECT_EQ(results[1], data);
}

}  // namespace
}  // namespace mszip_test
