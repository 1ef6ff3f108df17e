// The Quantum decoder's four operations behind the engine's decoder contract.
#include "decoders/quantum.h"

#include <cstring>

#include "decoders/quantum_state.h"

namespace quantum {

using namespace decoders;

namespace {

QuantumDecoder* Valid(void* handle) {
    auto* d = static_cast<QuantumDecoder*>(handle);
    return d != nullptr && d->signature == kSignature ? d : nullptr;
}

}  // namespace

int DecoderCreate(uint32_t* maxOutput, const DecoderConfig* config, PFNALLOC alloc, PFNFREE free,
                  uint32_t* inputSize, void** handle, const DecoderFileCallbacks* files) {
    if (config == nullptr || config->first < kMinWindowBits || config->first > kMaxWindowBits)
        return DECODER_ERROR_CONFIGURATION;
    if (maxOutput == nullptr || inputSize == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    if (*maxOutput == 0 || *maxOutput > kMaxBlock) *maxOutput = kMaxBlock;
    *inputSize = *maxOutput + kInputSlack;
    if (handle == nullptr) return DECODER_ERROR_NONE;

    *handle = nullptr;
    if (alloc == nullptr || free == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    auto* d = static_cast<QuantumDecoder*>(alloc(sizeof(QuantumDecoder)));
    if (d == nullptr) return DECODER_ERROR_NO_MEMORY;
    std::memset(d, 0, sizeof *d);
    d->alloc = alloc;
    d->free = free;
    if (files != nullptr) d->files = *files;
    d->maxBlock = *maxOutput;
    d->cpuType = config->second;
    d->windowBits = config->first;
    d->windowSize = 1u << d->windowBits;
    d->windowMask = d->windowSize - 1;

    d->window = static_cast<uint8_t*>(alloc(d->windowSize));
    if (d->window != nullptr) {
        // Cleared so that a match reaching before the folder's first byte
        // copies zeros rather than whatever the allocator left there.
        std::memset(d->window, 0, d->windowSize);
    } else {
        d->spillMode = true;
        if (!SpillSetUp(*d)) {
            free(d);
            return DECODER_ERROR_NO_MEMORY;
        }
    }
    InitModels(d->models, d->windowBits);
    d->signature = kSignature;
    *handle = d;
    return DECODER_ERROR_NONE;
}

int DecoderDecompress(void* handle, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                      uint32_t* size) {
    QuantumDecoder* d = Valid(handle);
    if (d == nullptr || size == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    if (*size > d->maxBlock) return DECODER_ERROR_BUFFER_OVERFLOW;
    if ((input == nullptr && inputCount != 0) || (output == nullptr && *size != 0))
        return DECODER_ERROR_BAD_PARAMETERS;
    CallOutput o{output, *size, false};
    return DecodeBlock(*d, input, inputCount, o) ? DECODER_ERROR_NONE : DECODER_ERROR_FAILED;
}

int DecoderReset(void* handle) {
    QuantumDecoder* d = Valid(handle);
    if (d == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    d->total = 0;
    d->writePos = 0;
    d->spillError = false;
    if (d->spillMode) SpillResetCache(*d);
    InitModels(d->models, d->windowBits);
    return DECODER_ERROR_NONE;
}

int DecoderDestroy(void* handle) {
    QuantumDecoder* d = Valid(handle);
    if (d == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    if (d->spillMode)
        SpillRelease(*d);
    else
        d->free(d->window);
    d->signature = 0;
    d->free(d);
    return DECODER_ERROR_NONE;
}

}  // namespace quantum
