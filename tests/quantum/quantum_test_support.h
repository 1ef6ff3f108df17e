// Shared helpers of the Quantum tests: an allocator that can refuse large
// blocks (to force the spill window), file callbacks that serve the spill
// request from a temporary file, and compress/decode helpers.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cabbuild/folder_compressor.h"
#include "decoders/quantum.h"

namespace qtest {

// Allocations of exactly `refuseSize` bytes (the window) fail; after `budget`
// successful allocations (when not negative) every further one fails.
struct Heap {
    static inline uint32_t refuseSize = 0;
    static inline int budget = -1;
    static inline int live = 0;

    static void* Alloc(uint32_t cb) {
        if ((refuseSize != 0 && cb == refuseSize) || budget == 0) return nullptr;
        if (budget > 0) --budget;
        void* p = std::malloc(cb);
        // Garbage, so that anything relying on cleared memory shows up.
        if (p) std::memset(p, 0xA5, cb);
        ++live;
        return p;
    }
    static void Free(void* p) {
        if (p) --live;
        std::free(p);
    }
    static void Restore() {
        refuseSize = 0;
        budget = -1;
    }
};

// Spill-file callbacks over real temporary files.
struct SpillFiles {
    static inline std::string lastName;  // the raw name record of the last open
    static inline int lastFlags = 0;
    static inline int lastMode = 0;
    static inline int opened = 0;
    static inline int closed = 0;
    static inline bool refuseOpen = false;
    static inline int failWritesAfter = -1;  // page writes allowed before failing
    static inline int writes = 0;
    static inline int reads = 0;

    static int Open(const char* name, int flags, int mode) {
        lastName.assign(name, 6);
        lastFlags = flags;
        lastMode = mode;
        if (refuseOpen || name[0] != '*' || name[1] != 0) return -1;
        char path[] = "/tmp/quantum-spill-XXXXXX";
        const int fd = mkstemp(path);
        if (fd != -1) {
            unlink(path);
            ++opened;
        }
        return fd;
    }
    static uint32_t Read(int fd, void* pv, uint32_t cb) {
        ++reads;
        const ssize_t n = ::read(fd, pv, cb);
        return n < 0 ? UINT32_MAX : uint32_t(n);
    }
    static uint32_t Write(int fd, const void* pv, uint32_t cb) {
        if (failWritesAfter == 0) return 0;
        if (failWritesAfter > 0) --failWritesAfter;
        ++writes;
        const ssize_t n = ::write(fd, pv, cb);
        return n < 0 ? UINT32_MAX : uint32_t(n);
    }
    static int Close(int fd) {
        ++closed;
        return ::close(fd);
    }
    static int32_t Seek(int fd, int32_t dist, int whence) {
        return int32_t(::lseek(fd, dist, whence));
    }
    static void Restore() {
        refuseOpen = false;
        failWritesAfter = -1;
    }
    static decoders::DecoderFileCallbacks Callbacks() { return {Open, Read, Write, Close, Seek}; }
};

struct Block {
    std::vector<uint8_t> payload;
    uint32_t size;  // uncompressed
};

inline std::vector<Block> Compress(const std::vector<uint8_t>& data, int windowBits) {
    auto c = cabbuild::MakeQuantumCompressor(windowBits);
    std::vector<Block> blocks;
    for (size_t at = 0; at < data.size(); at += cabbuild::kFrameSize) {
        const size_t n = std::min<size_t>(cabbuild::kFrameSize, data.size() - at);
        blocks.push_back({c->CompressBlock({data.data() + at, n}), uint32_t(n)});
    }
    return blocks;
}

// Creates a decoder through the contract; null on failure (result in *rc).
inline void* Create(int windowBits, int* rc = nullptr, bool withFiles = true) {
    uint32_t maxOut = 32768, inSize = 0;
    void* h = nullptr;
    const decoders::DecoderConfig cfg{windowBits, 0};
    const auto files = SpillFiles::Callbacks();
    const int r = quantum::DecoderCreate(&maxOut, &cfg, Heap::Alloc, Heap::Free, &inSize, &h,
                                         withFiles ? &files : nullptr);
    if (rc) *rc = r;
    return h;
}

inline int DecodeOne(void* h, const Block& b, std::vector<uint8_t>& out) {
    std::vector<uint8_t> buf(32768);
    uint32_t size = b.size;
    const int r = quantum::DecoderDecompress(h, b.payload.data(), uint32_t(b.payload.size()),
                                             buf.data(), &size);
    if (r == 0) out.insert(out.end(), buf.begin(), buf.begin() + b.size);
    return r;
}

// Decodes a folder's blocks; false if any block fails.
inline bool DecodeAll(void* h, const std::vector<Block>& blocks, std::vector<uint8_t>& out) {
    for (const Block& b : blocks)
        if (DecodeOne(h, b, out) != 0) return false;
    return true;
}

// Mixed test data: text-like runs, repeats at short and long distances and
// noise, so that every selector and many slots are used.
inline std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::vector<uint8_t> d;
    d.reserve(size);
    uint32_t s = seed;
    auto rnd = [&s] {
        s = s * 1103515245u + 12345u;
        return s >> 8;
    };
    static const char* words[] = {"quantum ", "window ", "model ", "cabinet ", "folder ",
                                  "the ",     "of ",     "and ",   "\n",       "block "};
    while (d.size() < size) {
        const uint32_t kind = rnd() % 8;
        if (kind < 4) {
            const char* w = words[rnd() % 10];
            d.insert(d.end(), w, w + std::strlen(w));
        } else if (kind < 6 && d.size() > 16) {
            // One draw per statement: the order of the draws must not depend
            // on the compiler.
            const bool far = rnd() % 4 == 0;
            const size_t back = 1 + rnd() % std::min<size_t>(d.size(), far ? 3000000 : 5000);
            const bool longRun = rnd() % 8 == 0;
            const size_t len = 3 + rnd() % (longRun ? 400 : 20);
            for (size_t k = 0; k < len; ++k) d.push_back(d[d.size() - back]);
        } else {
            const size_t len = 1 + rnd() % 12;
            for (size_t k = 0; k < len; ++k) d.push_back(uint8_t(rnd()));
        }
    }
    d.resize(size);
    return d;
}

}  // namespace qtest
