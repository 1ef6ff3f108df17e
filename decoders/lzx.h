// The LZX decoder behind the engine's decoder contract.
#pragma once

#include "decoders/decoder.h"

namespace lzx {

int DecoderCreate(uint32_t* maxOutput, const decoders::DecoderConfig* config, PFNALLOC alloc,
                  PFNFREE free, uint32_t* inputSize, void** handle,
                  const decoders::DecoderFileCallbacks* files);
int DecoderDecompress(void* handle, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                      uint32_t* size);
int DecoderReset(void* handle);
int DecoderDestroy(void* handle);

inline constexpr decoders::DecoderOps kOps{DecoderCreate, DecoderDecompress, DecoderReset,
                                           DecoderDestroy};

}  // namespace lzx
