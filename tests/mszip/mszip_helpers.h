// Helpers for the MSZIP tests: the decoder behind its contract, zlib as an
// independent encoder of MSZIP blocks, and a bit writer for hand-made streams.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "decoders/mszip.h"

namespace mszip_test {

using Bytes = std::vector<uint8_t>;
inline constexpr uint32_t kBlock = 32768;

inline void* TestAlloc(uint32_t cb) {
    return std::malloc(cb);
}
inline void TestFree(void* p) {
    std::free(p);
}

// One decoder and the engine-style 32768-byte output buffer it decodes into.
class Decoder {
  public:
    Decoder() {
        uint32_t maxOutput = kBlock, inputSize = 0;
        if (mszip::DecoderCreate(&maxOutput, nullptr, TestAlloc, TestFree, &inputSize, &handle_,
                                 nullptr) != decoders::DECODER_ERROR_NONE)
            throw std::runtime_error("DecoderCreate failed");
    }
    ~Decoder() { mszip::DecoderDestroy(handle_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes one payload into the shared buffer; *out gets the produced bytes.
    int Decode(const Bytes& payload, Bytes* out = nullptr, uint32_t room = kBlock) {
        uint32_t size = room;
        int rc = mszip::DecoderDecompress(
            handle_, payload.data(), static_cast<uint32_t>(payload.size()), buffer_.data(), &size);
        if (out != nullptr) out->assign(buffer_.begin(), buffer_.begin() + (rc == 0 ? size : 0));
        return rc;
    }
    int Reset() { return mszip::DecoderReset(handle_); }
    void* handle() const { return handle_; }
    Bytes& buffer() { return buffer_; }

  private:
    void* handle_ = nullptr;
    Bytes buffer_ = Bytes(kBlock, 0);
};

// Cuts data into 32768-byte frames and deflates each with zlib into an MSZIP
// payload: "CK", then a raw deflate stream ending in a final block, with the
// previous frame as preset dictionary.
inline std::vector<Bytes> ZlibBlocks(const Bytes& data, int level,
                                     int strategy = Z_DEFAULT_STRATEGY) {
    std::vector<Bytes> blocks;
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy) != Z_OK)
        throw std::runtime_error("deflateInit2");
    for (size_t start = 0; start < data.size() || (start == 0 && data.empty()); start += kBlock) {
        const size_t n = std::min<size_t>(kBlock, data.size() - start);
        deflateReset(&z);
        if (start >= kBlock) deflateSetDictionary(&z, data.data() + start - kBlock, kBlock);
        Bytes out(deflateBound(&z, n) + 16);
        out[0] = 'C';
        out[1] = 'K';
        z.next_in = const_cast<Bytef*>(data.data() + start);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = out.data() + 2;
        z.avail_out = static_cast<uInt>(out.size() - 2);
        if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
        out.resize(out.size() - z.avail_out);
        blocks.push_back(std::move(out));
        if (data.empty()) break;
    }
    deflateEnd(&z);
    return blocks;
}

// Writes a deflate bit stream, least significant bit first.
class BitWriter {
  public:
    void Bits(uint32_t value, unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1)
                bytes_.back() = static_cast<uint8_t>(bytes_.back() | (1u << (used_ % 8)));
            ++used_;
        }
    }
    // A Huffman code goes out most significant bit first.
    void Code(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) Bits((code >> i) & 1, 1);
    }
    void AlignToByte() { used_ = bytes_.size() * 8; }
    void Byte(uint8_t b) { Bits(b, 8); }
    // The finished payload with the "CK" prefix.
    Bytes Payload() const {
        Bytes p{'C', 'K'};
        p.insert(p.end(), bytes_.begin(), bytes_.end());
        return p;
    }

  private:
    Bytes bytes_;
    size_t used_ = 0;
};

// Canonical codes for the given lengths (0: no code).
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    uint32_t count[17] = {}, next[17] = {};
    for (uint8_t l : lengths) ++count[l];
    count[0] = 0;
    uint32_t code = 0;
    for (int len = 1; len <= 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
    return codes;
}

// A dynamic block header whose code-length code gives symbols 0..15 four bits
// each, followed by the literal/length and distance lengths written plainly.
// Returns the codes of both alphabets for writing symbols.
struct DynamicCodes {
    std::vector<uint8_t> litLenLengths, distanceLengths;
    std::vector<uint32_t> litLen, distance;
    void Lit(BitWriter& w, unsigned symbol) const { w.Code(litLen[symbol], litLenLengths[symbol]); }
    void Dist(BitWriter& w, unsigned symbol) const {
        w.Code(distance[symbol], distanceLengths[symbol]);
    }
};

inline DynamicCodes WriteDynamicHeader(BitWriter& w, bool final,
                                       const std::vector<uint8_t>& litLenLengths,
                                       const std::vector<uint8_t>& distanceLengths) {
    w.Bits(final ? 1 : 0, 1);
    w.Bits(2, 2);
    w.Bits(static_cast<uint32_t>(litLenLengths.size() - 257), 5);
    w.Bits(static_cast<uint32_t>(distanceLengths.size() - 1), 5);
    w.Bits(19 - 4, 4);
    static const uint8_t order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : order) w.Bits(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : litLenLengths) w.Code(l, 4);
    for (uint8_t l : distanceLengths) w.Code(l, 4);
    return {litLenLengths, distanceLengths, CanonicalCodes(litLenLengths),
            CanonicalCodes(distanceLengths)};
}

// Fixed code of a literal/length symbol.
inline void FixedLit(BitWriter& w, unsigned symbol) {
    if (symbol < 144)
        w.Code(0x30 + symbol, 8);
    else if (symbol < 256)
        w.Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.Code(symbol - 256, 7);
    else
        w.Code(0xC0 + symbol - 280, 8);
}

inline Bytes PatternData(size_t size, uint32_t seed) {
    // Text-like data: words from a small vocabulary with some noise, so that
    // every kind of match and literal shows up.
    static const char* words[] = {"alpha ",  "beta ", "gamma\n", "delta ", "cabinet ",
                                  "folder ", "{}",    "0x1F ",   "  "};
    Bytes out;
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 28) == 0) {
            out.push_back(static_cast<uint8_t>(x >> 8));
        } else {
            const char* word = words[(x >> 16) % 9];
            out.insert(out.end(), word, word + std::char_traits<char>::length(word));
        }
    }
    out.resize(size);
    return out;
}

inline Bytes RandomData(size_t size, uint32_t seed) {
    Bytes out(size);
    uint64_t x = seed + 0x9E3779B97F4A7C15ull;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x);
    }
    return out;
}

}  // namespace mszip_test
