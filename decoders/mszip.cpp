// The MSZIP decoder behind the engine's decoder contract. Each data block is
// "CK" followed by a complete deflate stream; the engine's 32768-byte output
// buffer is both the block's destination and the folder's history window.
#include "decoders/mszip.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "decoders/mszip_inflate.h"

namespace mszip {

namespace {

using decoders::DECODER_ERROR_BAD_PARAMETERS;
using decoders::DECODER_ERROR_BUFFER_OVERFLOW;
using decoders::DECODER_ERROR_FAILED;
using decoders::DECODER_ERROR_NO_MEMORY;
using decoders::DECODER_ERROR_NONE;

constexpr char kSignature[4] = {'M', 'D', 'I', 'C'};
constexpr uint32_t kMaxBlockOutput = detail::kWindowSize;
constexpr uint32_t kInputSlack = 12;  // a deflate stream may be slightly larger than its output

struct DecoderState {
    detail::DynamicTables tables;
    // Which buffer holds this folder's history and how many bytes at its
    // start the folder has written; back-references may read only those.
    const uint8_t* historyBuffer;
    uint32_t historyBytes;
};

struct DecoderHandle {
    char signature[4];
    PFNFREE free;
    uint32_t maxOutput;
    DecoderState* state;
};

DecoderHandle* CheckedHandle(void* handle) {
    auto* h = static_cast<DecoderHandle*>(handle);
    if (h == nullptr || std::memcmp(h->signature, kSignature, sizeof kSignature) != 0)
        return nullptr;
    return h;
}

}  // namespace

int DecoderCreate(uint32_t* maxOutput, const decoders::DecoderConfig* /*config*/, PFNALLOC alloc,
                  PFNFREE free, uint32_t* inputSize, void** handle,
                  const decoders::DecoderFileCallbacks* /*files*/) {
    if (maxOutput == nullptr || inputSize == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    if (*maxOutput == 0 || *maxOutput > kMaxBlockOutput) *maxOutput = kMaxBlockOutput;
    *inputSize = *maxOutput + kInputSlack;
    if (handle == nullptr) return DECODER_ERROR_NONE;

    *handle = nullptr;
    if (alloc == nullptr || free == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    void* handleMemory = alloc(sizeof(DecoderHandle));
    if (handleMemory == nullptr) return DECODER_ERROR_NO_MEMORY;
    void* stateMemory = alloc(sizeof(DecoderState));
    if (stateMemory == nullptr) {
        free(handleMemory);
        return DECODER_ERROR_NO_MEMORY;
    }
    auto* state = new (stateMemory) DecoderState{};
    detail::GetFixedTables();  // built once per process, here rather than in the first block

    auto* h = new (handleMemory) DecoderHandle{};
    std::memcpy(h->signature, kSignature, sizeof kSignature);
    h->free = free;
    h->maxOutput = *maxOutput;
    h->state = state;
    *handle = h;
    return DECODER_ERROR_NONE;
}

int DecoderDecompress(void* handle, const uint8_t* input, uint32_t inputCount, uint8_t* output,
                      uint32_t* size) {
    DecoderHandle* h = CheckedHandle(handle);
    if (h == nullptr || size == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    if (inputCount > h->maxOutput + kInputSlack) return DECODER_ERROR_BUFFER_OVERFLOW;
    if (input == nullptr || inputCount < 2 || input[0] != 'C' || input[1] != 'K')
        return DECODER_ERROR_FAILED;
    const uint32_t space = std::min(*size, h->maxOutput);
    if (output == nullptr && space != 0) return DECODER_ERROR_BAD_PARAMETERS;

    DecoderState& state = *h->state;
    const uint32_t history = state.historyBuffer == output ? state.historyBytes : 0;
    const detail::InflateJob job{input + 2, inputCount - 2u, output, space, history};
    uint32_t produced = 0;
    if (!detail::Inflate(state.tables, job, &produced)) {
        // The folder's history is damaged; nothing may refer back into it.
        state.historyBuffer = nullptr;
        state.historyBytes = 0;
        return DECODER_ERROR_FAILED;
    }
    state.historyBuffer = output;
    state.historyBytes = std::max(history, produced);
    *size = produced;
    return DECODER_ERROR_NONE;
}

int DecoderReset(void* handle) {
    DecoderHandle* h = CheckedHandle(handle);
    if (h == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    // A new folder: nothing in the output buffer is its history yet.
    h->state->historyBuffer = nullptr;
    h->state->historyBytes = 0;
    return DECODER_ERROR_NONE;
}

int DecoderDestroy(void* handle) {
    DecoderHandle* h = CheckedHandle(handle);
    if (h == nullptr) return DECODER_ERROR_BAD_PARAMETERS;
    std::memset(h->signature, 0, sizeof h->signature);
    PFNFREE free = h->free;
    free(h->state);
    free(h);
    return DECODER_ERROR_NONE;
}

}  // namespace mszip
