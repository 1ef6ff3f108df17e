// LZX against zlib on the shared corpus: decode throughput of each in its own
// format on the same original data, and LZX (window 2^21) size against gzip -9.
//
//   bench_lzx [FILE...]   (default: /tmp/corpus/corpus.bin)
#include <time.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabbuild/folder_compressor.h"
#include "decoders/lzx.h"

namespace {

void* Alloc(uint32_t cb) {
    return std::malloc(cb);
}
void Free(void* p) {
    std::free(p);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LzxFolder {
    std::vector<std::vector<uint8_t>> blocks;
    std::vector<uint32_t> sizes;
    size_t compressed = 0;
};

LzxFolder CompressLzx(const std::vector<uint8_t>& data, int windowBits) {
    LzxFolder folder;
    auto compressor = cabbuild::MakeLzxCompressor(windowBits);
    for (size_t at = 0; at < data.size(); at += cabbuild::kFrameSize) {
        size_t n = std::min<size_t>(cabbuild::kFrameSize, data.size() - at);
        folder.blocks.push_back(compressor->CompressBlock({data.data() + at, n}));
        folder.sizes.push_back(static_cast<uint32_t>(n));
        folder.compressed += folder.blocks.back().size();
    }
    return folder;
}

// Decodes the whole folder; false if any block fails or differs.
bool DecodeLzx(const LzxFolder& folder, int windowBits, const std::vector<uint8_t>* check) {
    uint32_t maxBlock = 32768, inputSize = 0;
    decoders::DecoderConfig config{1 << windowBits, 0};
    void* handle = nullptr;
    if (lzx::DecoderCreate(&maxBlock, &config, Alloc, Free, &inputSize, &handle, nullptr) != 0)
        return false;
    std::vector<uint8_t> out(32768);
    size_t at = 0;
    bool ok = true;
    for (size_t i = 0; i < folder.blocks.size() && ok; ++i) {
        uint32_t size = folder.sizes[i];
        ok = lzx::DecoderDecompress(handle, folder.blocks[i].data(),
                                    static_cast<uint32_t>(folder.blocks[i].size()), out.data(),
                                    &size) == 0;
        if (ok && check != nullptr)
            ok =
                std::equal(out.begin(), out.begin() + size, check->begin() + static_cast<long>(at));
        at += size;
    }
    lzx::DecoderDestroy(handle);
    return ok;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int level, bool gzip) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, gzip ? 31 : 15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

bool Inflate(const std::vector<uint8_t>& packed, std::vector<uint8_t>* out) {
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out->data();
    z.avail_out = static_cast<uInt>(out->size());
    int rc = inflate(&z, Z_FINISH);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

// The thread's CPU time, so that other work on a shared machine does not
// skew the comparison.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename F>
double BestSeconds(int runs, F&& f) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const double t0 = ThreadSeconds();
        f();
        best = std::min(best, ThreadSeconds() - t0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) files.emplace_back(argv[i]);
    if (files.empty()) files.emplace_back("/tmp/corpus/corpus.bin");
    int status = 0;
    for (const std::string& path : files) {
        std::vector<uint8_t> data = ReadFile(path);
        if (data.empty()) {
            std::fprintf(stderr, "cannot read %s (build it with make-corpus.sh)\n", path.c_str());
            return 2;
        }
        const double mb = static_cast<double>(data.size()) / 1e6;

        const double t0 = ThreadSeconds();
        LzxFolder folder = CompressLzx(data, 21);
        const double compressSeconds = ThreadSeconds() - t0;
        if (!DecodeLzx(folder, 21, &data)) {
            std::fprintf(stderr, "%s: LZX round trip FAILED\n", path.c_str());
            status = 1;
            continue;
        }
        std::vector<uint8_t> gzip9 = Deflate(data, 9, true);
        std::vector<uint8_t> zlib9 = Deflate(data, 9, false);
        std::vector<uint8_t> out(data.size());
        if (!Inflate(zlib9, &out) || out != data) {
            std::fprintf(stderr, "%s: zlib round trip failed\n", path.c_str());
            return 1;
        }
        const int runs = 5;
        double lzxSeconds = BestSeconds(runs, [&] { DecodeLzx(folder, 21, nullptr); });
        double zlibSeconds = BestSeconds(runs, [&] { Inflate(zlib9, &out); });

        std::printf("%s: %zu bytes\n", path.c_str(), data.size());
        std::printf("  size   LZX:21 %zu  gzip -9 %zu  ratio %.3f (target <= 0.900)\n",
                    folder.compressed, gzip9.size(),
                    static_cast<double>(folder.compressed) / static_cast<double>(gzip9.size()));
        std::printf("  decode LZX %.1f MB/s  zlib inflate %.1f MB/s  ratio %.2f (target >= 1.00)\n",
                    mb / lzxSeconds, mb / zlibSeconds, zlibSeconds / lzxSeconds);
        std::printf("  (LZX compression took %.1f s of CPU time)\n", compressSeconds);
    }
    return status;
}
