// Writes an LZX bit stream: 16-bit little-endian words, most significant bit first.
#pragma once

#include <cstdint>
#include <vector>

namespace cabbuild::lzx_detail {

class LzxBitWriter {
  public:
    // Appends the low n bits of value (n at most 32), most significant first.
    void Put(uint32_t value, uint32_t n) {
        if (n == 0) return;
        accumulator_ = (accumulator_ << n) | (value & (n == 32 ? 0xFFFFFFFFu : (1u << n) - 1));
        pending_ += n;
        while (pending_ >= 16) {
            auto word = static_cast<uint16_t>(accumulator_ >> (pending_ - 16));
            bytes_.push_back(static_cast<uint8_t>(word));
            bytes_.push_back(static_cast<uint8_t>(word >> 8));
            pending_ -= 16;
        }
        accumulator_ &= (uint64_t{1} << pending_) - 1;
    }
    // Pads with zero bits to the next word boundary (nothing when on one).
    void Flush() {
        if (pending_ > 0) Put(0, 16 - pending_);
    }
    // The padding in front of an uncompressed block's body: 1 to 16 zero bits.
    void AlignForRawBytes() { Put(0, pending_ == 0 ? 16 : 16 - pending_); }
    // Raw bytes; only on a word boundary.
    void PutBytes(const uint8_t* data, size_t n) { bytes_.insert(bytes_.end(), data, data + n); }
    void PutLe32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    uint64_t BitCount() const { return 8 * uint64_t{bytes_.size()} + pending_; }
    std::vector<uint8_t>& Bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t accumulator_ = 0;
    uint32_t pending_ = 0;
};

}  // namespace cabbuild::lzx_detail
