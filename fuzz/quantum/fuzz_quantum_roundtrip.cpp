// Compressor against decoder: whatever the compressor makes of the input must
// decode to the input again, in memory and in spill mode.
// Input: [window bits][flags: bit 0 spill mode][data...]
#include "cabbuild/folder_compressor.h"
#include "fuzz_quantum_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int bits = 10 + data[0] % 12;
    void* h = qfuzz::Create(bits, data[1] & 1);
    if (h == nullptr) __builtin_trap();
    auto compressor = cabbuild::MakeQuantumCompressor(bits);
    std::vector<uint8_t> out(32768);
    // Short frames as well as full ones: the fuzzer's inputs are small.
    const size_t frame = 1 + data[1] % 97 * 64;
    for (size_t at = 2; at < size; at += frame) {
        const size_t n = std::min(frame, size - at);
        const std::vector<uint8_t> block = compressor->CompressBlock({data + at, n});
        uint32_t wanted = uint32_t(n);
        if (quantum::DecoderDecompress(h, block.data(), uint32_t(block.size()), out.data(),
                                       &wanted) != 0 ||
            std::memcmp(out.data(), data + at, n) != 0)
            __builtin_trap();
    }
    quantum::DecoderDestroy(h);
    return 0;
}
