// Compressor and decoder against each other, block by block through the
// decoder contract, for every window size and both window modes.
#include <gtest/gtest.h>

#include "quantum_test_support.h"

namespace {

using namespace qtest;

enum class Mode { kMemory, kSpill, kSpillThreeBuffers };

struct RoundTripCase {
    int windowBits;
    Mode mode;
};

class QuantumRoundTrip : public ::testing::TestWithParam<RoundTripCase> {
  protected:
    void TearDown() override {
        Heap::Restore();
        SpillFiles::Restore();
    }
};

TEST_P(QuantumRoundTrip, MixedDataDecodesByteExact) {
    const auto [bits, mode] = GetParam();
    // Larger than the window for the small ones, so the window wraps; several
    // blocks for all, so models and window carry across blocks.
    const auto data = MixedData(bits >= 18 ? 400000 : 150000, uint32_t(bits));
    const auto blocks = Compress(data, bits);
    if (mode != Mode::kMemory) Heap::refuseSize = 1u << bits;
    // Handle and page table, then three page buffers: a cache far smaller
    // than the window, so pages travel to the file and back.
    if (mode == Mode::kSpillThreeBuffers) Heap::budget = 2 + 3;
    const int opened = SpillFiles::opened, writes = SpillFiles::writes, reads = SpillFiles::reads;
    int rc = -1;
    void* h = Create(bits, &rc);
    ASSERT_EQ(rc, 0);
    Heap::budget = -1;
    EXPECT_EQ(SpillFiles::opened - opened, mode == Mode::kMemory ? 0 : 1);
    std::vector<uint8_t> out;
    EXPECT_TRUE(DecodeAll(h, blocks, out));
    EXPECT_EQ(out, data);

    // A reset starts a new folder: the same blocks decode again.
    ASSERT_EQ(quantum::DecoderReset(h), 0);
    out.clear();
    EXPECT_TRUE(DecodeAll(h, blocks, out));
    EXPECT_EQ(out, data);
    if (mode == Mode::kSpillThreeBuffers && bits >= 14) {
        EXPECT_GT(SpillFiles::writes, writes);
        EXPECT_GT(SpillFiles::reads, reads);
    }
    EXPECT_EQ(quantum::DecoderDestroy(h), 0);
    EXPECT_EQ(Heap::live, 0);
}

std::vector<RoundTripCase> AllCases() {
    std::vector<RoundTripCase> cases;
    for (int bits = 10; bits <= 21; ++bits) {
        cases.push_back({bits, Mode::kMemory});
        cases.push_back({bits, Mode::kSpill});
        cases.push_back({bits, Mode::kSpillThreeBuffers});
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& param_info) {
    static const char* const kModeNames[] = {"_memory", "_spill", "_spill3"};
    return std::to_string(param_info.param.windowBits) + kModeNames[int(param_info.param.mode)];
}

INSTANTIATE_TEST_SUITE_P(AllWindows, QuantumRoundTrip, ::testing::ValuesIn(AllCases()), CaseName);

// Data shapes that stress particular paths: long runs (the longest match,
// overlapping copies), incompressible bytes (many rebuilds of the literal
// models), and an empty and a one-byte frame.
TEST(QuantumRoundTripShapes, RunsNoiseAndTinyFrames) {
    std::vector<std::vector<uint8_t>> inputs;
    inputs.push_back(std::vector<uint8_t>(100000, 'x'));
    std::vector<uint8_t> noise(70000);
    uint32_t s = 7;
    for (auto& b : noise) b = uint8_t((s = s * 1664525u + 1013904223u) >> 24);
    inputs.push_back(noise);
    inputs.push_back({});
    inputs.push_back({42});
    for (const auto& data : inputs) {
        auto blocks = Compress(data, 21);
        if (data.empty())
            blocks.push_back({cabbuild::MakeQuantumCompressor(21)->CompressBlock({}), 0});
        void* h = Create(21);
        ASSERT_NE(h, nullptr);
        std::vector<uint8_t> out;
        EXPECT_TRUE(DecodeAll(h, blocks, out));
        EXPECT_EQ(out, data);
        quantum::DecoderDestroy(h);
    }
}

}  // namespace
