// The LZX bit reader: 16-bit little-endian words, most significant bit first.
//
// The reader keeps up to 64 bits in a left-aligned buffer and fetches up to
// four words at a time. Bytes past the block's data read as zeros; it never reads
// outside its input. The stream limits are those of a reader that fetches one
// word at a time, two words ahead, and stops at the data end + 4 bytes:
//   - a symbol may start only while the word-ahead reader's input position is
//     before the input end, i.e. fewer than 16 * Fmax bits are consumed;
//   - "overrun" is the state in which that reader wanted a word at or past
//     the input end, i.e. at least 16 * (Fmax + 1) bits are consumed;
// where Fmax is the number of words that reader may fetch after priming.
#pragma once

#include <cstdint>
#include <cstring>

namespace lzx {

class BitReader {
  public:
    // Starts reading the input at byte offset `at` (priming).
    void Prime(const uint8_t* data, uint32_t count, uint32_t at) {
        data_ = data;
        count_ = count;
        start_ = at;
        pos_ = at;
        buffer_ = 0;
        bits_ = 0;
        int64_t rest = int64_t{count} - at;
        uint64_t maxWords = rest > 0 ? static_cast<uint64_t>((rest + 1) / 2) : 0;
        symbolLimit_ = 8 * uint64_t{at} + 16 * maxWords;
        Refill();
    }

    // Guarantees at least 33 valid bits in the buffer.
    void Ensure() {
        if (bits_ <= 32) Refill();
    }
    uint32_t Peek16() const { return static_cast<uint32_t>(buffer_ >> 48); }
    void Consume(uint32_t n) {
        buffer_ <<= n;
        bits_ -= n;
    }
    // n from 0 to 17; needs Ensure() first.
    uint32_t Take(uint32_t n) {
        uint32_t v = static_cast<uint32_t>((buffer_ >> 32) >> (32 - n));
        Consume(n);
        return v;
    }
    uint32_t Read(uint32_t n) {
        Ensure();
        return Take(n);
    }

    // Bits consumed since priming, offset by 8 * the priming position.
    uint64_t Position() const { return 8 * uint64_t{pos_} - bits_; }
    // True while a symbol may still start.
    bool SymbolAllowed() const { return Position() < symbolLimit_; }
    bool Overrun() const { return Position() >= symbolLimit_ + 16; }
    uint64_t SymbolLimit() const { return symbolLimit_; }

    // The word-ahead reader's input position, as a byte offset: the priming
    // position + 4 + 2 per word fetched since, frozen once it reaches the end.
    uint64_t WordAheadPosition() const {
        uint64_t consumed = Position() - 8 * uint64_t{start_};
        uint64_t words = consumed / 16;
        uint64_t maxWords = (symbolLimit_ - 8 * uint64_t{start_}) / 16;
        if (words > maxWords) words = maxWords;
        return uint64_t{start_} + 4 + 2 * words;
    }

  private:
    // Adds as many whole words as fit (2 to 4) from one 8-byte load. Bits of
    // a word that only partly fits are ORed in too; the next refill ORs the
    // same bits into the same place.
    void Refill() {
        uint8_t b[8];
        if (count_ >= 8 && pos_ <= count_ - 8) [[likely]] {
            std::memcpy(b, data_ + pos_, 8);
        } else {
            for (uint32_t i = 0; i < 8; ++i)
                b[i] = uint64_t{pos_} + i < count_ ? data_[pos_ + i] : 0;
        }
        const uint64_t stream = (uint64_t{b[1]} << 56) | (uint64_t{b[0]} << 48) |
                                (uint64_t{b[3]} << 40) | (uint64_t{b[2]} << 32) |
                                (uint64_t{b[5]} << 24) | (uint64_t{b[4]} << 16) |
                                (uint64_t{b[7]} << 8) | uint64_t{b[6]};
        buffer_ |= stream >> bits_;
        const uint32_t words = (64 - bits_) >> 4;
        bits_ += 16 * words;
        pos_ += 2 * words;
    }

    const uint8_t* data_ = nullptr;
    uint32_t count_ = 0;
    uint32_t start_ = 0;
    uint32_t pos_ = 0;  // next byte to fetch; may pass count_ (zeros)
    uint64_t buffer_ = 0;
    uint32_t bits_ = 0;
    uint64_t symbolLimit_ = 0;
};

}  // namespace lzx
