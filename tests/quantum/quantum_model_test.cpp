// The adaptive models: when they rebuild, which rebuilds sort, and the
// division-free quotient the decoder uses.
#include "decoders/quantum_model.h"

#include <gtest/gtest.h>

namespace {

using namespace quantum;

// Updates the entry holding `symbol` until the model rebuilds; returns how
// many updates that took.
int UpdatesUntilRebuild(Model& m, unsigned symbol) {
    for (int n = 1;; ++n) {
        int i = 0;
        while (m.symbol[i] != symbol) ++i;
        const uint32_t before = m.cumFreq[0];
        UpdateModel(m, i);
        if (m.cumFreq[0] < before) return n;
    }
}

TEST(QuantumModel, InitialisationCountsDown) {
    ModelSet s;
    InitModels(s, 10);
    EXPECT_EQ(s.selector.entries, 7);
    EXPECT_EQ(s.selector.cumFreq[0], 7);
    EXPECT_EQ(s.literal[3].cumFreq[0], 64);
    EXPECT_EQ(s.literal[3].cumFreq[64], 0);
    EXPECT_EQ(s.length.entries, 27);
    EXPECT_EQ(s.position6.entries, 20);  // 2 × window bits
    EXPECT_EQ(s.position4.entries, 20);
    EXPECT_EQ(s.position5.entries, 20);
    InitModels(s, 21);
    EXPECT_EQ(s.position6.entries, 42);
    EXPECT_EQ(s.position4.entries, 24);
    EXPECT_EQ(s.position5.entries, 36);
}

TEST(QuantumModel, FirstRebuildHalvesWhenTotalPassesThreshold) {
    Model m;
    InitModel(m, 7);
    // 7 + 8 × 474 = 3799 stays; the 475th update reaches 3807 and rebuilds.
    EXPECT_EQ(UpdatesUntilRebuild(m, 0), 475);
    const uint16_t expected[8] = {1903, 6, 5, 4, 3, 2, 1, 0};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(m.cumFreq[i], expected[i]) << i;
    EXPECT_EQ(m.shiftsLeft, 3);
    // From 1903 the next rebuild needs 238 more updates (1903 + 1904 > 3800).
    EXPECT_EQ(UpdatesUntilRebuild(m, 0), 238);
}

TEST(QuantumModel, FourthThenEveryFiftiethRebuildSorts) {
    Model m;
    InitModel(m, 7);
    // Favour the last symbol: only a sorting rebuild moves it to the front.
    for (int rebuild = 1; rebuild <= 3; ++rebuild) {
        UpdatesUntilRebuild(m, 6);
        EXPECT_EQ(m.symbol[6], 6) << rebuild;
    }
    UpdatesUntilRebuild(m, 6);
    EXPECT_EQ(m.symbol[0], 6);
    EXPECT_EQ(m.shiftsLeft, 50);
    // Now favour symbol 3; it may overtake only at rebuild 4 + 50.
    for (int rebuild = 5; rebuild <= 53; ++rebuild) {
        UpdatesUntilRebuild(m, 3);
        EXPECT_EQ(m.symbol[0], 6) << rebuild;
    }
    UpdatesUntilRebuild(m, 3);
    EXPECT_EQ(m.symbol[0], 3);
    // Frequencies stay positive and cumulative after the sort.
    for (int i = 0; i < 7; ++i) EXPECT_GT(m.cumFreq[i], m.cumFreq[i + 1]) << i;
    EXPECT_EQ(m.cumFreq[7], 0);
}

TEST(QuantumModel, FullRebuildKeepsTieOrderOfTheSwaps) {
    Model m;
    InitModel(m, 4);
    // Individual frequencies 2, 5, 2, 5 (symbols 0..3) before the rebuild.
    const uint16_t cum[5] = {14, 12, 7, 5, 0};
    for (int i = 0; i < 5; ++i) m.cumFreq[i] = cum[i];
    m.shiftsLeft = 1;
    RebuildModel(m);
    // Halved: 1, 3, 1, 3. Swaps: (0,1) -> 3,1,1,3 [1,0,2,3]; (1,3) -> 3,3,1,1
    // [1,3,2,0]; then 2 and 0 tie and stay.
    const uint16_t symbols[4] = {1, 3, 2, 0};
    const uint16_t cumAfter[5] = {8, 5, 2, 1, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(m.symbol[i], symbols[i]) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(m.cumFreq[i], cumAfter[i]) << i;
}

TEST(QuantumModel, FindEntryMatchesLinearSearch) {
    Model m;
    InitModel(m, 64);
    for (int k = 0; k < 3000; ++k) UpdateModel(m, (k * 37) % 64);
    for (uint32_t f = 0; f < 0x10000; ++f) {
        int expected = 0;
        if (f < 0x8000)
            while (m.cumFreq[expected + 1] > f) ++expected;
        ASSERT_EQ(FindEntry(m, f), expected) << f;
    }
}

TEST(QuantumModel, DivisionFreeQuotientIsExact) {
    for (uint32_t total = 1; total <= 3808; ++total)
        for (uint32_t range : {16385u, 40000u, 65535u, 65536u})
            for (uint32_t cf = 0; cf <= total; ++cf)
                ASSERT_EQ(DivideByTotal(cf * range, total), cf * range / total)
                    << cf << " " << range << " " << total;
}

}  // namespace
