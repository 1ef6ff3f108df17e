// The LZX decoder's handle and the state it carries from call to call.
#pragma once

#include <cstdint>

#include "decoders/lzx_bits.h"
#include "decoders/lzx_huffman.h"
#include "decoders/lzx_tables.h"
#include "fdi/fdi.h"

namespace lzx {

inline constexpr uint32_t kSignature = 0x4349444C;  // "LDIC"
// Bytes past the window proper: the mirror of positions 0..256 and 4 spare.
inline constexpr uint32_t kMirrorSize = 257;
inline constexpr uint32_t kWindowSlack = kMirrorSize + 4;

enum Phase : uint32_t { kPhaseHeader = 1, kPhaseBlock = 2 };

struct LzxState {
    uint8_t* window;
    uint32_t windowSize;
    uint32_t windowMask;
    uint32_t r0, r1, r2;

    HuffmanTable<kMaxMainSymbols, 11> mainTable;
    HuffmanTable<kLengthSymbols, 10> lengthTable;
    HuffmanTable<kAlignedSymbols, 7> alignedTable;
    HuffmanTable<kPretreeSymbols, 8> pretreeTable;

    uint8_t mainLengths[kMaxMainSymbols];
    uint8_t previousMainLengths[kMaxMainSymbols];
    uint8_t lengthLengths[kLengthSymbols];
    uint8_t previousLengthLengths[kLengthSymbols];
    uint8_t alignedLengths[kAlignedSymbols];

    // The current call's input; the bit reader for compressed data and the
    // byte position inside an uncompressed block.
    const uint8_t* input;
    uint32_t inputCount;
    BitReader bits;
    uint32_t rawPosition;

    uint32_t slots;
    uint32_t mainSymbols;  // 256 + 8 * slots
    bool e8HeaderPending;
    bool overrun;  // sticky until reset; see BitReader::Overrun
    uint32_t windowPosition;
    uint32_t translationSize;
    uint32_t translationPosition;
    uint32_t frames;
    uint32_t blockSize;
    uint32_t blockRemaining;
    uint32_t blockKind;
    uint32_t phase;

    PFNALLOC alloc;
    PFNFREE free;
};

struct LzxDecoder {
    uint32_t signature;
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    uint32_t maxBlock;
    LzxState* state;
};

// Forgets the previous folder (the window's bytes stay).
void ResetState(LzxState& state);
// Decodes one call of `wanted` bytes into `output`; false on any failure.
bool DecodeCall(LzxState& state, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                uint32_t wanted);
// Undoes the E8 translation of one frame in place (exposed for the compressor's tests).
void TranslateE8Frame(uint8_t* frame, uint32_t size, uint32_t translationSize,
                      uint32_t frameOffset);

}  // namespace lzx
