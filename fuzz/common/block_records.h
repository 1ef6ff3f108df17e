// Pieces shared by the decoder fuzz targets: plain malloc callbacks and the
// input format of a sequence of blocks, records of
// [wanted: 2 bytes][length: 2 bytes][payload].
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fuzzing {

inline void* MallocAlloc(uint32_t cb) { return std::malloc(cb); }
inline void MallocFree(void* p) { std::free(p); }

struct BlockRecord {
    uint32_t wanted;               // bytes asked of the decoder, at most 32768
    std::vector<uint8_t> payload;  // its own allocation, so any overread is caught
};

// Reads the record at pos and moves past it; false when fewer than 4 bytes
// are left. A length beyond the input is cut to what is left.
inline bool NextBlockRecord(const uint8_t* data, size_t size, size_t& pos, BlockRecord& record) {
    if (size - pos < 4) return false;
    record.wanted = std::min<uint32_t>(uint32_t(data[pos] | (data[pos + 1] << 8)), 32768);
    const size_t length =
        std::min<size_t>(data[pos + 2] | (size_t{data[pos + 3]} << 8), size - pos - 4);
    pos += 4;
    record.payload.assign(data + pos, data + pos + length);
    pos += length;
    return true;
}

}  // namespace fuzzing
