// Decoding speed of the MSZIP decoder against zlib's inflate on the same
// blocks, measured in one run.
//
// Usage: bench_mszip [CORPUS_DIR] [LEVEL]   (default /tmp/corpus, level 6)
// The corpus is what make-corpus.sh builds. Each part is cut into 32768-byte
// frames and compressed the way our cabinets are (zlib raw deflate, previous
// frame as dictionary). zlib then decodes the very same per-block streams,
// with its dictionary set to the previous block's output, as a cabinet
// reader built on zlib would have to. Both outputs are checked once; the
// figures are the best of several passes, in MB of decoded output per
// second of the thread's CPU time.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cabbuild/folder_compressor.h"
#include "decoders/mszip.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kFrame = 32768;

struct Part {
    std::string name;
    Bytes data;
    std::vector<Bytes> blocks;
    size_t compressed = 0;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void* Alloc(uint32_t cb) {
    return std::malloc(cb);
}
void Free(void* p) {
    std::free(p);
}

// Our decoder: every block into the one engine-style output buffer.
bool DecodeOurs(void* decoder, const Part& part, Bytes& buffer, const Bytes* verify) {
    mszip::DecoderReset(decoder);
    size_t offset = 0;
    for (const Bytes& block : part.blocks) {
        uint32_t size = kFrame;
        if (mszip::DecoderDecompress(decoder, block.data(), static_cast<uint32_t>(block.size()),
                                     buffer.data(), &size) != 0)
            return false;
        if (verify && !std::equal(buffer.begin(), buffer.begin() + size,
                                  verify->begin() + static_cast<long>(offset)))
            return false;
        offset += size;
    }
    return offset == part.data.size();
}

// zlib: a fresh stream per block, the previous block's output as dictionary.
bool DecodeZlib(z_stream& z, const Part& part, Bytes (&buffers)[2], const Bytes* verify) {
    size_t offset = 0;
    uint32_t previous = 0;
    for (size_t i = 0; i < part.blocks.size(); ++i) {
        const Bytes& block = part.blocks[i];
        Bytes& out = buffers[i & 1];
        inflateReset(&z);
        if (previous == kFrame) inflateSetDictionary(&z, buffers[(i + 1) & 1].data(), kFrame);
        z.next_in = const_cast<Bytef*>(block.data() + 2);
        z.avail_in = static_cast<uInt>(block.size() - 2);
        z.next_out = out.data();
        z.avail_out = kFrame;
        if (inflate(&z, Z_FINISH) != Z_STREAM_END) return false;
        const uint32_t size = kFrame - z.avail_out;
        if (verify && !std::equal(out.begin(), out.begin() + size,
                                  verify->begin() + static_cast<long>(offset)))
            return false;
        offset += size;
        previous = size;
    }
    return offset == part.data.size();
}

// Thread CPU time: the machine is shared, and time spent waiting for a core
// should count for neither decoder.
double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename F>
double BestSeconds(int passes, F&& run) {
    double best = 1e30;
    for (int p = 0; p < passes; ++p) {
        const double start = CpuSeconds();
        run();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : "/tmp/corpus";
    const int level = argc > 2 ? std::atoi(argv[2]) : 6;
    std::vector<Part> parts;
    for (const char* name : {"code.bin", "text.txt", "random.bin", "corpus.bin"}) {
        Part part{name, ReadFile(dir + "/" + name), {}, 0};
        if (part.data.empty()) {
            std::fprintf(stderr, "cannot read %s/%s (build it with make-corpus.sh)\n", dir.c_str(),
                         name);
            return 2;
        }
        auto compressor = cabbuild::MakeMszipCompressor(level);
        for (size_t start = 0; start < part.data.size(); start += kFrame) {
            const size_t n = std::min<size_t>(kFrame, part.data.size() - start);
            part.blocks.push_back(compressor->CompressBlock({part.data.data() + start, n}));
            part.compressed += part.blocks.back().size();
        }
        parts.push_back(std::move(part));
    }

    uint32_t maxOutput = kFrame, inputSize = 0;
    void* decoder = nullptr;
    if (mszip::DecoderCreate(&maxOutput, nullptr, Alloc, Free, &inputSize, &decoder, nullptr) != 0)
        return 2;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return 2;
    Bytes ours(kFrame);
    Bytes zlibBuffers[2] = {Bytes(kFrame), Bytes(kFrame)};

    std::printf(
        "MSZIP decoding, zlib level %d blocks; MB/s of output per CPU second, best of passes\n",
        level);
    std::printf("%-11s %10s %9s %8s %10s %10s %7s\n", "part", "bytes", "crc32", "ratio", "ours",
                "zlib", "ours/zlib");
    int status = 0;
    for (const Part& part : parts) {
        if (!DecodeOurs(decoder, part, ours, &part.data) ||
            !DecodeZlib(z, part, zlibBuffers, &part.data)) {
            std::printf("%-11s decoding mismatch\n", part.name.c_str());
            status = 1;
            continue;
        }
        const int passes = part.data.size() > (8u << 20) ? 5 : 9;
        double tOurs = 1e30, tZlib = 1e30;
        // Interleave the two so that load from elsewhere hits both alike.
        for (int round = 0; round < 2; ++round) {
            tOurs = std::min(
                tOurs, BestSeconds(passes, [&] { DecodeOurs(decoder, part, ours, nullptr); }));
            tZlib = std::min(
                tZlib, BestSeconds(passes, [&] { DecodeZlib(z, part, zlibBuffers, nullptr); }));
        }
        const double mb = static_cast<double>(part.data.size()) / 1e6;
        const unsigned long crc = crc32(0, part.data.data(), static_cast<uInt>(part.data.size()));
        std::printf(
            "%-11s %10zu %08lx %7.1f%% %10.1f %10.1f %7.2fx\n", part.name.c_str(), part.data.size(),
            crc,
            100.0 * static_cast<double>(part.compressed) / static_cast<double>(part.data.size()),
            mb / tOurs, mb / tZlib, tZlib / tOurs);
    }
    inflateEnd(&z);
    mszip::DecoderDestroy(decoder);
    return status;
}
