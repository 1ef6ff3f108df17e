// Helpers for the LZX tests: a decoder driven through its contract, and a
// bit writer for hand-made streams.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "decoders/lzx.h"

namespace lzx_test {

inline void* TestAlloc(uint32_t cb) {
    return std::malloc(cb);
}
inline void TestFree(void* p) {
    std::free(p);
}

// One decoder handle; each Decode call is one data block.
class Decoder {
  public:
    explicit Decoder(uint32_t windowBits = 16, uint32_t maxBlock = 32768) {
        uint32_t inputSize = 0;
        decoders::DecoderConfig config{1 << windowBits, 0};
        created_ = lzx::DecoderCreate(&maxBlock, &config, TestAlloc, TestFree, &inputSize, &handle_,
                                      nullptr);
    }
    ~Decoder() {
        if (handle_ != nullptr) lzx::DecoderDestroy(handle_);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    int created() const { return created_; }
    void* handle() const { return handle_; }

    // Decodes one block wanting `wanted` bytes; result code, output in *out.
    int Decode(const std::vector<uint8_t>& block, uint32_t wanted, std::vector<uint8_t>* out) {
        out->assign(wanted, 0xCC);
        uint32_t size = wanted;
        int rc = lzx::DecoderDecompress(handle_, block.data(), static_cast<uint32_t>(block.size()),
                                        out->data(), &size);
        out->resize(size);
        return rc;
    }
    int Reset() { return lzx::DecoderReset(handle_); }

  private:
    void* handle_ = nullptr;
    int created_ = -1;
};

// Writes 16-bit little-endian words, most significant bit first.
class BitStream {
  public:
    BitStream& Bits(uint32_t value, uint32_t n) {
        for (uint32_t i = n; i-- > 0;) {
            word_ = static_cast<uint16_t>((word_ << 1) | ((value >> i) & 1));
            if (++filled_ == 16) FlushWord();
        }
        return *this;
    }
    // Zero bits up to the next word boundary.
    BitStream& Pad() {
        while (filled_ != 0) Bits(0, 1);
        return *this;
    }
    size_t BitsUsed() const { return 8 * bytes_.size() + filled_; }
    // Raw bytes; only on a word boundary.
    BitStream& Bytes(std::initializer_list<uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    BitStream& Bytes(const std::vector<uint8_t>& data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    BitStream& Le32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> Done() {
        Pad();
        return bytes_;
    }

  private:
    void FlushWord() {
        bytes_.push_back(static_cast<uint8_t>(word_));
        bytes_.push_back(static_cast<uint8_t>(word_ >> 8));
        word_ = 0;
        filled_ = 0;
    }
    std::vector<uint8_t> bytes_;
    uint16_t word_ = 0;
    uint32_t filled_ = 0;
};

// Text, runs, random stretches, CALL-like instructions and long-range
// repeats, deterministic per seed.
inline std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data;
    data.reserve(size);
    const std::string words[] = {"template", "typename", "return",           " ",   "\n",
                                 "{",        "}",        "std::vector<int>", "0123"};
    while (data.size() < size) {
        switch (rng() % 6) {
            case 0:  // x86-like call instructions with near operands
                data.push_back(0xE8);
                for (int i = 0; i < 4; ++i)
                    data.push_back(static_cast<uint8_t>(i < 2 ? rng() : (rng() % 2 ? 0xFF : 0)));
                break;
            case 1:  // random bytes
                for (int i = rng() % 16; i > 0; --i) data.push_back(static_cast<uint8_t>(rng()));
                break;
            case 2:  // long-range repeat
                if (data.size() > 100) {
                    size_t from = rng() % data.size();
                    size_t len = 3 + rng() % 300;
                    for (size_t i = 0; i < len; ++i)
                        data.push_back(data[from + i % (data.size() - from)]);
                }
                break;
            case 3:  // runs
                data.insert(data.end(), rng() % 40, static_cast<uint8_t>(rng() % 3));
                break;
            default: {
                const std::string& w = words[rng() % 9];
                data.insert(data.end(), w.begin(), w.end());
            }
        }
    }
    data.resize(size);
    return data;
}

}  // namespace lzx_test
