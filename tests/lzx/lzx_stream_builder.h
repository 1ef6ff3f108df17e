// Builds LZX blocks by hand, bit by bit, for the decoder's stream tests.
// Independent of the compressor: trees are written with a fixed pretree
// (symbols 0 to 11 in 4 bits, 12 to 19 in 5 bits) as plain deltas.
#pragma once

#include <cstdint>
#include <vector>

#include "decoders/lzx_tables.h"
#include "lzx_test_support.h"

namespace lzx_test {

// Canonical codes: by increasing length, then symbol.
inline std::vector<uint32_t> Codes(const std::vector<uint8_t>& lengths) {
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (uint32_t len = 1; len <= 16; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

// A complete code over n symbols with lengths as equal as possible.
inline std::vector<uint8_t> FlatLengths(uint32_t n) {
    uint32_t k = 0;
    while ((1u << k) < n) ++k;
    const uint32_t shorter = (1u << k) - n;
    std::vector<uint8_t> lengths(n, static_cast<uint8_t>(k));
    for (uint32_t s = 0; s < shorter; ++s) lengths[s] = static_cast<uint8_t>(k - 1);
    return lengths;
}

class Builder {
  public:
    explicit Builder(uint32_t windowBits)
        : mainSymbols_(lzx::kNumChars + 8 * lzx::SlotCount(1u << windowBits)),
          previousMain_(mainSymbols_, 0),
          previousLength_(lzx::kLengthSymbols, 0) {
        std::vector<uint8_t> pretree(20, 4);
        for (int s = 12; s < 20; ++s) pretree[s] = 5;
        pretreeLengths_ = pretree;
        pretreeCodes_ = Codes(pretree);
    }
    uint32_t MainSymbols() const { return mainSymbols_; }
    BitStream& Bits() { return bits_; }

    Builder& E8Header(bool on, uint32_t size = 0) {
        bits_.Bits(on ? 1 : 0, 1);
        if (on) bits_.Bits(size >> 16, 16).Bits(size & 0xFFFF, 16);
        return *this;
    }
    Builder& Header(uint32_t kind, uint32_t size) {
        bits_.Bits(kind, 3).Bits(size >> 16, 8).Bits((size >> 8) & 0xFF, 8).Bits(size & 0xFF, 8);
        return *this;
    }
    Builder& AlignedTree(const std::vector<uint8_t>& lengths) {
        for (uint8_t len : lengths) bits_.Bits(len, 3);
        aligned_ = lengths;
        alignedCodes_ = Codes(lengths);
        return *this;
    }
    // The pretree lengths and then a delta symbol per length of the range.
    Builder& Range(const uint8_t* lengths, const uint8_t* previous, uint32_t count) {
        for (uint8_t len : pretreeLengths_) bits_.Bits(len, 4);
        for (uint32_t i = 0; i < count; ++i)
            PretreeSymbol(lzx::DeltaLength(previous[i], lengths[i]));
        return *this;
    }
    Builder& PretreeSymbol(uint32_t s) {
        bits_.Bits(pretreeCodes_[s], pretreeLengths_[s]);
        return *this;
    }
    // Main and length trees of a verbatim or aligned block.
    Builder& Trees(const std::vector<uint8_t>& mainLengths,
                   const std::vector<uint8_t>& lengthLengths) {
        Range(mainLengths.data(), previousMain_.data(), 256);
        Range(mainLengths.data() + 256, previousMain_.data() + 256, mainSymbols_ - 256);
        Range(lengthLengths.data(), previousLength_.data(), lzx::kLengthSymbols);
        Use(mainLengths, lengthLengths);
        return *this;
    }
    // Records trees that the decoder now holds (for deltas and codes).
    void Use(const std::vector<uint8_t>& mainLengths, const std::vector<uint8_t>& lengthLengths) {
        previousMain_ = mainLengths;
        previousLength_ = lengthLengths;
        mainCodes_ = Codes(mainLengths);
        lengthCodes_ = Codes(lengthLengths);
    }
    // Flat trees: every main symbol and every length symbol present.
    Builder& FlatTrees() {
        return Trees(FlatLengths(mainSymbols_), FlatLengths(lzx::kLengthSymbols));
    }

    Builder& Literal(uint8_t b) { return Main(b); }
    Builder& Literals(const char* text) {
        for (; *text != 0; ++text) Literal(static_cast<uint8_t>(*text));
        return *this;
    }
    Builder& Main(uint32_t symbol) {
        bits_.Bits(mainCodes_[symbol], previousMain_[symbol]);
        return *this;
    }
    // A match of `length` (2 to 257) in `slot`; the length symbol when needed.
    Builder& MatchHead(uint32_t length, uint32_t slot) {
        const uint32_t header = length - 2 < 7 ? length - 2 : 7;
        Main(256 + slot * 8 + header);
        if (header == 7) bits_.Bits(lengthCodes_[length - 9], previousLength_[length - 9]);
        return *this;
    }
    // A match at a new distance in a verbatim block.
    Builder& Match(uint32_t length, uint32_t distance) {
        const uint32_t slot = SlotOf(distance);
        MatchHead(length, slot);
        if (slot >= 4) bits_.Bits(distance - lzx::kPositionBase[slot], lzx::kExtraBits[slot]);
        return *this;
    }
    // A match at a new distance in an aligned block.
    Builder& AlignedMatch(uint32_t length, uint32_t distance) {
        const uint32_t slot = SlotOf(distance);
        MatchHead(length, slot);
        const uint32_t extra = lzx::kExtraBits[slot];
        const uint32_t value = distance - lzx::kPositionBase[slot];
        if (extra < 3) {
            bits_.Bits(value, extra);
        } else {
            bits_.Bits(value >> 3, extra - 3);
            bits_.Bits(alignedCodes_[value & 7], aligned_[value & 7]);
        }
        return *this;
    }
    // The body of an uncompressed block: 1 to 16 padding bits, R0 to R2,
    // the bytes and, for an odd count, one pad byte.
    Builder& Raw(const std::vector<uint8_t>& bytes, uint32_t r0 = 1, uint32_t r1 = 1,
                 uint32_t r2 = 1, bool padOdd = true) {
        bits_.Bits(0, 16 - bits_.BitsUsed() % 16);
        bits_.Le32(r0).Le32(r1).Le32(r2).Bytes(bytes);
        if (padOdd && bytes.size() % 2 == 1) bits_.Bytes({0});
        return *this;
    }
    std::vector<uint8_t> Done() {
        std::vector<uint8_t> out = bits_.Done();
        bits_ = BitStream();
        return out;
    }

    static uint32_t SlotOf(uint32_t distance) {
        uint32_t slot = 3;
        while (slot + 1 <= lzx::kMaxSlots && lzx::kPositionBase[slot + 1] <= distance) ++slot;
        return distance == 1 ? 3 : slot;
    }

  private:
    BitStream bits_;
    uint32_t mainSymbols_;
    std::vector<uint8_t> previousMain_, previousLength_;
    std::vector<uint8_t> pretreeLengths_;
    std::vector<uint32_t> pretreeCodes_;
    std::vector<uint32_t> mainCodes_, lengthCodes_, alignedCodes_;
    std::vector<uint8_t> aligned_;
};

inline std::vector<uint8_t> Text(const char* s) {
    std::vector<uint8_t> v;
    for (; *s != 0; ++s) v.push_back(static_cast<uint8_t>(*s));
    return v;
}

}  // namespace lzx_test
