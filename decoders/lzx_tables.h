// Fixed parameters of the LZX format shared by the decoder and the compressor.
#pragma once

#include <array>
#include <cstdint>

namespace lzx {

inline constexpr uint32_t kMinWindowBits = 15;
inline constexpr uint32_t kMaxWindowBits = 21;
inline constexpr uint32_t kNumChars = 256;
inline constexpr uint32_t kMaxSlots = 50;
inline constexpr uint32_t kMaxMainSymbols = kNumChars + 8 * kMaxSlots;  // 656
inline constexpr uint32_t kLengthSymbols = 249;
inline constexpr uint32_t kPretreeSymbols = 20;
inline constexpr uint32_t kAlignedSymbols = 8;
inline constexpr uint32_t kMinMatch = 2;
inline constexpr uint32_t kMaxMatch = 257;
inline constexpr uint32_t kMaxCodeLength = 16;
inline constexpr uint32_t kFrameSize = 32768;
// Frames of a folder from this call on are never E8-translated.
inline constexpr uint32_t kE8FrameLimit = 32768;

enum BlockKind : uint32_t {
    kBlockNone = 0,
    kBlockVerbatim = 1,
    kBlockAligned = 2,
    kBlockUncompressed = 3,
};

// Extra bits per position slot: 0,0,0,0,1,1,2,2,...,16,16, then 17 up to slot 50.
inline constexpr std::array<uint8_t, kMaxSlots + 1> kExtraBits = [] {
    std::array<uint8_t, kMaxSlots + 1> bits{};
    for (uint32_t slot = 0; slot <= kMaxSlots; ++slot) {
        uint32_t e = slot < 4 ? 0 : slot / 2 - 1;
        bits[slot] = static_cast<uint8_t>(e > 17 ? 17 : e);
    }
    return bits;
}();

// Position base of each slot minus 2, so that base plus the extra bits is the
// match distance itself (slots 0 to 2 are the repeated distances and slot 3
// is distance 1).
inline constexpr std::array<uint32_t, kMaxSlots + 1> kPositionBase = [] {
    std::array<uint32_t, kMaxSlots + 1> base{};
    uint32_t published = 0;
    for (uint32_t slot = 0; slot <= kMaxSlots; ++slot) {
        base[slot] = published - 2u;  // wraps for slots 0 and 1, which never use it
        published += 1u << kExtraBits[slot];
    }
    return base;
}();

// Number of position slots for a window: slots are taken until they cover
// the whole window (30, 32, 34, 36, 38, 42 and 50 for 2^15 to 2^21).
constexpr uint32_t SlotCount(uint32_t windowSize) {
    uint32_t slots = 4;
    uint64_t covered = 4;
    while (covered < windowSize && slots <= kMaxSlots) {
        covered += uint64_t{1} << kExtraBits[slots];
        ++slots;
    }
    return slots;
}

static_assert(SlotCount(1u << 15) == 30 && SlotCount(1u << 16) == 32 && SlotCount(1u << 17) == 34 &&
              SlotCount(1u << 18) == 36 && SlotCount(1u << 19) == 38 && SlotCount(1u << 20) == 42 &&
              SlotCount(1u << 21) == 50);
static_assert(kPositionBase[4] == 2 && kPositionBase[36] == 262142 && kPositionBase[50] == 2097150);

// New code length from the previous one and a pretree delta symbol: (prev - s) mod 17.
constexpr uint8_t DeltaLength(uint32_t previous, uint32_t symbol) {
    int v = (static_cast<int>(previous) - static_cast<int>(symbol)) % 17;
    return static_cast<uint8_t>(v < 0 ? v + 17 : v);
}

}  // namespace lzx
