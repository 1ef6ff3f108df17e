// Decoding one data block: the bit reader, the 16-bit arithmetic decoder and
// the item loop, with the in-memory window; the spill window plugs its own
// put-literal and copy-match in through the same loop.
#include <cstring>

#include "decoders/quantum_state.h"

namespace quantum {

namespace {

// Bits most significant first. A bit wanted past the block's end reads as 0
// and marks the block as exhausted, which fails the call.
class BitReader {
  public:
    BitReader(const uint8_t* in, uint32_t count) : in_(in), end_(in + count) {}

    uint32_t Bits(int k) {
        if (k == 0) return 0;
        if (count_ < k) {
            Refill();
            if (count_ < k) {
                exhausted_ = true;
                count_ = k;  // the buffer below the real bits is zero
            }
        }
        const uint32_t v = uint32_t(buf_ >> (64 - k));
        buf_ <<= k;
        count_ -= k;
        return v;
    }
    bool Exhausted() const { return exhausted_; }

  private:
    void Refill() {
        if (end_ - in_ >= 8) {
            uint64_t w = 0;
            for (int i = 0; i < 8; ++i) w = (w << 8) | in_[i];
            buf_ |= w >> count_;
            in_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56 && in_ < end_) {
            buf_ |= uint64_t(*in_++) << (56 - count_);
            count_ += 8;
        }
    }

    const uint8_t* in_;
    const uint8_t* end_;
    uint64_t buf_ = 0;
    int count_ = 0;
    bool exhausted_ = false;
};

struct Coder {
    uint32_t low;
    uint32_t high;
    uint32_t code;
};

[[gnu::always_inline]] inline unsigned DecodeSymbol(Model& m, Coder& c, BitReader& bits) {
    const uint32_t total = m.cumFreq[0];
    const uint32_t range = c.high - c.low + 1;
    const uint32_t q = ((c.code - c.low + 1) * total - 1) / range;
    // The frequency value is q's low half read as signed; a "negative" one
    // compares above every frequency and so selects entry 0.
    const int i = FindEntry(m, q & 0xFFFF);
    // The symbol as the encoder saw it: before this update's reordering.
    const unsigned symbol = m.symbol[i];

    const uint32_t low = c.low;
    c.high = (low + DivideByTotal(m.cumFreq[i] * range, total) - 1) & 0xFFFF;
    c.low = (low + DivideByTotal(m.cumFreq[i + 1] * range, total)) & 0xFFFF;
    for (;;) {
        // Shift out all leading bits on which low and high agree at once.
        const uint32_t differ = (c.low ^ c.high) & 0xFFFF;
        if ((differ & 0x8000) == 0) {
            const int n = differ == 0 ? 16 : __builtin_clz(differ) - 16;
            c.low = (c.low << n) & 0xFFFF;
            c.high = ((c.high << n) | ((1u << n) - 1)) & 0xFFFF;
            c.code = ((c.code << n) | bits.Bits(n)) & 0xFFFF;
            continue;
        }
        if ((c.low & 0x4000) == 0 || (c.high & 0x4000) != 0) break;
        // Straddling the middle closely: drop the second bit.
        c.code ^= 0x4000;
        c.low = (c.low & 0x3FFF) << 1;
        c.high = (((c.high | 0x4000) << 1) | 1) & 0xFFFF;
        c.code = ((c.code << 1) | bits.Bits(1)) & 0xFFFF;
    }
    UpdateModel(m, i);
    return symbol;
}

void MemoryPutLiteral(QuantumDecoder& d, CallOutput& o, uint8_t b) {
    --o.remaining;
    ++d.total;
    *o.out++ = b;
    d.window[d.writePos] = b;
    d.writePos = (d.writePos + 1) & d.windowMask;
}

void MemoryCopyMatch(QuantumDecoder& d, CallOutput& o, uint32_t length, uint32_t offset) {
    if (o.remaining < length) {
        o.overflow = true;
        o.remaining = 0;
        return;
    }
    o.remaining -= length;
    uint32_t src = (d.total - offset) & d.windowMask;
    d.total += length;
    uint8_t* w = d.window;
    uint32_t dst = d.writePos;
    if (src + length <= d.windowSize && dst + length <= d.windowSize) {
        // No wrap: a forward byte copy keeps the overlapping-run semantics.
        uint8_t* to = w + dst;
        const uint8_t* from = w + src;
        for (uint32_t k = 0; k < length; ++k) to[k] = from[k];
        std::memcpy(o.out, to, length);
        o.out += length;
        d.writePos = (dst + length) & d.windowMask;
        return;
    }
    for (uint32_t k = 0; k < length; ++k) {
        const uint8_t b = w[src];
        w[dst] = b;
        *o.out++ = b;
        src = (src + 1) & d.windowMask;
        dst = (dst + 1) & d.windowMask;
    }
    d.writePos = dst;
}

template <bool kSpill>
bool DecodeItems(QuantumDecoder& d, BitReader& bits, CallOutput& o) {
    ModelSet& m = d.models;
    Coder c{0, 0xFFFF, bits.Bits(16)};
    while (o.remaining != 0 && !bits.Exhausted()) {
        const unsigned selector = DecodeSymbol(m.selector, c, bits);
        if (selector < 4) {
            const unsigned b = DecodeSymbol(m.literal[selector], c, bits) + 64 * selector;
            if constexpr (kSpill)
                SpillPutLiteral(d, o, uint8_t(b));
            else
                MemoryPutLiteral(d, o, uint8_t(b));
            continue;
        }
        uint32_t length;
        unsigned slot;
        if (selector == kSelectorMatch3) {
            length = 3;
            slot = DecodeSymbol(m.position4, c, bits);
        } else if (selector == kSelectorMatch4) {
            length = 4;
            slot = DecodeSymbol(m.position5, c, bits);
        } else {
            const unsigned lslot = DecodeSymbol(m.length, c, bits);
            length = (kTables.lengthBase[lslot] + bits.Bits(kTables.lengthExtra[lslot]) +
                      kMinLongMatch) &
                     0xFFFF;
            slot = DecodeSymbol(m.position6, c, bits);
        }
        const uint32_t offset =
            kTables.positionBase[slot] + bits.Bits(kTables.positionExtra[slot]) + 1;
        if constexpr (kSpill)
            SpillCopyMatch(d, o, length, offset);
        else
            MemoryCopyMatch(d, o, length, offset);
    }
    return !bits.Exhausted() && !o.overflow && !d.spillError;
}

}  // namespace

bool DecodeBlock(QuantumDecoder& d, const uint8_t* input, uint32_t count, CallOutput& o) {
    // A spill failure stands until the next reset; the write page may be
    // left full, so nothing more may be decoded into it.
    if (d.spillError) return false;
    BitReader bits(input, count);
    return d.spillMode ? DecodeItems<true>(d, bits, o) : DecodeItems<false>(d, bits, o);
}

}  // namespace quantum
