// Quantum against zlib on the shared corpus, measured in one run:
//   - decode throughput of our decoder beside zlib inflate on the same
//     original bytes, and their ratio;
//   - compressed size at window bits 21 beside deflate level 9 in a gzip
//     wrapper (what `gzip -9` writes), and their ratio.
// Usage: bench_quantum [FILE...] (default /tmp/corpus/corpus.bin; its parts
// code.bin, text.txt and random.bin give the figures per kind of data)
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabbuild/folder_compressor.h"
#include "decoders/quantum.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Block {
    std::vector<uint8_t> payload;
    uint32_t size;
};

double Seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void* Alloc(uint32_t cb) {
    return std::malloc(cb);
}
void Free(void* p) {
    std::free(p);
}

// Decodes every block into one output buffer (as the engine does) and
// returns false on any failure or mismatch.
bool DecodeQuantum(const std::vector<Block>& blocks, const std::vector<uint8_t>& original,
                   bool verify) {
    uint32_t maxOut = 32768, inSize = 0;
    void* h = nullptr;
    const decoders::DecoderConfig cfg{21, 0};
    if (quantum::DecoderCreate(&maxOut, &cfg, Alloc, Free, &inSize, &h, nullptr) != 0) return false;
    std::vector<uint8_t> out(32768);
    size_t at = 0;
    bool ok = true;
    for (const Block& b : blocks) {
        uint32_t size = b.size;
        if (quantum::DecoderDecompress(h, b.payload.data(), uint32_t(b.payload.size()), out.data(),
                                       &size) != 0 ||
            (verify &&
             !std::equal(out.begin(), out.begin() + b.size, original.begin() + long(at)))) {
            ok = false;
            break;
        }
        at += b.size;
    }
    quantum::DecoderDestroy(h);
    return ok;
}

std::vector<uint8_t> Gzip9(const std::vector<uint8_t>& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, uLong(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Inflates into a 32768-byte buffer over and over, like the block decoder.
bool Gunzip(const std::vector<uint8_t>& gz, size_t expected) {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    std::vector<uint8_t> out(32768);
    z.next_in = const_cast<Bytef*>(gz.data());
    z.avail_in = uInt(gz.size());
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        r = inflate(&z, Z_NO_FLUSH);
    }
    const bool ok = r == Z_STREAM_END && z.total_out == expected;
    inflateEnd(&z);
    return ok;
}

// CPU time of this thread: the machine is shared, and time spent waiting
// for a core would blur the comparison.
double ThreadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <typename F>
double BestOf(int runs, F&& f) {
    double best = 1e30;
    for (int k = 0; k < runs; ++k) {
        const double t0 = ThreadSeconds();
        if (!f()) {
            std::fprintf(stderr, "decode failed\n");
            std::exit(1);
        }
        best = std::min(best, ThreadSeconds() - t0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) files.emplace_back(argv[i]);
    if (files.empty()) files.push_back("/tmp/corpus/corpus.bin");

    std::printf("%-12s %10s %10s %10s %6s | %9s %9s %6s | %9s\n", "file", "bytes", "quantum21",
                "gzip-9", "q/gz", "q MB/s", "zlib MB/s", "ratio", "comp MB/s");
    for (const std::string& path : files) {
        const std::vector<uint8_t> data = ReadFile(path);
        if (data.empty()) {
            std::fprintf(stderr, "cannot read %s (build it with make-corpus.sh)\n", path.c_str());
            return 1;
        }
        const auto t0 = Clock::now();
        auto compressor = cabbuild::MakeQuantumCompressor(21);
        std::vector<Block> blocks;
        size_t qsize = 0;
        for (size_t at = 0; at < data.size(); at += cabbuild::kFrameSize) {
            const size_t n = std::min<size_t>(cabbuild::kFrameSize, data.size() - at);
            blocks.push_back({compressor->CompressBlock({data.data() + at, n}), uint32_t(n)});
            qsize += blocks.back().payload.size();
        }
        const double compressSeconds = Seconds(t0, Clock::now());
        if (!DecodeQuantum(blocks, data, true)) {
            std::fprintf(stderr, "%s: round trip FAILED\n", path.c_str());
            return 1;
        }
        const std::vector<uint8_t> gz = Gzip9(data);
        const double mb = double(data.size()) / 1e6;
        const double q = BestOf(5, [&] { return DecodeQuantum(blocks, data, false); });
        const double z = BestOf(5, [&] { return Gunzip(gz, data.size()); });
        const std::string name = path.substr(path.find_last_of('/') + 1);
        std::printf("%-12s %10zu %10zu %10zu %6.3f | %9.1f %9.1f %6.3f | %9.2f\n", name.c_str(),
                    data.size(), qsize, gz.size(), double(qsize) / double(gz.size()), mb / q,
                    mb / z, z / q, mb / compressSeconds);
    }
    return 0;
}
