// The LZX decoder's four contract operations.
#include "decoders/lzx.h"

#include <cstring>
#include <new>

#include "decoders/lzx_state.h"

namespace lzx {

namespace {

using decoders::DECODER_ERROR_BAD_PARAMETERS;
using decoders::DECODER_ERROR_BUFFER_OVERFLOW;
using decoders::DECODER_ERROR_CONFIGURATION;
using decoders::DECODER_ERROR_FAILED;
using decoders::DECODER_ERROR_NO_MEMORY;
using decoders::DECODER_ERROR_NONE;

// Room for a block's compressed form beyond its output size.
constexpr uint32_t kInputSlack = 6144;

LzxDecoder* CheckedHandle(void* handle) {
    auto* h = static_cast<LzxDecoder*>(handle);
    return h != nullptr && h->signature == kSignature ? h : nullptr;
}

bool SupportedWindow(int32_t size) {
    for (uint32_t bits = kMinWindowBits; bits <= kMaxWindowBits; ++bits)
        if (static_cast<int64_t>(size) == (int64_t{1} << bits)) return true;
    return false;
}

}  // namespace

int DecoderCreate(uint32_t* maxOutput, const decoders::DecoderConfig* config, PFNALLOC alloc,
                  PFNFREE free, uint32_t* inputSize, void** handle,
                  const decoders::DecoderFileCallbacks* files) {
    if (maxOutput == nullptr || inputSize == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    *inputSize = *maxOutput + kInputSlack;
    if (handle == nullptr) return DECODER_ERROR_NONE;  // the engine's size query

    *handle = nullptr;
    if (alloc == nullptr || free == nullptr || config == nullptr)
        return DECODER_ERROR_BAD_PARAMETERS;
    // The state holds at most 50 position slots, and every frame must fit
    // between a multiple of 32768 and the window's end.
    if (!SupportedWindow(config->first)) return DECODER_ERROR_CONFIGURATION;
    const auto windowSize = static_cast<uint32_t>(config->first);

    void* handleMemory = alloc(sizeof(LzxDecoder));
    if (handleMemory == nullptr) return DECODER_ERROR_NO_MEMORY;
    void* stateMemory = alloc(sizeof(LzxState));
    if (stateMemory == nullptr) {
        free(handleMemory);
        return DECODER_ERROR_NO_MEMORY;
    }
    auto* window = static_cast<uint8_t*>(alloc(windowSize + kWindowSlack));
    if (window == nullptr) {
        free(stateMemory);
        free(handleMemory);
        return DECODER_ERROR_NO_MEMORY;
    }
    // A match reaching before the first byte ever decoded reads zeros.
    std::memset(window, 0, windowSize + kWindowSlack);

    auto* state = new (stateMemory) LzxState{};
    state->window = window;
    state->windowSize = windowSize;
    state->windowMask = windowSize - 1;
    state->slots = SlotCount(windowSize);
    state->mainSymbols = kNumChars + 8 * state->slots;
    state->alloc = alloc;
    state->free = free;
    ResetState(*state);

    auto* h = new (handleMemory) LzxDecoder{};
    h->alloc = alloc;
    h->free = free;
    if (files != nullptr) {
        h->open = files->open;
        h->read = files->read;
        h->write = files->write;
        h->close = files->close;
        h->seek = files->seek;
    }
    h->maxBlock = *maxOutput;
    h->state = state;
    h->signature = kSignature;
    *handle = h;
    return DECODER_ERROR_NONE;
}

int DecoderDecompress(void* handle, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                      uint32_t* size) {
    LzxDecoder* h = CheckedHandle(handle);
    if (h == nullptr || size == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    const uint32_t wanted = *size;
    if (wanted > h->maxBlock) return DECODER_ERROR_BUFFER_OVERFLOW;
    if ((input == nullptr && inputCount != 0) || (output == nullptr && wanted != 0))
        return DECODER_ERROR_BAD_PARAMETERS;
    if (!DecodeCall(*h->state, input, inputCount, output, wanted)) {
        *size = 0;
        return DECODER_ERROR_FAILED;
    }
    *size = wanted;
    return DECODER_ERROR_NONE;
}

int DecoderReset(void* handle) {
    LzxDecoder* h = CheckedHandle(handle);
    if (h == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    ResetState(*h->state);
    return DECODER_ERROR_NONE;
}

int DecoderDestroy(void* handle) {
    LzxDecoder* h = CheckedHandle(handle);
    if (h == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    LzxState* state = h->state;
    PFNFREE free = h->free;
    free(state->window);
    state->window = nullptr;
    h->signature = 0;
    free(state);
    free(h);
    return DECODER_ERROR_NONE;
}

}  // namespace lzx
