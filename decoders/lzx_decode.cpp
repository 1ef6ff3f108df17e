// LZX decoding of one call: block headers, tree lengths, compressed and
// uncompressed runs into the window, and the E8 translation of the frame.
#include <algorithm>
#include <cstring>

#include "decoders/lzx_state.h"

namespace lzx {

namespace {

uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// A 32-bit little-endian value at a byte offset of the input; bytes past the
// data read as zeros.
uint32_t InputLe32(const LzxState& s, uint64_t at) {
    uint8_t b[4];
    for (uint32_t i = 0; i < 4; ++i) b[i] = at + i < s.inputCount ? s.input[at + i] : 0;
    return LoadLe32(b);
}

bool Overrun(const LzxState& s) {
    return s.overrun || s.bits.Overrun();
}

// The reader is about to be replaced: keep what it overran.
void RetireReader(LzxState& s) {
    s.overrun = s.overrun || s.bits.Overrun();
}

template <typename Table>
uint32_t DecodeSymbol(BitReader& bits, const Table& table) {
    bits.Ensure();
    uint32_t length;
    uint32_t symbol = table.Decode(bits.Peek16(), &length);
    bits.Consume(length);
    return symbol;
}

// Reads `count` code lengths as deltas against `previous` through a pretree.
bool ReadTreeLengths(LzxState& s, uint8_t* lengths, const uint8_t* previous, uint32_t count) {
    BitReader& bits = s.bits;
    uint8_t pretree[kPretreeSymbols];
    for (uint8_t& len : pretree) len = static_cast<uint8_t>(bits.Read(4));
    if (Overrun(s) || !s.pretreeTable.Build(pretree, kPretreeSymbols)) return false;

    uint32_t i = 0;
    while (i < count) {
        uint32_t symbol = DecodeSymbol(bits, s.pretreeTable);
        if (Overrun(s)) return false;
        if (symbol <= 16) {
            lengths[i] = DeltaLength(previous[i], symbol);
            ++i;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (symbol == 17) {
            run = bits.Read(4) + 4;
        } else if (symbol == 18) {
            run = bits.Read(5) + 20;
        } else {
            run = bits.Read(1) + 4;
            // A delta symbol of 17 to 19 here is meaningless; the formula
            // still gives a length from 0 to 16.
            value = DeltaLength(previous[i], DecodeSymbol(bits, s.pretreeTable));
        }
        run = std::min(run, count - i);  // runs are cut at the end of the range
        std::memset(lengths + i, value, run);
        i += run;
    }
    return !Overrun(s);
}

bool ReadBlockHeader(LzxState& s) {
    BitReader& bits = s.bits;
    if (s.e8HeaderPending) {
        s.e8HeaderPending = false;
        if (bits.Read(1) != 0) {
            uint32_t high = bits.Read(16);
            s.translationSize = (high << 16) | bits.Read(16);
        } else {
            s.translationSize = 0;
        }
    }
    if (s.blockKind == kBlockUncompressed) {
        // An odd-sized uncompressed block is followed by one pad byte.
        if ((s.blockSize & 1) != 0 && uint64_t{s.rawPosition} < uint64_t{s.inputCount} + 4)
            ++s.rawPosition;
        s.blockKind = kBlockNone;
        RetireReader(s);
        s.bits.Prime(s.input, s.inputCount, s.rawPosition);
    }

    s.blockKind = bits.Read(3);
    uint32_t size = bits.Read(8) << 16;
    size |= bits.Read(8) << 8;
    size |= bits.Read(8);
    s.blockSize = size;
    s.blockRemaining = size;

    switch (s.blockKind) {
        case kBlockAligned:
            for (uint8_t& len : s.alignedLengths) len = static_cast<uint8_t>(bits.Read(3));
            if (Overrun(s) || !s.alignedTable.Build(s.alignedLengths, kAlignedSymbols))
                return false;
            [[fallthrough]];
        case kBlockVerbatim:
            std::memcpy(s.previousMainLengths, s.mainLengths, s.mainSymbols);
            std::memcpy(s.previousLengthLengths, s.lengthLengths, kLengthSymbols);
            if (!ReadTreeLengths(s, s.mainLengths, s.previousMainLengths, kNumChars) ||
                !ReadTreeLengths(s, s.mainLengths + kNumChars, s.previousMainLengths + kNumChars,
                                 s.mainSymbols - kNumChars) ||
                !s.mainTable.Build(s.mainLengths, s.mainSymbols) ||
                !ReadTreeLengths(s, s.lengthLengths, s.previousLengthLengths, kLengthSymbols) ||
                !s.lengthTable.Build(s.lengthLengths, kLengthSymbols))
                return false;
            break;
        case kBlockUncompressed: {
            // Back to the first word boundary after the header: 1 to 16 padding bits.
            uint64_t at = s.bits.WordAheadPosition() - 2;
            if (at >= s.inputCount) return false;
            s.r0 = InputLe32(s, at);
            s.r1 = InputLe32(s, at + 4);
            s.r2 = InputLe32(s, at + 8);
            at += 12;
            s.rawPosition =
                static_cast<uint32_t>(std::min<uint64_t>(at, uint64_t{s.inputCount} + 4));
            break;
        }
        default:
            return false;
    }
    s.phase = kPhaseBlock;
    return true;
}

// Copies 2 to 257 bytes between regions that do not overlap, writing
// exactly the destination bytes.
inline void CopyDisjoint(uint8_t* dst, const uint8_t* src, uint32_t length) {
    if (length > 16) {
        std::memcpy(dst, src, length);
    } else if (length >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + length - 8, 8);
        std::memcpy(dst, &head, 8);
        std::memcpy(dst + length - 8, &tail, 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + length - 4, 4);
        std::memcpy(dst, &head, 4);
        std::memcpy(dst + length - 4, &tail, 4);
    } else {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[length - 1] = src[length - 1];
    }
}

// Copies a match of `length` bytes from `distance` back to window position p,
// byte by byte in effect, so overlapping matches repeat their pattern.
inline void CopyMatch(uint8_t* window, uint32_t size, uint32_t mask, uint32_t p, uint32_t distance,
                      uint32_t length) {
    uint32_t src = (p - distance) & mask;
    uint8_t* dst = window + p;
    if (p < kMirrorSize) {
        // Every source index wraps and the bytes below 257 go to the mirror too.
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t b = window[(src + i) & mask];
            dst[i] = b;
            if (p + i < kMirrorSize) window[size + p + i] = b;
        }
        return;
    }
    // From 257 on the destination never touches the mirror, and the mirror
    // supplies the source bytes that run past the window's end.
    if (src < p) {
        uint32_t gap = p - src;
        const uint8_t* from = window + src;
        if (gap >= length) {
            CopyDisjoint(dst, from, length);
        } else if (gap == 1) {
            std::memset(dst, *from, length);
        } else if (gap >= 8) {
            // Each 8-byte chunk reads only bytes already final; the last one
            // overlaps the previous chunk instead of running past the end.
            uint32_t i = 0;
            for (; i + 8 <= length; i += 8) std::memcpy(dst + i, from + i, 8);
            if (i < length) std::memcpy(dst + length - 8, from + length - 8, 8);
        } else {
            for (uint32_t i = 0; i < length; ++i) dst[i] = from[i];
        }
    } else if (src > p) {
        // The source lies ahead of the destination: older bytes, read before
        // they are overwritten.
        std::memmove(dst, window + src, length);
    }
    // src == p: a distance of a whole window leaves the bytes as they are.
}

template <bool kAligned>
bool CompressedRun(LzxState& s, uint32_t p, uint32_t target) {
    BitReader bits = s.bits;
    uint8_t* const window = s.window;
    const uint32_t size = s.windowSize;
    const uint32_t mask = s.windowMask;
    uint32_t r0 = s.r0, r1 = s.r1, r2 = s.r2;
    bool ok = true;

    while (p < target) {
        if (!bits.SymbolAllowed()) {
            ok = false;
            break;
        }
        bits.Ensure();
        uint32_t codeLength;
        uint32_t main = s.mainTable.Decode(bits.Peek16(), &codeLength);
        bits.Consume(codeLength);
        if (main < kNumChars) {
            if (p < kMirrorSize) window[size + p] = static_cast<uint8_t>(main);
            window[p++] = static_cast<uint8_t>(main);
            continue;
        }
        main -= kNumChars;
        uint32_t length = main & 7;
        const uint32_t slot = main >> 3;
        if (length == 7) {
            uint32_t extra = s.lengthTable.Decode(bits.Peek16(), &codeLength);
            bits.Consume(codeLength);
            length += extra;
        }
        length += kMinMatch;

        uint32_t distance;
        if (slot == 0) {
            distance = r0;
        } else if (slot == 1) {
            std::swap(r0, r1);
            distance = r0;
        } else if (slot == 2) {
            std::swap(r0, r2);
            distance = r0;
        } else {
            if (slot == 3) {
                distance = 1;
            } else {
                const uint32_t extraBits = kExtraBits[slot];
                distance = kPositionBase[slot];
                bits.Ensure();
                if (!kAligned || extraBits < 3) {
                    distance += bits.Take(extraBits);
                } else {
                    if (extraBits > 3) distance += bits.Take(extraBits - 3) << 3;
                    bits.Ensure();
                    distance += s.alignedTable.Decode(bits.Peek16(), &codeLength);
                    bits.Consume(codeLength);
                }
            }
            r2 = r1;
            r1 = r0;
            r0 = distance;
        }
        if (length > target - p) {  // a match may not pass the block's or the call's end
            ok = false;
            break;
        }
        CopyMatch(window, size, mask, p, distance, length);
        p += length;
    }
    s.bits = bits;
    s.r0 = r0;
    s.r1 = r1;
    s.r2 = r2;
    return ok;
}

bool UncompressedRun(LzxState& s, uint32_t p, uint32_t n) {
    const uint64_t inputEnd = uint64_t{s.inputCount} + 4;  // bytes past the data are zeros
    uint64_t at = s.rawPosition;
    uint64_t available = inputEnd > at ? inputEnd - at : 0;
    uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(n, available));
    uint32_t real =
        at < s.inputCount ? static_cast<uint32_t>(std::min<uint64_t>(take, s.inputCount - at)) : 0;
    if (real > 0) std::memcpy(s.window + p, s.input + at, real);
    std::memset(s.window + p + real, 0, take - real);
    if (p < kMirrorSize)
        std::memcpy(s.window + s.windowSize + p, s.window + p, std::min(take, kMirrorSize - p));
    s.rawPosition = static_cast<uint32_t>(at + take);
    return take == n;
}

bool DecodeFrame(LzxState& s, uint32_t wanted) {
    if (uint64_t{s.windowPosition} + wanted > s.windowSize) return false;  // frames must not wrap
    uint32_t p = s.windowPosition;
    while (wanted > 0) {
        if (s.phase == kPhaseHeader && !ReadBlockHeader(s)) return false;
        while (s.blockRemaining > 0 && wanted > 0) {
            uint32_t n = std::min(s.blockRemaining, wanted);
            bool ok;
            switch (s.blockKind) {
                case kBlockVerbatim:
                    ok = CompressedRun<false>(s, p, p + n);
                    break;
                case kBlockAligned:
                    ok = CompressedRun<true>(s, p, p + n);
                    break;
                default:
                    ok = UncompressedRun(s, p, n);
                    break;
            }
            if (!ok) return false;
            p += n;
            wanted -= n;
            s.blockRemaining -= n;
            s.windowPosition = p & s.windowMask;
        }
        if (s.blockRemaining == 0) s.phase = kPhaseHeader;
    }
    return true;
}

}  // namespace

void ResetState(LzxState& s) {
    std::memset(s.mainLengths, 0, sizeof s.mainLengths);
    std::memset(s.previousMainLengths, 0, sizeof s.previousMainLengths);
    std::memset(s.lengthLengths, 0, sizeof s.lengthLengths);
    std::memset(s.previousLengthLengths, 0, sizeof s.previousLengthLengths);
    s.r0 = s.r1 = s.r2 = 1;
    s.windowPosition = 0;
    s.phase = kPhaseHeader;
    s.blockRemaining = 0;
    s.blockSize = 0;
    s.blockKind = kBlockNone;
    s.e8HeaderPending = true;
    s.translationSize = 0;
    s.overrun = false;
    s.translationPosition = 0;
    s.frames = 0;
    s.bits = BitReader{};
}

void TranslateE8Frame(uint8_t* frame, uint32_t size, uint32_t translationSize,
                      uint32_t frameOffset) {
    if (size < 6) return;
    // The last 6 bytes read as 0xE8 during the scan: the scan needs no bounds
    // test, and an E8 among the last 10 bytes sees 0xE8 in its operand where
    // the operand reaches them. Compressors rely on exactly this.
    uint8_t saved[6];
    uint8_t* tail = frame + size - 6;
    std::memcpy(saved, tail, 6);
    std::memset(tail, 0xE8, 6);
    uint8_t* at = frame;
    for (;;) {
        at = static_cast<uint8_t*>(std::memchr(at, 0xE8, static_cast<size_t>(frame + size - at)));
        if (at >= tail) break;
        const uint32_t current = frameOffset + static_cast<uint32_t>(at - frame);
        uint32_t value = LoadLe32(at + 1);
        if (value < translationSize) {
            StoreLe32(at + 1, value - current);
        } else if (0u - value <= current) {
            StoreLe32(at + 1, value + translationSize);
        }
        at += 5;
    }
    std::memcpy(tail, saved, 6);
}

bool DecodeCall(LzxState& s, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                uint32_t wanted) {
    s.input = input;
    s.inputCount = inputCount;
    const uint32_t start = s.windowPosition;
    if (s.blockKind == kBlockUncompressed) {
        // An uncompressed block in progress continues at the start of this input.
        s.rawPosition = 0;
    } else {
        RetireReader(s);
        s.bits.Prime(input, inputCount, 0);
    }
    bool ok = DecodeFrame(s, wanted);
    RetireReader(s);
    if (ok && wanted > 0) {
        std::memcpy(output, s.window + start, wanted);
        if (s.translationSize != 0 && s.frames < kE8FrameLimit) {
            TranslateE8Frame(output, wanted, s.translationSize, s.translationPosition);
            s.translationPosition += wanted;
        }
    }
    ++s.frames;
    return ok;
}

}  // namespace lzx
