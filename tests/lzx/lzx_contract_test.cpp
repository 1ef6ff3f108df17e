// The decoder's contract operations: size query, creation limits, handle
// checks and clean failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoders/lzx.h"
#include "lzx_stream_builder.h"

namespace {

using namespace decoders;

int g_allocs = 0, g_frees = 0, g_failAt = -1;
bool g_keepFreed = false;  // frees are deferred to inspect the freed handle
std::vector<void*> g_deferred;
void* CountingAlloc(uint32_t cb) {
    if (g_allocs++ == g_failAt) return nullptr;
    return std::malloc(cb);
}
void CountingFree(void* p) {
    ++g_frees;
    if (g_keepFreed) {
        g_deferred.push_back(p);
    } else {
        std::free(p);
    }
}

int Create(int32_t window, void** handle, uint32_t maxBlock = 32768) {
    uint32_t inputSize = 0;
    DecoderConfig config{window, 0};
    return lzx::DecoderCreate(&maxBlock, &config, CountingAlloc, CountingFree, &inputSize, handle,
                              nullptr);
}

TEST(LzxContract, SizeQueryReportsInputSizeAndAllocatesNothing) {
    uint32_t maxBlock = 32768, inputSize = 0;
    g_allocs = 0;
    EXPECT_EQ(
        lzx::DecoderCreate(&maxBlock, nullptr, nullptr, nullptr, &inputSize, nullptr, nullptr),
        DECODER_ERROR_NONE);
    EXPECT_EQ(maxBlock, 32768u);
    EXPECT_EQ(inputSize, 32768u + 6144u);
    EXPECT_EQ(g_allocs, 0);
}

TEST(LzxContract, OnlyWindowsOf2To15Through2To21AreAccepted) {
    for (int32_t window : {1 << 14, 1 << 22, 3 << 15, 0, -1, 1 << 30}) {
        void* handle = reinterpret_cast<void*>(1);
        g_allocs = g_frees = 0;
        EXPECT_EQ(Create(window, &handle), DECODER_ERROR_CONFIGURATION) << window;
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(g_allocs, g_frees);
    }
    for (int bits = 15; bits <= 21; ++bits) {
        void* handle = nullptr;
        ASSERT_EQ(Create(1 << bits, &handle), DECODER_ERROR_NONE);
        EXPECT_EQ(lzx::DecoderDestroy(handle), DECODER_ERROR_NONE);
    }
}

TEST(LzxContract, AllocationFailureLeavesNothingAllocated) {
    for (int failAt = 0; failAt < 3; ++failAt) {
        g_allocs = g_frees = 0;
        g_failAt = failAt;
        void* handle = reinterpret_cast<void*>(1);
        EXPECT_EQ(Create(1 << 15, &handle), DECODER_ERROR_NO_MEMORY);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(g_allocs - 1, g_frees) << "failing allocation " << failAt;
    }
    g_failAt = -1;
}

TEST(LzxContract, HandlesWithoutTheSignatureAreRefused) {
    alignas(8) unsigned char fake[256] = {};
    uint8_t out[8];
    uint32_t size = 8;
    for (void* handle : {static_cast<void*>(nullptr), static_cast<void*>(fake)}) {
        EXPECT_EQ(lzx::DecoderDecompress(handle, out, 0, out, &size), DECODER_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(lzx::DecoderReset(handle), DECODER_ERROR_BAD_PARAMETERS);
        EXPECT_EQ(lzx::DecoderDestroy(handle), DECODER_ERROR_BAD_PARAMETERS);
    }
    EXPECT_EQ(size, 8u);

    // Destruction clears the signature before the memory goes back.
    g_keepFreed = true;
    g_frees = 0;
    void* handle = nullptr;
    ASSERT_EQ(Create(1 << 15, &handle), DECODER_ERROR_NONE);
    ASSERT_EQ(lzx::DecoderDestroy(handle), DECODER_ERROR_NONE);
    EXPECT_EQ(g_frees, 3);
    uint32_t signature;
    std::memcpy(&signature, handle, 4);
    EXPECT_EQ(signature, 0u);
    EXPECT_EQ(lzx::DecoderDestroy(handle), DECODER_ERROR_BAD_PARAMETERS);
    g_keepFreed = false;
    for (void* p : g_deferred) std::free(p);
    g_deferred.clear();
}

TEST(LzxContract, WantingMoreThanTheMaximumBlockChangesNothing) {
    void* handle = nullptr;
    ASSERT_EQ(Create(1 << 16, &handle, 100), DECODER_ERROR_NONE);
    lzx_test::Builder b(16);
    b.E8Header(false).Header(3, 5).Raw({'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> block = b.Done();
    std::vector<uint8_t> out(200);
    uint32_t size = 101;
    EXPECT_EQ(lzx::DecoderDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                     out.data(), &size),
              DECODER_ERROR_BUFFER_OVERFLOW);
    // Still the folder's first call: the E8 header bit is read now.
    size = 5;
    EXPECT_EQ(lzx::DecoderDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                     out.data(), &size),
              DECODER_ERROR_NONE);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::memcmp(out.data(), "hello", 5), 0);
    lzx::DecoderDestroy(handle);
}

TEST(LzxContract, FailedCallReportsSizeZeroAndResetRecovers) {
    void* handle = nullptr;
    ASSERT_EQ(Create(1 << 16, &handle), DECODER_ERROR_NONE);
    std::vector<uint8_t> garbage(64, 0xFF);  // block kind 7
    std::vector<uint8_t> out(64);
    uint32_t size = 64;
    EXPECT_EQ(lzx::DecoderDecompress(handle, garbage.data(), 64, out.data(), &size),
              DECODER_ERROR_FAILED);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(lzx::DecoderReset(handle), DECODER_ERROR_NONE);
    lzx_test::Builder b(16);
    b.E8Header(false).Header(3, 2).Raw({'o', 'k'});
    std::vector<uint8_t> block = b.Done();
    size = 2;
    EXPECT_EQ(lzx::DecoderDecompress(handle, block.data(), static_cast<uint32_t>(block.size()),
                                     out.data(), &size),
              DECODER_ERROR_NONE);
    EXPECT_EQ(std::memcmp(out.data(), "ok", 2), 0);
    lzx::DecoderDestroy(handle);
}

}  // namespace
