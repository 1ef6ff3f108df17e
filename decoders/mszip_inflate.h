// Decoding of one MSZIP data block: a complete deflate stream (the bytes after
// "CK") decoded into the engine's output buffer, which doubles as the
// 32768-byte history window of the folder.
#pragma once

#include <cstddef>
#include <cstdint>

#include "decoders/mszip_huffman.h"

namespace mszip::detail {

inline constexpr uint32_t kWindowSize = 32768;

// Tables of the dynamic deflate blocks, rebuilt in place for each block.
struct DynamicTables {
    uint32_t litLen[kLitLenTableSize];
    uint32_t distance[kDistanceTableSize];
    uint32_t codeLength[kCodeLengthTableSize];
};

struct InflateJob {
    const uint8_t* input;  // the deflate stream
    size_t inputSize;
    uint8_t* output;  // start of the engine's output buffer
    uint32_t space;   // bytes that may be written in this call
    // Bytes at the start of the buffer that earlier blocks of this folder
    // wrote; a back-reference past the start of this block's output may only
    // read those (the buffer is used as a ring of kWindowSize bytes).
    uint32_t history;
};

// Decodes until a final deflate block ends or `space` bytes are written.
// Returns false for damaged data; *produced gets the bytes written either way.
bool Inflate(DynamicTables& tables, const InflateJob& job, uint32_t* produced);

}  // namespace mszip::detail
