// The compressor's match finder: what it reports, and that rebasing its
// 32-bit chain entries (after 4 GiB in real use) changes nothing.
#include "cabbuild/quantum_match_finder.h"

#include <gtest/gtest.h>

#include "quantum_test_support.h"

namespace {

using cabbuild::quantum_enc::MatchCandidate;
using cabbuild::quantum_enc::MatchFinder;

TEST(QuantumMatchFinder, ReportsOnlyCodableMatchesNearestFirst) {
    const auto data = qtest::MixedData(300000, 9);
    MatchFinder finder(16, 64);
    finder.Append(data);
    std::vector<MatchCandidate> found;
    size_t withMatches = 0;
    for (uint64_t pos = 0; pos + 300 < data.size(); ++pos) {
        finder.InsertUpTo(pos);
        finder.Find(pos, 259, found);
        withMatches += !found.empty();
        uint32_t lastLength = 0, lastOffset = 0;
        for (const MatchCandidate& c : found) {
            ASSERT_GT(c.length, lastLength);
            ASSERT_GT(c.offset, lastOffset);
            ASSERT_LE(c.offset, 1u << 16);
            ASSERT_LE(c.offset, pos);
            if (c.length == 3) {
                ASSERT_LE(c.offset, 4096u);
            }
            if (c.length == 4) {
                ASSERT_LE(c.offset, 262144u);
            }
            for (uint32_t k = 0; k < c.length; ++k)
                ASSERT_EQ(data[pos + k], data[pos - c.offset + k]);
            lastLength = c.length;
            lastOffset = c.offset;
        }
    }
    EXPECT_GT(withMatches, data.size() / 2);
}

TEST(QuantumMatchFinder, RebasingChainEntriesChangesNoResult) {
    const auto data = qtest::MixedData(400000, 10);
    MatchFinder plain(14, 32), rebased(14, 32, 50000);
    std::vector<MatchCandidate> a, b;
    for (size_t at = 0; at < data.size(); at += 32768) {
        const std::span<const uint8_t> frame(data.data() + at,
                                             std::min<size_t>(32768, data.size() - at));
        plain.Append(frame);
        rebased.Append(frame);
        for (uint64_t pos = at; pos < at + frame.size(); ++pos) {
            const auto maxLength = uint32_t(std::min<uint64_t>(259, at + frame.size() - pos));
            plain.InsertUpTo(pos);
            rebased.InsertUpTo(pos);
            plain.Find(pos, maxLength, a);
            rebased.Find(pos, maxLength, b);
            ASSERT_EQ(a.size(), b.size()) << pos;
            for (size_t k = 0; k < a.size(); ++k) {
                ASSERT_EQ(a[k].length, b[k].length) << pos;
                ASSERT_EQ(a[k].offset, b[k].offset) << pos;
            }
        }
    }
}

}  // namespace
