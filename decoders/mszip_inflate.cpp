#include "decoders/mszip_inflate.h"

#include <algorithm>
#include <cstring>

namespace mszip::detail {

namespace {

constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr unsigned kMaxMatch = 258;
// The fast loop runs while a whole match (plus the literals decoded after a
// refill) fits in the output, and a full 8-byte refill fits in the input.
constexpr ptrdiff_t kFastOutputMargin = kMaxMatch + 3;
constexpr ptrdiff_t kFastInputMargin = 8;

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;  // little-endian host
}

inline uint32_t EntryBits(uint32_t entry) {
    return entry & 0xFF;
}
inline uint32_t EntryExtra(uint32_t entry) {
    return (entry >> 8) & 0xF;
}
inline uint32_t EntryValue(uint32_t entry) {
    return entry >> 16;
}
inline uint64_t LowBits(uint64_t bits, uint32_t n) {
    return bits & ((uint64_t{1} << n) - 1);
}
// For an exceptional entry: end of block rather than an invalid code.
inline bool IsEndOfBlock(uint32_t entry) {
    return EntryValue(entry) == 0;
}

// Copies a match whose source lies wholly inside this block's output
// (distance <= bytes already produced). Writes exactly `length` bytes: the
// bytes after the match may be history that a later reference still needs.
inline void CopyMatch(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* src = out - distance;
    uint8_t* const end = out + length;
    if (distance >= length || distance >= 16) {
        // Every byte read was final before this copy started, or lies at
        // least one chunk behind the write position.
        if (length >= 16) {
            while (end - out > 16) {
                std::memcpy(out, src, 16);
                out += 16;
                src += 16;
            }
            std::memcpy(end - 16, end - 16 - distance, 16);
        } else if (length >= 8) {
            uint64_t a, b;
            std::memcpy(&a, src, 8);
            std::memcpy(&b, end - 8 - distance, 8);
            std::memcpy(out, &a, 8);
            std::memcpy(end - 8, &b, 8);
        } else if (length >= 4) {
            uint32_t a, b;
            std::memcpy(&a, src, 4);
            std::memcpy(&b, end - 4 - distance, 4);
            std::memcpy(out, &a, 4);
            std::memcpy(end - 4, &b, 4);
        } else {
            while (out < end) *out++ = *src++;
        }
    } else if (distance >= 8) {
        while (end - out > 8) {
            std::memcpy(out, src, 8);
            out += 8;
            src += 8;
        }
        std::memcpy(end - 8, end - 8 - distance, 8);
    } else if (distance == 1) {
        std::memset(out, out[-1], length);
    } else {
        while (out < end) *out++ = *src++;
    }
}

enum class Outcome { kBlockEnd, kOutputFull, kFailed };

class Inflater {
  public:
    Inflater(DynamicTables& tables, const InflateJob& job)
        : tables_(tables),
          inBegin_(job.input),
          in_(job.input),
          inEnd_(job.input + job.inputSize),
          outBegin_(job.output),
          out_(job.output),
          outEnd_(job.output + job.space),
          history_(job.history) {}

    bool Run() {
        while (out_ < outEnd_) {
            EnsureBits(3);
            const bool final = TakeBits(1) != 0;
            const uint32_t type = static_cast<uint32_t>(TakeBits(2));
            Outcome outcome = Outcome::kFailed;
            if (type == 0) {
                outcome = StoredBlock();
            } else if (type == 1) {
                const FixedTables& fixed = GetFixedTables();
                outcome = HuffmanBlock(fixed.litLen, fixed.distance);
            } else if (type == 2) {
                outcome = ReadDynamicTables() ? HuffmanBlock(tables_.litLen, tables_.distance)
                                              : Outcome::kFailed;
            }
            if (outcome == Outcome::kFailed) return false;
            if (outcome == Outcome::kOutputFull || final) break;
        }
        return true;
    }

    uint32_t Produced() const { return static_cast<uint32_t>(out_ - outBegin_); }

  private:
    // Fills the bit buffer to at least 56 bits. Past the end of the input it
    // appends zero bytes: lookahead beyond the payload reads zeros.
    void RefillSlow() {
        while (bitCount_ <= 56) {
            uint64_t byte = 0;
            if (in_ < inEnd_) {
                byte = *in_++;
            } else {
                ++overrun_;
            }
            bits_ |= byte << bitCount_;
            bitCount_ += 8;
        }
    }
    void EnsureBits(uint32_t n) {
        if (bitCount_ < n) RefillSlow();
    }
    uint64_t TakeBits(uint32_t n) {
        const uint64_t v = LowBits(bits_, n);
        bits_ >>= n;
        bitCount_ -= n;
        return v;
    }

    Outcome StoredBlock() {
        TakeBits(bitCount_ & 7);
        // Byte position of the first unused bit; the buffer holds whole bytes now.
        const size_t inputSize = static_cast<size_t>(inEnd_ - inBegin_);
        size_t pos = static_cast<size_t>(in_ - inBegin_) + overrun_ - bitCount_ / 8;
        // LEN and NLEN must be real input: if any of their bytes lay past the
        // end, NLEN's high byte would read as zero and LEN would claim more
        // bytes than remain, so the block fails either way.
        if (pos + 4 > inputSize) return Outcome::kFailed;
        const uint32_t len = inBegin_[pos] | (uint32_t{inBegin_[pos + 1]} << 8);
        const uint32_t nlen = inBegin_[pos + 2] | (uint32_t{inBegin_[pos + 3]} << 8);
        pos += 4;
        if (nlen != (~len & 0xFFFF)) return Outcome::kFailed;
        const size_t copy = std::min<size_t>(len, static_cast<size_t>(outEnd_ - out_));
        if (copy > inputSize - pos) return Outcome::kFailed;  // would read past the payload
        std::memcpy(out_, inBegin_ + pos, copy);
        out_ += copy;
        if (copy < len) return Outcome::kOutputFull;
        in_ = inBegin_ + pos + len;
        bits_ = 0;
        bitCount_ = 0;
        overrun_ = 0;
        return out_ == outEnd_ ? Outcome::kOutputFull : Outcome::kBlockEnd;
    }

    bool ReadDynamicTables() {
        EnsureBits(14);
        const uint32_t litLenCount = static_cast<uint32_t>(TakeBits(5)) + 257;
        const uint32_t distanceCount = static_cast<uint32_t>(TakeBits(5)) + 1;
        const uint32_t codeLengthCount = static_cast<uint32_t>(TakeBits(4)) + 4;
        if (litLenCount > 286 || distanceCount > 30) return false;

        uint8_t codeLengthLengths[kCodeLengthSymbols] = {};
        for (uint32_t i = 0; i < codeLengthCount; ++i) {
            EnsureBits(3);
            codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(TakeBits(3));
        }
        if (BuildTable(codeLengthLengths, kCodeLengthSymbols, SymbolKind::kCodeLength,
                       kCodeLengthRootBits, tables_.codeLength,
                       kCodeLengthTableSize) != BuildResult::kOk)
            return false;

        // Literal/length and distance lengths form one sequence; repeats may
        // cross from one into the other.
        uint8_t lengths[286 + 30];
        const uint32_t total = litLenCount + distanceCount;
        uint32_t i = 0;
        uint8_t previous = 0;
        while (i < total) {
            EnsureBits(kCodeLengthRootBits + 7);
            const uint32_t entry = tables_.codeLength[LowBits(bits_, kCodeLengthRootBits)];
            if (entry & kEntryExceptional) return false;
            TakeBits(EntryBits(entry));
            const uint32_t symbol = EntryValue(entry);
            if (symbol < 16) {
                lengths[i++] = static_cast<uint8_t>(symbol);
                previous = static_cast<uint8_t>(symbol);
                continue;
            }
            uint32_t repeat;
            uint8_t value = 0;
            if (symbol == 16) {
                repeat = 3 + static_cast<uint32_t>(TakeBits(2));
                value = previous;
            } else if (symbol == 17) {
                repeat = 3 + static_cast<uint32_t>(TakeBits(3));
            } else {
                repeat = 11 + static_cast<uint32_t>(TakeBits(7));
            }
            if (repeat > total - i) return false;
            std::memset(lengths + i, value, repeat);
            i += repeat;
            previous = value;
        }
        return BuildTable(lengths, litLenCount, SymbolKind::kLitLen, kLitLenRootBits,
                          tables_.litLen, kLitLenTableSize) == BuildResult::kOk &&
               BuildTable(lengths + litLenCount, distanceCount, SymbolKind::kDistance,
                          kDistanceRootBits, tables_.distance,
                          kDistanceTableSize) == BuildResult::kOk;
    }

    // A match whose source starts before this block's output: the part up
    // to the block start comes from the tail of the buffer, which must hold
    // bytes this folder wrote earlier.
    bool CopyFromHistory(uint8_t* out, size_t distance, size_t length) {
        const size_t produced = static_cast<size_t>(out - outBegin_);
        const size_t slot = produced + kWindowSize - distance;
        const size_t fromTail = std::min(length, distance - produced);
        if (slot + fromTail > history_) return false;
        std::memmove(out, outBegin_ + slot, fromTail);
        if (length > fromTail) CopyMatch(out + fromTail, distance, length - fromTail);
        return true;
    }

    Outcome HuffmanBlock(const uint32_t* litLen, const uint32_t* distance);

    DynamicTables& tables_;
    const uint8_t* const inBegin_;
    const uint8_t* in_;
    const uint8_t* const inEnd_;
    uint8_t* const outBegin_;
    uint8_t* out_;
    uint8_t* const outEnd_;
    const uint32_t history_;
    uint64_t bits_ = 0;
    uint32_t bitCount_ = 0;
    size_t overrun_ = 0;  // zero bytes appended past the end of the input
};

// Looks up the next symbol of `table`, following a sub-table link, and drops
// its codeword bits. Needs at least 15 bits in the buffer.
#define MSZIP_DECODE_ENTRY(table, rootBits, entry)                                 \
    do {                                                                           \
        entry = (table)[LowBits(bits, rootBits)];                                  \
        if (entry & kEntrySubtable) {                                              \
            bits >>= (rootBits);                                                   \
            bitCount -= (rootBits);                                                \
            entry = (table)[EntryValue(entry) + LowBits(bits, EntryExtra(entry))]; \
        }                                                                          \
        bits >>= EntryBits(entry);                                                 \
        bitCount -= EntryBits(entry);                                              \
    } while (0)

Outcome Inflater::HuffmanBlock(const uint32_t* litLen, const uint32_t* distanceTable) {
    // Locals, not members: stores through the byte pointers below could
    // otherwise alias them and force reloads in the hot loop.
    const uint8_t* in = in_;
    const uint8_t* const inEnd = inEnd_;
    uint8_t* out = out_;
    uint8_t* const outBegin = outBegin_;
    uint8_t* const outEnd = outEnd_;
    uint64_t bits = bits_;
    uint32_t bitCount = bitCount_;
    Outcome outcome = Outcome::kFailed;

    // Fast loop: one branch-free 8-byte refill gives at least 56 bits, enough
    // for a whole match (15 + 5 + 15 + 13 bits) or up to three literals.
    while (inEnd - in >= kFastInputMargin && outEnd - out >= kFastOutputMargin) {
        bits |= Load64(in) << bitCount;
        in += (63 - bitCount) >> 3;
        bitCount |= 56;

        uint32_t entry;
        MSZIP_DECODE_ENTRY(litLen, kLitLenRootBits, entry);
        if (entry & kEntryLiteral) {
            *out++ = static_cast<uint8_t>(EntryValue(entry));
            entry = litLen[LowBits(bits, kLitLenRootBits)];
            if (entry & kEntryLiteral) {
                bits >>= EntryBits(entry);
                bitCount -= EntryBits(entry);
                *out++ = static_cast<uint8_t>(EntryValue(entry));
                entry = litLen[LowBits(bits, kLitLenRootBits)];
                if (entry & kEntryLiteral) {
                    bits >>= EntryBits(entry);
                    bitCount -= EntryBits(entry);
                    *out++ = static_cast<uint8_t>(EntryValue(entry));
                }
            }
            continue;
        }
        if (entry & kEntryExceptional) {
            outcome = IsEndOfBlock(entry) ? Outcome::kBlockEnd : Outcome::kFailed;
            goto done;
        }
        const uint32_t lengthExtra = EntryExtra(entry);
        const size_t length = EntryValue(entry) + LowBits(bits, lengthExtra);
        bits >>= lengthExtra;
        bitCount -= lengthExtra;

        MSZIP_DECODE_ENTRY(distanceTable, kDistanceRootBits, entry);
        if (entry & kEntryExceptional)
            goto done;  // invalid distance code, or no distance code at all
        const uint32_t distanceExtra = EntryExtra(entry);
        const size_t distance = EntryValue(entry) + LowBits(bits, distanceExtra);
        bits >>= distanceExtra;
        bitCount -= distanceExtra;

        if (distance <= static_cast<size_t>(out - outBegin)) {
            CopyMatch(out, distance, length);
        } else if (!CopyFromHistory(out, distance, length)) {
            goto done;
        }
        out += length;
    }

    // Slow loop near the ends of the buffers: refills a byte at a time (zeros
    // past the input) and checks the output space on every byte.
    in_ = in;
    bits_ = bits;
    bitCount_ = bitCount;
    for (;;) {
        RefillSlow();
        in = in_;
        bits = bits_;
        bitCount = bitCount_;

        uint32_t entry;
        MSZIP_DECODE_ENTRY(litLen, kLitLenRootBits, entry);
        if (entry & kEntryLiteral) {
            *out++ = static_cast<uint8_t>(EntryValue(entry));
            if (out == outEnd) {
                outcome = Outcome::kOutputFull;
                goto done;
            }
        } else if (entry & kEntryExceptional) {
            outcome = IsEndOfBlock(entry) ? Outcome::kBlockEnd : Outcome::kFailed;
            goto done;
        } else {
            const uint32_t lengthExtra = EntryExtra(entry);
            size_t length = EntryValue(entry) + LowBits(bits, lengthExtra);
            bits >>= lengthExtra;
            bitCount -= lengthExtra;

            MSZIP_DECODE_ENTRY(distanceTable, kDistanceRootBits, entry);
            if (entry & kEntryExceptional) goto done;
            const uint32_t distanceExtra = EntryExtra(entry);
            const size_t distance = EntryValue(entry) + LowBits(bits, distanceExtra);
            bits >>= distanceExtra;
            bitCount -= distanceExtra;

            // Only as much of the match as the output takes is copied.
            length = std::min(length, static_cast<size_t>(outEnd - out));
            if (distance <= static_cast<size_t>(out - outBegin)) {
                CopyMatch(out, distance, length);
            } else if (!CopyFromHistory(out, distance, length)) {
                goto done;
            }
            out += length;
            if (out == outEnd) {
                outcome = Outcome::kOutputFull;
                goto done;
            }
        }
        bits_ = bits;
        bitCount_ = bitCount;
    }

done:
    in_ = in;
    out_ = out;
    bits_ = bits;
    bitCount_ = bitCount;
    return outcome;
}

#undef MSZIP_DECODE_ENTRY

}  // namespace

bool Inflate(DynamicTables& tables, const InflateJob& job, uint32_t* produced) {
    Inflater inflater(tables, job);
    const bool ok = inflater.Run();
    *produced = inflater.Produced();
    return ok;
}

}  // namespace mszip::detail
