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
        // XOR is associative: fold eight bytes at a time and combine the two
        // halves at the end; stored blocks are checked at memory speed.
        uint64_t wide = 0;
        uint32_t pairs = groups / 2;
        for (uint32_t i = 0; i < pairs; ++i, p += 8) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            wide ^= v;
        }
        sum ^= uint32_t(wide) ^ uint32_t(wide >> 32);
        groups -= pairs * 2;
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
