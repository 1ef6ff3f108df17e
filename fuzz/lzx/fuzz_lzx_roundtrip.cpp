// The LZX compressor's blocks decode back to the input.
// Input: [window bits] then the folder's bytes (cut into 32768-byte frames).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cabbuild/folder_compressor.h"
#include "decoders/lzx.h"
#include "fuzz/common/block_records.h"

using fuzzing::MallocAlloc;
using fuzzing::MallocFree;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int bits = 15 + data[0] % 7;
    auto compressor = cabbuild::MakeLzxCompressor(bits);
    uint32_t maxBlock = 32768, inputSize = 0;
    decoders::DecoderConfig config{1 << bits, 0};
    void* h = nullptr;
    if (lzx::DecoderCreate(&maxBlock, &config, MallocAlloc, MallocFree, &inputSize, &h, nullptr) != 0)
        __builtin_trap();
    std::vector<uint8_t> out(32768);
    for (size_t pos = 1; pos < size; pos += cabbuild::kFrameSize) {
        const size_t n = std::min<size_t>(cabbuild::kFrameSize, size - pos);
        std::vector<uint8_t> block = compressor->CompressBlock({data + pos, n});
        if (block.size() > inputSize) __builtin_trap();
        uint32_t produced = static_cast<uint32_t>(n);
        if (lzx::DecoderDecompress(h, block.data(), uint32_t(block.size()), out.data(),
                                   &produced) != 0 ||
            std::memcmp(out.data(), data + pos, n) != 0)
            __builtin_trap();
    }
    lzx::DecoderDestroy(h);
    return 0;
}
