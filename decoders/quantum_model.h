// The adaptive frequency models and the constant tables shared by the Quantum
// decoder and the Quantum compressor. Both sides must update and rebuild the
// models identically, so there is exactly one implementation, here.
#pragma once

#include <array>
#include <cstdint>

namespace quantum {

inline constexpr int kMinWindowBits = 10;
inline constexpr int kMaxWindowBits = 21;
inline constexpr int kPositionSlots = 42;
inline constexpr int kLengthSlots = 27;
inline constexpr int kMaxModelEntries = 64;
// A model's total may grow to this before it is rebuilt.
inline constexpr uint32_t kRebuildThreshold = 3800;
inline constexpr uint32_t kFrequencyStep = 8;
inline constexpr int kFirstFullRebuild = 4;
inline constexpr int kLaterFullRebuild = 50;

// Match selectors and the fixed lengths of the short ones.
inline constexpr unsigned kSelectorMatch3 = 4;
inline constexpr unsigned kSelectorMatch4 = 5;
inline constexpr unsigned kSelectorMatchLong = 6;
inline constexpr unsigned kMinLongMatch = 5;
inline constexpr unsigned kMaxMatch = 259;
// Offsets reachable by the two short selectors.
inline constexpr uint32_t kMatch3MaxOffset = 4096;
inline constexpr uint32_t kMatch4MaxOffset = 262144;

struct Tables {
    std::array<uint8_t, kPositionSlots> positionExtra{};
    std::array<uint32_t, kPositionSlots> positionBase{};
    std::array<uint8_t, kLengthSlots> lengthExtra{};
    std::array<uint32_t, kLengthSlots> lengthBase{};
};

constexpr Tables MakeTables() {
    Tables t;
    for (int s = 0; s < kPositionSlots; ++s) t.positionExtra[s] = uint8_t(s < 4 ? 0 : s / 2 - 1);
    for (int s = 1; s < kPositionSlots; ++s)
        t.positionBase[s] = t.positionBase[s - 1] + (1u << t.positionExtra[s - 1]);
    for (int s = 0; s < kLengthSlots; ++s)
        t.lengthExtra[s] = uint8_t(s < 6 || s == 26 ? 0 : (s - 2) / 4);
    for (int s = 1; s < kLengthSlots; ++s)
        t.lengthBase[s] = t.lengthBase[s - 1] + (1u << t.lengthExtra[s - 1]);
    return t;
}

inline constexpr Tables kTables = MakeTables();
static_assert(kTables.positionBase[41] + (1u << kTables.positionExtra[41]) == (1u << 21));
static_assert(kTables.lengthBase[26] + kMinLongMatch == kMaxMatch);

// One coded alphabet. Pair i holds the cumulative frequency of pairs i and
// later; pair `entries` is a terminator with frequency 0, so pair 0 holds the
// total. After a full rebuild the pairs are sorted by falling frequency, so a
// linear search meets the frequent symbols first.
struct ModelPair {
    uint16_t cumFreq;
    uint16_t symbol;
};

struct Model {
    int32_t entries;
    int32_t shiftsLeft;
    ModelPair pairs[kMaxModelEntries + 1];
};

inline void InitModel(Model& m, int entries) {
    m.entries = entries;
    m.shiftsLeft = kFirstFullRebuild;
    for (int j = 0; j <= entries; ++j) m.pairs[j] = {uint16_t(entries - j), uint16_t(j)};
}

inline void RebuildModel(Model& m) {
    ModelPair* p = m.pairs;
    const int n = m.entries;
    if (--m.shiftsLeft != 0) {
        for (int i = n - 1; i >= 0; --i) {
            p[i].cumFreq = uint16_t(p[i].cumFreq >> 1);
            if (p[i].cumFreq <= p[i + 1].cumFreq) p[i].cumFreq = uint16_t(p[i + 1].cumFreq + 1);
        }
        return;
    }
    m.shiftsLeft = kLaterFullRebuild;
    // Turn cumulative frequencies into halved individual ones...
    for (int i = 0; i < n; ++i)
        p[i].cumFreq = uint16_t((p[i].cumFreq - p[i + 1].cumFreq + 1) >> 1);
    // ...sort by falling frequency with exactly this swap order (peers must
    // end with the same permutation, ties included)...
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (p[j].cumFreq > p[i].cumFreq) {
                ModelPair t = p[i];
                p[i] = p[j];
                p[j] = t;
            }
    // ...and accumulate again from the end.
    for (int i = n - 1; i >= 0; --i) p[i].cumFreq = uint16_t(p[i].cumFreq + p[i + 1].cumFreq);
}

// The step after coding the symbol held by pair i.
inline void UpdateModel(Model& m, int i) {
    for (int k = 0; k <= i; ++k) m.pairs[k].cumFreq = uint16_t(m.pairs[k].cumFreq + kFrequencyStep);
    if (m.pairs[0].cumFreq > kRebuildThreshold) RebuildModel(m);
}

// The nine models of a stream.
struct ModelSet {
    Model selector;
    Model literal[4];
    Model length;
    Model position6;  // selector 6 (long matches)
    Model position4;  // selector 4 (length 3)
    Model position5;  // selector 5 (length 4)
};

inline void InitModels(ModelSet& s, int windowBits) {
    InitModel(s.selector, 7);
    for (auto& m : s.literal) InitModel(m, 64);
    InitModel(s.length, kLengthSlots);
    const int slots = 2 * windowBits;
    InitModel(s.position6, slots);
    InitModel(s.position4, slots < 24 ? slots : 24);
    InitModel(s.position5, slots < 36 ? slots : 36);
}

}  // namespace quantum
