#include <bit>
#include <cstring>

#include "fdi/fdi.h"

// The data-block checksum: whole 4-byte groups are XORed in as little-endian
// words; the 1 to 3 bytes left over go in with the first of them highest.
extern "C" uint32_t FDIChecksum(const void* pv, uint32_t cb, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(pv);
    uint32_t sum = seed;
    uint32_t groups = cb / 4;
    if constexpr (std::endian::native == std::endian::little) {
        // XOR is associative: fold 32 bytes at a time into four independent
        // lanes and combine them at the end; stored blocks are checked at
        // memory speed.
        uint64_t lane[4] = {0, 0, 0, 0};
        uint32_t rounds = groups / 8;
        for (uint32_t i = 0; i < rounds; ++i, p += 32) {
            uint64_t v[4];
            std::memcpy(v, p, 32);
            lane[0] ^= v[0];
            lane[1] ^= v[1];
            lane[2] ^= v[2];
            lane[3] ^= v[3];
        }
        uint64_t wide = lane[0] ^ lane[1] ^ lane[2] ^ lane[3];
        sum ^= uint32_t(wide) ^ uint32_t(wide >> 32);
        groups -= rounds * 8;
    }
    for (uint32_t i = 0; i < groups; ++i, p += 4) {
        sum ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    uint32_t tail = 0;
    switch (cb & 3) {
        case 3: tail = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; break;
        case 2: tail = uint32_t(p[0]) << 8 | p[1]; break;
        case 1: tail = p[0]; break;
        default: break;
    }
    return sum ^ tail;
}
