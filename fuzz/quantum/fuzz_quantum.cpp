// The Quantum decoder on arbitrary blocks.
// Input: [window bits][flags: bit 0 spill mode, bit 1 reset before block 2]
// then records of [wanted: 2 bytes][length: 2 bytes][payload].
#include "fuzz/common/block_records.h"
#include "fuzz_quantum_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int bits = 10 + data[0] % 12;
    const uint8_t flags = data[1];
    void* h = qfuzz::Create(bits, flags & 1);
    if (h == nullptr) __builtin_trap();
    std::vector<uint8_t> out(32768);
    size_t pos = 2;
    fuzzing::BlockRecord record;
    for (int block = 0; block < 64 && fuzzing::NextBlockRecord(data, size, pos, record); ++block) {
        if (block == 1 && (flags & 2)) quantum::DecoderReset(h);
        uint32_t produced = record.wanted;
        quantum::DecoderDecompress(h, record.payload.data(), uint32_t(record.payload.size()),
                                   out.data(), &produced);
    }
    if (quantum::DecoderDestroy(h) != 0) __builtin_trap();
    return 0;
}
