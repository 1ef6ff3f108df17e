// The adaptive frequency models and the constant tables shared by the Quantum
// decoder and the Quantum compressor. Both sides must update and rebuild the
// models identically, so there is exactly one implementation, here.
#pragma once

#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One coded alphabet. cumFreq[i] is the cumulative frequency of entries i
// and later and symbol[i] the symbol entry i stands for; entry `entries` is a
// terminator with frequency 0 (so cumFreq[0] is the total), and the padding
// after it stays 0 so that whole 8-lane groups can be scanned. After a full
// rebuild the entries are sorted by falling frequency.
inline constexpr int kModelLanes = 72;

struct Model {
    int32_t entries;
    int32_t shiftsLeft;
    alignas(16) uint16_t cumFreq[kModelLanes];
    uint16_t symbol[kModelLanes];
};

inline void InitModel(Model& m, int entries) {
    m.entries = entries;
    m.shiftsLeft = kFirstFullRebuild;
    for (int j = 0; j < kModelLanes; ++j) {
        m.cumFreq[j] = uint16_t(j <= entries ? entries - j : 0);
        m.symbol[j] = uint16_t(j);
    }
}

inline void RebuildModel(Model& m) {
    uint16_t* cf = m.cumFreq;
    uint16_t* sym = m.symbol;
    const int n = m.entries;
    if (--m.shiftsLeft != 0) {
        for (int i = n - 1; i >= 0; --i) {
            cf[i] = uint16_t(cf[i] >> 1);
            if (cf[i] <= cf[i + 1]) cf[i] = uint16_t(cf[i + 1] + 1);
        }
        return;
    }
    m.shiftsLeft = kLaterFullRebuild;
    // Turn cumulative frequencies into halved individual ones...
    for (int i = 0; i < n; ++i) cf[i] = uint16_t((cf[i] - cf[i + 1] + 1) >> 1);
    // ...sort by falling frequency with exactly this swap order (peers must
    // end with the same permutation, ties included)...
    for (int i = 0; i < n - 1; ++i)
        for (int j = i + 1; j < n; ++j)
            if (cf[j] > cf[i]) {
                const uint16_t f = cf[i], s = sym[i];
                cf[i] = cf[j];
                sym[i] = sym[j];
                cf[j] = f;
                sym[j] = s;
            }
    // ...and accumulate again from the end.
    for (int i = n - 1; i >= 0; --i) cf[i] = uint16_t(cf[i] + cf[i + 1]);
}

// The entry whose interval holds frequency value f: the first i with
// cumFreq[i + 1] <= f. Cumulative frequencies fall strictly up to the
// terminator, so i is the number of entries after the first that exceed f.
inline int FindEntry(const Model& m, uint32_t f) {
    if (f >= 0x8000) return 0;  // also covers the sign-extended values
#if defined(__SSE2__)
    // Count every entry above f, without a data-dependent branch: the
    // counts a random symbol would give cost more in mispredictions than
    // scanning the whole (small) model does.
    const __m128i fv = _mm_set1_epi16(int16_t(f));
    __m128i count = _mm_setzero_si128();
    for (int k = 1; k <= m.entries; k += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.cumFreq + k));
        count = _mm_sub_epi16(count, _mm_cmpgt_epi16(v, fv));
    }
    count = _mm_add_epi16(count, _mm_srli_si128(count, 8));
    count = _mm_add_epi16(count, _mm_srli_si128(count, 4));
    count = _mm_add_epi16(count, _mm_srli_si128(count, 2));
    return _mm_cvtsi128_si32(count) & 0xFFFF;
#else
    int i = 0;
    while (m.cumFreq[i + 1] > f) ++i;
    return i;
#endif
}

// The step after coding the symbol of entry i.
inline void UpdateModel(Model& m, int i) {
#if defined(__SSE2__)
    const __m128i step = _mm_set1_epi16(int16_t(kFrequencyStep));
    const __m128i last = _mm_set1_epi16(int16_t(i));
    __m128i lane = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i eight = _mm_set1_epi16(8);
    // All groups up to the terminator, masked: again no branch on i.
    for (int k = 0; k <= m.entries; k += 8) {
        auto* p = reinterpret_cast<__m128i*>(m.cumFreq + k);
        const __m128i beyond = _mm_cmpgt_epi16(lane, last);
        _mm_store_si128(p, _mm_add_epi16(_mm_load_si128(p), _mm_andnot_si128(beyond, step)));
        lane = _mm_add_epi16(lane, eight);
    }
#else
    for (int k = 0; k <= i; ++k) m.cumFreq[k] = uint16_t(m.cumFreq[k] + kFrequencyStep);
#endif
    if (m.cumFreq[0] > kRebuildThreshold) RebuildModel(m);
}

// n / total without a division, exact for n < 2^28 (a frequency times a
// range) and totals up to 4096: (n × (2^44 / total + 1)) >> 44 errs by less
// than n / 2^44 < 2^-16, which never carries past a 1/total step.
inline constexpr uint32_t kMaxTotal = 4096;

struct Reciprocals {
    uint64_t value[kMaxTotal + 1];
};

constexpr Reciprocals MakeReciprocals() {
    Reciprocals r{};
    for (uint32_t t = 1; t <= kMaxTotal; ++t) r.value[t] = (uint64_t(1) << 44) / t + 1;
    return r;
}

inline constexpr Reciprocals kReciprocals = MakeReciprocals();

inline uint32_t DivideByTotal(uint32_t n, uint32_t total) {
    return uint32_t((uint64_t(n) * kReciprocals.value[total]) >> 44);
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
