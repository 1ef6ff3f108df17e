// The Quantum decoder on arbitrary blocks.
// Input: [window bits][flags: bit 0 spill mode, bit 1 reset before block 2]
// then records of [wanted: 2 bytes][length: 2 bytes][payload].
#include "fuzz_quantum_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int bits = 10 + data[0] % 12;
    const uint8_t flags = data[1];
    void* h = qfuzz::Create(bits, flags & 1);
    if (h == nullptr) __builtin_trap();
    std::vector<uint8_t> out(32768);
    size_t pos = 2;
    for (int block = 0; size - pos >= 4 && block < 64; ++block) {
        uint32_t wanted = uint32_t(data[pos] | (data[pos + 1] << 8));
        if (wanted > 32768) wanted = 32768;
        const size_t length =
            std::min<size_t>(data[pos + 2] | (size_t{data[pos + 3]} << 8), size - pos - 4);
        pos += 4;
        // The payload in its own allocation, so any overread is caught.
        std::vector<uint8_t> payload(data + pos, data + pos + length);
        pos += length;
        if (block == 1 && (flags & 2)) quantum::DecoderReset(h);
        uint32_t size32 = wanted;
        quantum::DecoderDecompress(h, payload.data(), uint32_t(payload.size()), out.data(),
                                   &size32);
    }
    if (quantum::DecoderDestroy(h) != 0) __builtin_trap();
    return 0;
}
