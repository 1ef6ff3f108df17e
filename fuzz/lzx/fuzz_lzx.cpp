// The LZX decoder on arbitrary blocks.
// Input: [window bits][flags: bit 0 reset before block 2] then records of
// [wanted: 2 bytes][length: 2 bytes][payload].
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decoders/lzx.h"
#include "fuzz/common/block_records.h"

using fuzzing::MallocAlloc;
using fuzzing::MallocFree;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // Mostly valid window bits, sometimes out of range (14 to 22).
    const int bits = 14 + data[0] % 9;
    uint32_t maxBlock = 32768, inputSize = 0;
    decoders::DecoderConfig config{1 << bits, 0};
    void* h = nullptr;
    const int created =
        lzx::DecoderCreate(&maxBlock, &config, MallocAlloc, MallocFree, &inputSize, &h, nullptr);
    if (bits < 15 || bits > 21) {
        if (created != decoders::DECODER_ERROR_CONFIGURATION || h != nullptr) __builtin_trap();
        return 0;
    }
    if (created != 0 || h == nullptr) __builtin_trap();
    std::vector<uint8_t> out(32768);
    size_t pos = 2;
    fuzzing::BlockRecord record;
    for (int block = 0; block < 64 && fuzzing::NextBlockRecord(data, size, pos, record); ++block) {
        if (block == 1 && (data[1] & 1)) lzx::DecoderReset(h);
        uint32_t produced = record.wanted;
        const int rc = lzx::DecoderDecompress(h, record.payload.data(),
                                              uint32_t(record.payload.size()), out.data(), &produced);
        if ((rc == 0 && produced != record.wanted) || (rc != 0 && produced != 0)) __builtin_trap();
    }
    if (lzx::DecoderDestroy(h) != 0) __builtin_trap();
    return 0;
}
