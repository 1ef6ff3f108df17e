// The MSZIP decoder on a sequence of blocks sharing one output buffer, as the
// engine drives it. Input: records of [room: 2 bytes][length: 2 bytes][payload].
// A room of 0xFFFF resets the decoder (a new folder) instead.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoders/mszip.h"
#include "fuzz/common/block_records.h"

using fuzzing::MallocAlloc;
using fuzzing::MallocFree;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t maxOutput = 32768, inputSize = 0;
    void* decoder = nullptr;
    if (mszip::DecoderCreate(&maxOutput, nullptr, MallocAlloc, MallocFree, &inputSize, &decoder, nullptr) != 0)
        return 0;
    std::vector<uint8_t> output(32768);
    size_t pos = 0;
    while (size - pos >= 4) {
        const uint32_t room = data[pos] | (uint32_t{data[pos + 1]} << 8);
        size_t length = data[pos + 2] | (size_t{data[pos + 3]} << 8);
        pos += 4;
        length = std::min(length, size - pos);
        if (room == 0xFFFF) {
            mszip::DecoderReset(decoder);
            continue;
        }
        // The payload in a buffer of its own size, so reads past it are caught.
        std::vector<uint8_t> payload(data + pos, data + pos + length);
        pos += length;
        uint32_t produced = room > 32768 ? 32768 : room;
        const uint32_t given = produced;
        const int rc =
            mszip::DecoderDecompress(decoder, payload.data(), static_cast<uint32_t>(payload.size()),
                                     output.data(), &produced);
        if (rc == 0 && produced > given) std::abort();
    }
    mszip::DecoderDestroy(decoder);
    return 0;
}
