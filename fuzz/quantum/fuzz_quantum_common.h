// Helpers of the Quantum fuzz targets: a decoder whose spill file lives in
// memory, so that spill mode is fuzzed as cheaply as memory mode.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoders/quantum.h"

namespace qfuzz {

inline uint32_t g_refuseSize = 0;
inline std::vector<uint8_t> g_file;
inline size_t g_pos = 0;

inline void* Alloc(uint32_t cb) {
    return cb == g_refuseSize ? nullptr : std::malloc(cb);
}
inline void Free(void* p) {
    std::free(p);
}
inline int Open(const char* name, int, int) {
    if (name[0] != '*' || name[1] != 0) return -1;
    g_file.clear();
    g_pos = 0;
    return 5;
}
inline uint32_t Read(int, void* pv, uint32_t cb) {
    const size_t n = g_pos < g_file.size() ? std::min<size_t>(cb, g_file.size() - g_pos) : 0;
    if (n) std::memcpy(pv, g_file.data() + g_pos, n);
    g_pos += n;
    return uint32_t(n);
}
inline uint32_t Write(int, const void* pv, uint32_t cb) {
    if (g_file.size() < g_pos + cb) g_file.resize(g_pos + cb);
    std::memcpy(g_file.data() + g_pos, pv, cb);
    g_pos += cb;
    return cb;
}
inline int Close(int) {
    return 0;
}
inline int32_t Seek(int, int32_t dist, int) {
    g_pos = size_t(dist);
    return dist;
}

// A decoder with the window in memory, or in the spill file when `spill`.
inline void* Create(int windowBits, bool spill) {
    uint32_t maxOut = 32768, inSize = 0;
    void* h = nullptr;
    const decoders::DecoderConfig cfg{windowBits, 0};
    const decoders::DecoderFileCallbacks files{Open, Read, Write, Close, Seek};
    g_refuseSize = spill ? 1u << windowBits : 0;
    quantum::DecoderCreate(&maxOut, &cfg, Alloc, Free, &inSize, &h, &files);
    g_refuseSize = 0;
    return h;
}

}  // namespace qfuzz
