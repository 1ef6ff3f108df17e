// Table building: the results of the code checks, and room for every
// complete code the decoder can meet.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoders/mszip_huffman.h"

namespace {

using namespace mszip::detail;

BuildResult Build(const std::vector<uint8_t>& lengths, SymbolKind kind = SymbolKind::kLitLen) {
    static std::vector<uint32_t> table(kLitLenTableSize);
    const unsigned root = kind == SymbolKind::kDistance ? kDistanceRootBits : kLitLenRootBits;
    const size_t capacity = kind == SymbolKind::kDistance ? kDistanceTableSize : kLitLenTableSize;
    return BuildTable(lengths.data(), static_cast<unsigned>(lengths.size()), kind, root,
                      table.data(), capacity);
}

TEST(MszipTables, ResultsOfTheCodeChecks) {
    EXPECT_EQ(Build({1, 1}), BuildResult::kOk);
    EXPECT_EQ(Build({0, 1, 0}), BuildResult::kOk);  // a single one-bit code
    EXPECT_EQ(Build({0, 0, 0}), BuildResult::kOk);  // no code at all: built, every input invalid
    EXPECT_EQ(Build({2}), BuildResult::kIncomplete);
    EXPECT_EQ(Build({1, 2}), BuildResult::kIncomplete);
    EXPECT_EQ(Build({1, 1, 1}), BuildResult::kOverSubscribed);
    EXPECT_EQ(Build({1, 2, 3, 3, 3}), BuildResult::kOverSubscribed);
    std::vector<uint8_t> fifteen(15);
    for (int i = 0; i < 14; ++i) fifteen[static_cast<size_t>(i)] = static_cast<uint8_t>(i + 1);
    fifteen[14] = 14;  // 1, 2, ..., 14, 14: complete with codes up to 14 bits
    EXPECT_EQ(Build(fifteen), BuildResult::kOk);
}

// A random complete code over `symbols` symbols with lengths up to 15: start
// from one code of length 0 and split random leaves until all symbols have one.
std::vector<uint8_t> RandomCompleteCode(std::mt19937& rng, unsigned symbols, unsigned used,
                                        bool deep) {
    std::vector<uint8_t> leaves{0};
    while (leaves.size() < used) {
        // Deep codes split the longest leaf, which pushes many codes to 15 bits.
        size_t pick = rng() % leaves.size();
        if (deep) {
            for (size_t i = 0; i < leaves.size(); ++i)
                if (leaves[i] > leaves[pick] && leaves[i] < 15) pick = i;
        }
        if (leaves[pick] >= 15) continue;
        const uint8_t depth = static_cast<uint8_t>(leaves[pick] + 1);
        leaves[pick] = depth;
        leaves.push_back(depth);
    }
    std::shuffle(leaves.begin(), leaves.end(), rng);
    std::vector<uint8_t> lengths(symbols, 0);
    std::vector<unsigned> slots(symbols);
    for (unsigned i = 0; i < symbols; ++i) slots[i] = i;
    std::shuffle(slots.begin(), slots.end(), rng);
    for (size_t i = 0; i < leaves.size(); ++i) lengths[slots[i]] = leaves[i];
    return lengths;
}

TEST(MszipTables, EveryCompleteCodeFits) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        const bool deep = round % 2 == 0;
        const unsigned litUsed = 2 + static_cast<unsigned>(rng() % 287);
        ASSERT_EQ(Build(RandomCompleteCode(rng, 288, litUsed, deep)), BuildResult::kOk) << round;
        const unsigned distUsed = 2 + static_cast<unsigned>(rng() % 29);
        ASSERT_EQ(Build(RandomCompleteCode(rng, 30, distUsed, deep), SymbolKind::kDistance),
                  BuildResult::kOk)
            << round;
    }
}

}  // namespace
