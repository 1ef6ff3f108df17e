// Extraction speed of a stored cabinet through the FDI callbacks, beside a
// plain memory copy of the same bytes measured in the same run.
//
// The cabinet (>= 256 MB, 64 files of 4 MB) lives in memory; the callbacks
// read from it and write into one preallocated output area, so what is
// measured is the engine: block reads, checksums, notifications and writes.
// Usage: bench_fdi [megabytes] [--no-checksums]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cabbuild/cabinet_writer.h"
#include "fdi/fdi.h"

namespace {

constexpr int kCabinetHandle = 1;

struct Memory {
    const std::vector<uint8_t>* cabinet = nullptr;
    int64_t cabinetPos[3] = {0, 0, 0};  // two cabinet handles (1 and 2)
    uint8_t* out = nullptr;
    size_t outPos = 0;
    size_t outSize = 0;
    int opened = 0;
} g;

void* Alloc(uint32_t cb) { return std::malloc(cb); }
void Free(void* pv) { std::free(pv); }
int Open(const char*, int, int) {
    if (g.opened == 2) return -1;
    int hf = kCabinetHandle + g.opened++;
    g.cabinetPos[hf] = 0;
    return hf;
}
uint32_t Read(int hf, void* pv, uint32_t cb) {
    int64_t& pos = g.cabinetPos[hf];
    int64_t n = std::clamp<int64_t>(int64_t(g.cabinet->size()) - pos, 0, cb);
    std::memcpy(pv, g.cabinet->data() + pos, size_t(n));
    pos += n;
    return uint32_t(n);
}
uint32_t Write(int, const void* pv, uint32_t cb) {
    if (g.outPos + cb > g.outSize) return 0;
    std::memcpy(g.out + g.outPos, pv, cb);
    g.outPos += cb;
    return cb;
}
int Close(int hf) {
    if (hf == kCabinetHandle || hf == kCabinetHandle + 1) --g.opened;
    return 0;
}
int32_t Seek(int hf, int32_t dist, int type) {
    int64_t& pos = g.cabinetPos[hf];
    pos = type == 0 ? dist : type == 1 ? pos + dist : int64_t(g.cabinet->size()) + dist;
    return int32_t(pos);
}
intptr_t Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION) {
    if (type == fdintCOPY_FILE) return 100;
    if (type == fdintCLOSE_FILE_INFO) return 1;
    return 0;
}

double Seconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = 256;
    bool checksums = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-checksums") checksums = false;
        else megabytes = std::strtoul(argv[i], nullptr, 10);
    }
    const size_t files = 64, fileSize = megabytes * (size_t(1) << 20) / files;
    const size_t total = files * fileSize;

    cabbuild::SetOptions options;
    options.checksums = checksums;
    cabbuild::CabinetWriter writer(options);
    uint32_t x = 12345;
    for (size_t f = 0; f < files; ++f) {
        std::vector<uint8_t> data(fileSize);
        for (auto& b : data) b = uint8_t((x = x * 1103515245u + 12345u) >> 16);
        writer.AddFile("file" + std::to_string(f) + ".bin", std::move(data));
    }
    std::vector<cabbuild::CabinetImage> images;
    std::string error;
    if (!writer.Build(&images, &error)) {
        std::fprintf(stderr, "cannot build the cabinet: %s\n", error.c_str());
        return 1;
    }
    const std::vector<uint8_t>& cabinet = images[0].bytes;
    std::vector<uint8_t> out(total);
    std::memset(out.data(), 1, out.size());  // fault the pages in before timing
    g.cabinet = &cabinet;
    g.out = out.data();
    g.outSize = out.size();

    // The same bytes, one copy: from the cabinet image to the output area.
    const uint8_t* payload = cabinet.data() + (cabinet.size() - total);
    double bestCopy = 1e9, bestFdi = 1e9, bestFloor = 1e9;
    std::vector<uint8_t> block(32768);
    for (int round = 0; round < 5; ++round) {
        auto start = std::chrono::steady_clock::now();
        std::memcpy(out.data(), payload, total);
        bestCopy = std::min(bestCopy, Seconds(start));

        // What the two callbacks cost by themselves: every block read into
        // a 32 KB buffer and written out from it, with no engine around.
        start = std::chrono::steady_clock::now();
        for (size_t done = 0; done < total; done += block.size()) {
            size_t n = std::min(block.size(), total - done);
            std::memcpy(block.data(), payload + done, n);
            std::memcpy(out.data() + done, block.data(), n);
        }
        bestFloor = std::min(bestFloor, Seconds(start));

        ERF erf{};
        HFDI hfdi = FDICreate(Alloc, Free, Open, Read, Write, Close, Seek, cpu80386, &erf);
        g.outPos = 0;
        start = std::chrono::steady_clock::now();
        BOOL32 ok = FDICopy(hfdi, "bench.cab", "", 0, Notify, nullptr, nullptr);
        double t = Seconds(start);
        FDIDestroy(hfdi);
        if (!ok || g.outPos != total) {
            std::fprintf(stderr, "extraction failed: error %d, %zu of %zu bytes\n", erf.erfOper, g.outPos, total);
            return 1;
        }
        bestFdi = std::min(bestFdi, t);
    }
    // The output must be exactly the files' bytes (blocks carry their headers
    // between them in the image, so compare file by file through the writer's pattern).
    uint32_t y = 12345;
    for (size_t i = 0; i < total; ++i)
        if (out[i] != uint8_t((y = y * 1103515245u + 12345u) >> 16)) {
            std::fprintf(stderr, "wrong byte at %zu\n", i);
            return 1;
        }

    double mb = double(total) / (1 << 20);
    std::printf("stored cabinet: %zu MB in %zu files, checksums %s\n", total >> 20, files, checksums ? "on" : "off");
    std::printf("memcpy          : %8.1f MB/s\n", mb / bestCopy);
    std::printf("FDICopy (stored): %8.1f MB/s\n", mb / bestFdi);
    std::printf("callbacks alone : %8.1f MB/s (read into a 32 KB buffer, write out)\n", mb / bestFloor);
    std::printf("ratio FDICopy/memcpy: %.2f (target >= 0.80)\n", bestCopy / bestFdi);
    std::printf("ratio FDICopy/callbacks alone: %.2f\n", bestFloor / bestFdi);
    return 0;
}
