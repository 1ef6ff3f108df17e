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

    // k may be 0..32.
    uint32_t Bits(int k) {
        if (count_ < k) {
            Refill();
            if (count_ < k) {
                exhausted_ = true;
                count_ = k;  // the buffer below the real bits is zero
            }
        }
        const uint32_t v = uint32_t((buf_ >> 32) >> (32 - k));
        buf_ <<= k;
        count_ -= k;
        return v;
    }
    bool Exhausted() const { return exhausted_; }

    // Tops the buffer up to at least 56 bits while 8 input bytes remain.
    // Done before every symbol, whatever the count: a refill only when bits
    // run short would be a branch the data decides, and mispredicted often.
    void TopUp() {
        if (end_ - in_ >= 8) FastRefill();
    }

  private:
    // Valid at any count: the next input byte always follows the counted
    // bits, and bytes loaded below them are loaded again, unchanged, later.
    void FastRefill() {
        uint64_t w = 0;
        for (int i = 0; i < 8; ++i) w = (w << 8) | in_[i];
        buf_ |= w >> count_;
        in_ += (63 - count_) >> 3;
        count_ |= 56;
    }

    void Refill() {
        if (end_ - in_ >= 8) {
            FastRefill();
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

// Lane groups of 8 that cover every entry of a model kind at its largest:
// the lanes past a model's terminator hold 0, which no frequency value is
// below, so scanning them changes nothing.
inline constexpr int kSelectorGroups = 1;   // 7 entries
inline constexpr int kLiteralGroups = 8;    // 64
inline constexpr int kLengthGroups = 4;     // 27
inline constexpr int kPosition4Groups = 3;  // up to 24
inline constexpr int kPosition5Groups = 5;  // up to 36
inline constexpr int kPosition6Groups = 6;  // up to 42
static_assert(kLiteralGroups * 8 + 1 <= kModelLanes && kPosition6Groups * 8 >= 2 * kMaxWindowBits);

#if defined(__SSE2__)
// Cumulative frequencies fall strictly up to the terminator, so the entries
// above frequency value f are exactly entries 1..i of the entry i whose
// interval holds f; with entry 0 (always stepped) they are also the entries
// the +8 step applies to. A value of 0x8000 and up (a sign-extended one)
// selects entry 0, as clamping it to 0x7FFF does: no frequency reaches that.
struct Probe {
    __m128i value;
};

inline Probe MakeProbe(uint32_t f) {
    return {_mm_set1_epi16(int16_t(f < 0x7FFF ? f : 0x7FFF))};
}

// Lanes of group g holding an entry above the probe, entry 0 included.
[[gnu::always_inline]] inline __m128i Above(const Model& m, int g, Probe p) {
    const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(m.cumFreq + 8 * g));
    const __m128i above = _mm_cmpgt_epi16(v, p.value);
    return g == 0 ? _mm_or_si128(above, _mm_setr_epi16(-1, 0, 0, 0, 0, 0, 0, 0)) : above;
}

// The entry whose interval holds the probed value: the last lane above it.
// Its lanes form a prefix, so the highest set bit of their mask is i.
template <int kGroups>
[[gnu::always_inline]] inline int FindEntry(const Model& m, Probe p) {
    uint64_t mask = 0;
    for (int g = 0; g < kGroups; g += 2) {
        const __m128i hi = g + 1 < kGroups ? Above(m, g + 1, p) : _mm_setzero_si128();
        const auto bits = uint32_t(_mm_movemask_epi8(_mm_packs_epi16(Above(m, g, p), hi)));
        mask |= uint64_t(bits) << (8 * g);
    }
    return 63 - __builtin_clzll(mask);
}

// The +8 step of entries 0..i.
template <int kGroups>
[[gnu::always_inline]] inline void Step(Model& m, int i) {
    const __m128i step = _mm_set1_epi16(int16_t(kFrequencyStep));
    const __m128i last = _mm_set1_epi16(int16_t(i));
    for (int g = 0; g < kGroups; ++g) {
        auto* at = reinterpret_cast<__m128i*>(m.cumFreq + 8 * g);
        const __m128i lane =
            _mm_add_epi16(_mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), _mm_set1_epi16(int16_t(8 * g)));
        const __m128i beyond = _mm_cmpgt_epi16(lane, last);
        _mm_store_si128(at, _mm_add_epi16(_mm_load_si128(at), _mm_andnot_si128(beyond, step)));
    }
}
#else
struct Probe {
    uint32_t value;
};

inline Probe MakeProbe(uint32_t f) {
    return {f};
}

template <int kGroups>
inline int FindEntry(const Model& m, Probe p) {
    return quantum::FindEntry(m, p.value);
}

template <int kGroups>
inline void Step(Model& m, int i) {
    for (int k = 0; k <= i; ++k) m.cumFreq[k] = uint16_t(m.cumFreq[k] + kFrequencyStep);
}
#endif

template <int kGroups>
[[gnu::always_inline]] inline unsigned DecodeSymbol(Model& m, Coder& c, BitReader& bits) {
    bits.TopUp();
    const uint32_t total = m.cumFreq[0];
    const uint32_t range = c.high - c.low + 1;
    int i;
    if (kGroups == kSelectorGroups && c.code >= c.low && c.code <= c.high) {
        // The selector model (decoded for every item) is searched without
        // the division. With the code inside [low, high], as in any stream
        // an encoder wrote, q below is less than total, and cumFreq[k] > q
        // exactly when cumFreq[k] × range reaches (code - low + 1) × total.
        const uint32_t scaled = (c.code - c.low + 1) * total;
        i = 0;
        for (int k = 1; k < 8 * kSelectorGroups; ++k) i += int(m.cumFreq[k] * range >= scaled);
    } else {
        const uint32_t q = ((c.code - c.low + 1) * total - 1) / range;
        // The frequency value is q's low half read as signed; a "negative"
        // one compares above every frequency and so selects entry 0.
        i = FindEntry<kGroups>(m, MakeProbe(q & 0xFFFF));
    }
    // The symbol as the encoder saw it: before any rebuild reorders entries.
    const unsigned symbol = m.symbol[i];
    const uint32_t upper = m.cumFreq[i];
    const uint32_t lower = m.cumFreq[i + 1];
    Step<kGroups>(m, i);

    // upper × range / total as in DivideByTotal, with range's share of the
    // product formed while the entry is still being searched for.
    const uint64_t scale = uint64_t(range) * kReciprocals.value[total];
    const uint32_t low = (c.low + uint32_t((lower * scale) >> 44)) & 0xFFFF;
    const uint32_t high = (c.low + uint32_t((upper * scale) >> 44) - 1) & 0xFFFF;
    // Renormalise without a data-dependent branch. First shift out all
    // leading bits on which low and high agree (all 16 when they are equal).
    const int agree = __builtin_clz(((low ^ high) << 16) | 0x8000);
    // Then, while they straddle the middle closely (low 01..., high 10...),
    // drop the second bit: every such step removes bit 14 of low and high
    // and flips bit 14 of the code, and of those flips only the last one
    // stays inside the 16 bits, landing on bit 15.
    const int straddle = __builtin_clz(~(((low & ~high) << agree) << 17));
    const uint32_t flip = uint32_t(straddle != 0) << 15;
    const int n = agree + straddle;
    c.low = (low << n) & (0xFFFF ^ flip);
    c.high = ((high << n) | ((1u << n) - 1) | flip) & 0xFFFF;
    c.code = (((c.code << n) | bits.Bits(n)) & 0xFFFF) ^ flip;
    if (m.cumFreq[0] > kRebuildThreshold) RebuildModel(m);
    return symbol;
}

// The in-memory window and the call's output, held in locals for the
// whole block: byte stores may alias anything, so state reached through
// the handle would be reloaded after every byte written.
class MemorySink {
  public:
    MemorySink(QuantumDecoder& d, CallOutput& o)
        : d_(d),
          o_(o),
          window_(d.window),
          mask_(d.windowMask),
          size_(d.windowSize),
          writePos_(d.writePos),
          total_(d.total),
          out_(o.out),
          remaining_(o.remaining) {}
    ~MemorySink() {
        d_.writePos = writePos_;
        d_.total = total_;
        o_.out = out_;
        o_.remaining = remaining_;
        o_.overflow = o_.overflow || overflow_;
    }
    MemorySink(const MemorySink&) = delete;
    MemorySink& operator=(const MemorySink&) = delete;

    uint32_t Remaining() const { return remaining_; }
    bool Failed() const { return overflow_; }

    void Literal(uint8_t b) {
        --remaining_;
        ++total_;
        *out_++ = b;
        window_[writePos_] = b;
        writePos_ = (writePos_ + 1) & mask_;
    }

    void Match(uint32_t length, uint32_t offset) {
        if (remaining_ < length) {
            overflow_ = true;
            remaining_ = 0;
            return;
        }
        remaining_ -= length;
        uint32_t src = (total_ - offset) & mask_;
        total_ += length;
        uint32_t dst = writePos_;
        uint8_t* w = window_;
        if (src + length <= size_ && dst + length <= size_) {
            // No wrap. Copying forward keeps the overlapping-run semantics;
            // 8 bytes at a time may do so while the source starts 8 or more
            // bytes before the destination (or anywhere after it).
            uint8_t* to = w + dst;
            const uint8_t* from = w + src;
            uint32_t k = 0;
            if (dst - src >= 8) {
                for (; k + 8 <= length; k += 8) {
                    uint64_t v;
                    std::memcpy(&v, from + k, 8);
                    std::memcpy(to + k, &v, 8);
                    std::memcpy(out_ + k, &v, 8);
                }
            }
            for (; k < length; ++k) {
                const uint8_t b = from[k];
                to[k] = b;
                out_[k] = b;
            }
            out_ += length;
            writePos_ = (dst + length) & mask_;
            return;
        }
        for (uint32_t k = 0; k < length; ++k) {
            const uint8_t b = w[src];
            w[dst] = b;
            *out_++ = b;
            src = (src + 1) & mask_;
            dst = (dst + 1) & mask_;
        }
        writePos_ = dst;
    }

  private:
    QuantumDecoder& d_;
    CallOutput& o_;
    uint8_t* const window_;
    const uint32_t mask_;
    const uint32_t size_;
    uint32_t writePos_;
    uint32_t total_;
    uint8_t* out_;
    uint32_t remaining_;
    bool overflow_ = false;
};

// The spill window keeps its state in the handle.
class SpillSink {
  public:
    SpillSink(QuantumDecoder& d, CallOutput& o) : d_(d), o_(o) {}
    uint32_t Remaining() const { return o_.remaining; }
    bool Failed() const { return o_.overflow || d_.spillError; }
    void Literal(uint8_t b) { SpillPutLiteral(d_, o_, b); }
    void Match(uint32_t length, uint32_t offset) { SpillCopyMatch(d_, o_, length, offset); }

  private:
    QuantumDecoder& d_;
    CallOutput& o_;
};

template <typename Sink>
bool DecodeItems(ModelSet& m, BitReader& bits, Sink& out) {
    Coder c{0, 0xFFFF, bits.Bits(16)};
    while (out.Remaining() != 0 && !bits.Exhausted()) {
        const unsigned selector = DecodeSymbol<kSelectorGroups>(m.selector, c, bits);
        if (selector < 4) {
            const unsigned b =
                DecodeSymbol<kLiteralGroups>(m.literal[selector], c, bits) + 64 * selector;
            out.Literal(uint8_t(b));
            continue;
        }
        uint32_t length;
        unsigned slot;
        if (selector == kSelectorMatch3) {
            length = 3;
            slot = DecodeSymbol<kPosition4Groups>(m.position4, c, bits);
        } else if (selector == kSelectorMatch4) {
            length = 4;
            slot = DecodeSymbol<kPosition5Groups>(m.position5, c, bits);
        } else {
            const unsigned lslot = DecodeSymbol<kLengthGroups>(m.length, c, bits);
            length = (kTables.lengthBase[lslot] + bits.Bits(kTables.lengthExtra[lslot]) +
                      kMinLongMatch) &
                     0xFFFF;
            slot = DecodeSymbol<kPosition6Groups>(m.position6, c, bits);
        }
        const uint32_t offset =
            kTables.positionBase[slot] + bits.Bits(kTables.positionExtra[slot]) + 1;
        out.Match(length, offset);
    }
    return !bits.Exhausted() && !out.Failed();
}

}  // namespace

bool DecodeBlock(QuantumDecoder& d, const uint8_t* input, uint32_t count, CallOutput& o) {
    // A spill failure stands until the next reset; the write page may be
    // left full, so nothing more may be decoded into it.
    if (d.spillError) return false;
    BitReader bits(input, count);
    if (d.spillMode) {
        SpillSink sink(d, o);
        return DecodeItems(d.models, bits, sink);
    }
    MemorySink sink(d, o);
    return DecodeItems(d.models, bits, sink);
}

}  // namespace quantum
