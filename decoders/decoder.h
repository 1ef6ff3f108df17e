// The contract between the extraction engine and its decoders.
//
// Each compression method supplies the same four operations in its own
// namespace (mszip::, lzx::, quantum::). Every decoder handle starts with a
// 4-byte signature that each operation checks and that destruction clears.
#pragma once

#include <cstdint>

#include "fdi/fdi.h"

namespace decoders {

enum DecoderResult : int {
    DECODER_ERROR_NONE = 0,
    DECODER_ERROR_NO_MEMORY = 1,
    DECODER_ERROR_BAD_PARAMETERS = 2,
    DECODER_ERROR_BUFFER_OVERFLOW = 3,
    DECODER_ERROR_FAILED = 4,
    DECODER_ERROR_CONFIGURATION = 5,
};

// The configuration record the engine hands to Quantum and LZX.
// Quantum: first = window bits, second = CPU type.
// LZX: first = window size in bytes, second carries nothing.
struct DecoderConfig {
    int32_t first;
    int32_t second;
};

// The file callbacks of the context; only the Quantum decoder uses them
// (for its spill window), the others ignore them.
struct DecoderFileCallbacks {
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
};

// maxOutput: in/out, the largest block output (the engine passes 32768).
// handle == nullptr is a size query: report *maxOutput and *inputSize and
// allocate nothing (alloc and free are then null too).
using DecoderCreateFn = int (*)(uint32_t* maxOutput, const DecoderConfig* config, PFNALLOC alloc,
                                PFNFREE free, uint32_t* inputSize, void** handle,
                                const DecoderFileCallbacks* files);
// size: in, as the engine passes it for the method; out, bytes produced.
using DecoderDecompressFn = int (*)(void* handle, const uint8_t* input, uint32_t inputCount,
                                    uint8_t* output, uint32_t* size);
using DecoderResetFn = int (*)(void* handle);
using DecoderDestroyFn = int (*)(void* handle);

struct DecoderOps {
    DecoderCreateFn create;
    DecoderDecompressFn decompress;
    DecoderResetFn reset;
    DecoderDestroyFn destroy;
};

}  // namespace decoders
