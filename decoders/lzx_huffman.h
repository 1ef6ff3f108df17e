// Canonical Huffman decoding tables for the LZX trees.
//
// A direct table indexed by the first kBits bits of a code resolves every code
// of at most kBits bits in one lookup; the rare longer codes are resolved by
// a short canonical search over the lengths above kBits.
#pragma once

#include <cstdint>
#include <cstring>

#include "decoders/lzx_tables.h"

namespace lzx {

template <uint32_t kSymbols, uint32_t kBits>
class HuffmanTable {
  public:
    // Builds the table from code lengths 0 (absent) to 16. The code must be
    // complete, or empty: an empty code decodes symbol 0 with length 0.
    bool Build(const uint8_t* lengths, uint32_t symbols) {
        uint32_t count[kMaxCodeLength + 1] = {};
        for (uint32_t s = 0; s < symbols; ++s) ++count[lengths[s]];
        uint32_t kraft = 0;
        for (uint32_t len = 1; len <= kMaxCodeLength; ++len) kraft += count[len] << (16 - len);
        if (kraft == 0) {
            std::memset(fast_, 0, sizeof fast_);
            return true;
        }
        if (kraft != 1u << 16) return false;

        uint32_t code = 0, index = 0;
        uint32_t next[kMaxCodeLength + 1];
        for (uint32_t len = 1; len <= kMaxCodeLength; ++len) {
            start_[len] = code;
            first_[len] = static_cast<uint16_t>(index);
            next[len] = index;
            code += count[len] << (16 - len);
            limit_[len] = code;
            index += count[len];
        }
        for (uint32_t s = 0; s < symbols; ++s)
            if (lengths[s] != 0) sorted_[next[lengths[s]]++] = static_cast<uint16_t>(s);

        // Entries not filled below belong to codes longer than kBits.
        std::memset(fast_, 0xFF, sizeof fast_);
        for (uint32_t len = 1; len <= kBits && len <= kMaxCodeLength; ++len) {
            for (uint32_t j = 0; j < count[len]; ++j) {
                uint32_t sym = sorted_[first_[len] + j];
                uint32_t at = (start_[len] + (j << (16 - len))) >> (16 - kBits);
                uint32_t span = 1u << (kBits - len);
                uint16_t entry = static_cast<uint16_t>(sym | (len << kLengthShift));
                for (uint32_t k = 0; k < span; ++k) fast_[at + k] = entry;
            }
        }
        return true;
    }

    // Decodes the symbol whose code starts at the top of peek16 (the next 16
    // bits of the stream) and stores the code length in *length.
    uint32_t Decode(uint32_t peek16, uint32_t* length) const {
        uint32_t entry = fast_[peek16 >> (16 - kBits)];
        if (entry != kLongCode) [[likely]] {
            *length = entry >> kLengthShift;
            return entry & kSymbolMask;
        }
        uint32_t len = kBits + 1;
        while (peek16 >= limit_[len]) ++len;
        *length = len;
        return sorted_[first_[len] + ((peek16 - start_[len]) >> (16 - len))];
    }

  private:
    static constexpr uint32_t kLengthShift = 10;
    static constexpr uint32_t kSymbolMask = (1u << kLengthShift) - 1;
    static constexpr uint16_t kLongCode = 0xFFFF;
    static_assert(kSymbols <= kSymbolMask && kBits <= 16);

    uint16_t fast_[1u << kBits];
    uint16_t sorted_[kSymbols];
    uint32_t start_[kMaxCodeLength + 1];  // first code of each length, left-justified to 16 bits
    uint32_t limit_[kMaxCodeLength + 1];  // one past the last code of each length, likewise
    uint16_t first_[kMaxCodeLength + 1];  // index in sorted_ of each length's first symbol
};

}  // namespace lzx
