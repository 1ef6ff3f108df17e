// The LZX compressor: one block per 32768-byte frame, lazy matching over a
// hash-chained window with the three repeated distances, prices taken from
// the previous block's trees, and the cheapest of verbatim, aligned-offset
// and uncompressed blocks.
#include <algorithm>
#include <array>

#include "cabbuild/folder_compressor.h"
#include "cabbuild/lzx_bit_writer.h"
#include "cabbuild/lzx_e8.h"
#include "cabbuild/lzx_huffman_builder.h"
#include "cabbuild/lzx_match_finder.h"
#include "decoders/lzx_tables.h"

namespace cabbuild {

namespace {

using lzx_detail::LzxBitWriter;
using lzx_detail::LzxMatchFinder;
using lzx_detail::Match;
using namespace lzx;  // format constants

constexpr uint32_t kMaxChain = 96;
constexpr uint32_t kNiceLength = 96;

struct Token {
    uint16_t mainSymbol;
    int16_t lengthSymbol;  // -1: none
    uint8_t extraBits;
    uint32_t extraValue;
};

uint32_t SlotOf(uint32_t distance) {
    const uint32_t formatted = distance + 2;
    if (formatted < 4) return formatted;
    if (formatted >= (1u << 18)) return 36 + ((formatted - (1u << 18)) >> 17);
    const uint32_t high = 31 - static_cast<uint32_t>(__builtin_clz(formatted));
    return 2 * high + ((formatted >> (high - 1)) & 1);
}

// A candidate for the bytes at one position: a run of `length` bytes from a
// repeated distance (repIndex 0 to 2) or from a new distance.
struct Candidate {
    uint32_t length = 0;
    int repIndex = -1;
    uint32_t distance = 0;
    int32_t benefit = 0;  // bits saved against literals
};

class LzxCompressor final : public FolderCompressor {
  public:
    explicit LzxCompressor(int windowBits)
        : windowBits_(static_cast<uint32_t>(windowBits)),
          mainSymbols_(kNumChars + 8 * SlotCount(1u << windowBits)),
          finder_(1u << windowBits, kMaxChain, kNiceLength) {}

    uint16_t TypeWord() const override { return static_cast<uint16_t>(3 | (windowBits_ << 8)); }

    std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) override {
        // Every call is a frame to the decoder, even an empty one.
        const uint32_t frameNumber = frames_++;
        if (frame.empty()) return {};
        std::vector<uint8_t> bytes(frame.begin(), frame.end());
        const auto size = static_cast<uint32_t>(bytes.size());
        if (!headerWritten_ && !decidedE8_) {
            translationSize_ =
                lzx_detail::LooksLikeText(bytes.data(), size) ? 0 : lzx_detail::kE8TranslationSize;
            decidedE8_ = true;
        }
        if (translationSize_ != 0 && frameNumber < kE8FrameLimit) {
            lzx_detail::EncodeE8Frame(bytes.data(), size, translationSize_, translationPosition_);
            translationPosition_ += size;
        }
        const uint32_t start = finder_.End();
        finder_.Append(bytes.data(), size);
        std::vector<Token> tokens = Parse(start, size);
        return EmitBlock(tokens, bytes);
    }

  private:
    // --- parsing -----------------------------------------------------------

    void PreparePrices() {
        for (uint32_t s = 0; s < kMaxMainSymbols; ++s) {
            uint32_t fallback = s < kNumChars ? 9 : (s < kNumChars + 24 ? 7 : 11);
            if (!haveTrees_) fallback = s < kNumChars ? 8 : (s < kNumChars + 24 ? 6 : 10);
            mainPrice_[s] = previousMain_[s] != 0 ? previousMain_[s] : fallback;
        }
        for (uint32_t s = 0; s < kLengthSymbols; ++s)
            lengthPrice_[s] = previousLength_[s] != 0 ? previousLength_[s] : 8;
    }

    int32_t MatchPrice(uint32_t slot, uint32_t length) const {
        const uint32_t header = std::min(length - kMinMatch, 7u);
        int32_t price = mainPrice_[kNumChars + slot * 8 + header];
        if (header == 7) price += lengthPrice_[length - kMinMatch - 7];
        if (slot >= 4) price += kExtraBits[slot];
        return price;
    }

    int32_t LiteralPrice(uint32_t from, uint32_t length) const {
        return static_cast<int32_t>(literalPrefix_[from + length] - literalPrefix_[from]);
    }

    Candidate Best(uint32_t position, uint32_t frameStart, uint32_t frameEnd) {
        Candidate best;
        const uint32_t maxLength = std::min(kMaxMatch, frameEnd - position);
        if (maxLength < kMinMatch) return best;
        const uint32_t offset = position - frameStart;
        auto consider = [&](uint32_t length, int rep, uint32_t distance, uint32_t slot) {
            if (length < kMinMatch) return;
            int32_t benefit = LiteralPrice(offset, length) - MatchPrice(slot, length);
            if (benefit > best.benefit || (benefit == best.benefit && length > best.length))
                best = {length, rep, distance, benefit};
        };
        for (int k = 0; k < 3; ++k) {
            const uint32_t distance = reps_[k];
            if (distance == 0 || distance > position) continue;
            consider(finder_.MatchLength(position, distance, maxLength), k, distance,
                     static_cast<uint32_t>(k));
        }
        Match m = finder_.Longest(position, maxLength);
        if (m.length != 0) {
            int rep = -1;
            for (int k = 0; k < 3; ++k)
                if (reps_[k] == m.distance) rep = k;
            consider(m.length, rep, m.distance,
                     rep >= 0 ? static_cast<uint32_t>(rep) : SlotOf(m.distance));
        }
        return best;
    }

    std::vector<Token> Parse(uint32_t start, uint32_t size) {
        PreparePrices();
        const uint8_t* data = finder_.At(start);
        literalPrefix_.assign(size + 1, 0);
        for (uint32_t i = 0; i < size; ++i)
            literalPrefix_[i + 1] = literalPrefix_[i] + mainPrice_[data[i]];

        std::vector<Token> tokens;
        tokens.reserve(size);
        const uint32_t end = start + size;
        uint32_t position = start;
        Candidate current = Best(position, start, end);
        while (position < end) {
            if (current.length == 0) {
                tokens.push_back({data[position - start], -1, 0, 0});
                ++position;
                if (position < end) current = Best(position, start, end);
                continue;
            }
            if (position + 1 < end && current.length < kNiceLength) {
                Candidate next = Best(position + 1, start, end);
                if (next.benefit > current.benefit) {
                    tokens.push_back({data[position - start], -1, 0, 0});
                    ++position;
                    current = next;
                    continue;
                }
            }
            tokens.push_back(MatchToken(current));
            position += current.length;
            if (position < end) current = Best(position, start, end);
        }
        return tokens;
    }

    // Builds the token of a match and moves the repeated distances as the
    // decoder will.
    Token MatchToken(const Candidate& c) {
        uint32_t slot;
        Token t{0, -1, 0, 0};
        if (c.repIndex == 0) {
            slot = 0;
        } else if (c.repIndex == 1) {
            std::swap(reps_[0], reps_[1]);
            slot = 1;
        } else if (c.repIndex == 2) {
            std::swap(reps_[0], reps_[2]);
            slot = 2;
        } else {
            slot = SlotOf(c.distance);
            if (slot >= 4) {
                t.extraBits = kExtraBits[slot];
                t.extraValue = c.distance - kPositionBase[slot];
            }
            reps_[2] = reps_[1];
            reps_[1] = reps_[0];
            reps_[0] = c.distance;
        }
        const uint32_t header = std::min(c.length - kMinMatch, 7u);
        t.mainSymbol = static_cast<uint16_t>(kNumChars + slot * 8 + header);
        if (header == 7) t.lengthSymbol = static_cast<int16_t>(c.length - kMinMatch - 7);
        return t;
    }

    // --- block output ------------------------------------------------------

    void WriteE8HeaderOnce(LzxBitWriter& out) {
        if (headerWritten_) return;
        headerWritten_ = true;
        out.Put(translationSize_ != 0 ? 1 : 0, 1);
        if (translationSize_ != 0) {
            out.Put(translationSize_ >> 16, 16);
            out.Put(translationSize_ & 0xFFFF, 16);
        }
    }

    // Writes code lengths as deltas against the previous ones through a pretree.
    static void WriteTreeRange(LzxBitWriter& out, const uint8_t* lengths, const uint8_t* previous,
                               uint32_t count) {
        struct Item {
            uint8_t symbol, extraBits;
            uint8_t extra;
            int8_t delta;  // the symbol after a 19, or -1
        };
        std::vector<Item> items;
        std::array<uint32_t, kPretreeSymbols> freq{};
        auto delta = [&](uint32_t i) {
            return static_cast<uint8_t>((previous[i] + 17 - lengths[i]) % 17);
        };
        for (uint32_t i = 0; i < count;) {
            uint32_t run = 1;
            while (i + run < count && lengths[i + run] == lengths[i] && run < 51) ++run;
            if (lengths[i] == 0 && run >= 20) {
                items.push_back({18, 5, static_cast<uint8_t>(run - 20), -1});
            } else if (lengths[i] == 0 && run >= 4) {
                run = std::min(run, 19u);
                items.push_back({17, 4, static_cast<uint8_t>(run - 4), -1});
            } else if (run >= 4) {
                run = std::min(run, 5u);
                items.push_back(
                    {19, 1, static_cast<uint8_t>(run - 4), static_cast<int8_t>(delta(i))});
                ++freq[delta(i)];
            } else {
                run = 1;
                items.push_back({delta(i), 0, 0, -1});
            }
            ++freq[items.back().symbol];
            i += run;
        }
        std::vector<uint8_t> pretree =
            lzx_detail::BuildCodeLengths(freq.data(), kPretreeSymbols, 15);
        std::vector<uint16_t> codes = lzx_detail::CanonicalCodes(pretree.data(), kPretreeSymbols);
        for (uint8_t len : pretree) out.Put(len, 4);
        for (const Item& item : items) {
            out.Put(codes[item.symbol], pretree[item.symbol]);
            out.Put(item.extra, item.extraBits);
            if (item.delta >= 0) out.Put(codes[item.delta], pretree[item.delta]);
        }
    }

    std::vector<uint8_t> EmitBlock(const std::vector<Token>& tokens,
                                   const std::vector<uint8_t>& raw) {
        const auto size = static_cast<uint32_t>(raw.size());
        std::vector<uint32_t> mainFreq(mainSymbols_, 0), lengthFreq(kLengthSymbols, 0);
        std::array<uint32_t, kAlignedSymbols> alignedFreq{};
        for (const Token& t : tokens) {
            ++mainFreq[t.mainSymbol];
            if (t.lengthSymbol >= 0) ++lengthFreq[t.lengthSymbol];
            if (t.extraBits >= 3) ++alignedFreq[t.extraValue & 7];
        }
        std::vector<uint8_t> mainLengths =
            lzx_detail::BuildCodeLengths(mainFreq.data(), mainSymbols_, 16);
        std::vector<uint8_t> lengthLengths =
            lzx_detail::BuildCodeLengths(lengthFreq.data(), kLengthSymbols, 16);
        std::vector<uint8_t> alignedLengths =
            lzx_detail::BuildCodeLengths(alignedFreq.data(), kAlignedSymbols, 7);

        // Aligned blocks pay 24 bits of tree to code the low 3 extra bits.
        uint64_t verbatimExtra = 0, alignedExtra = 24;
        for (uint32_t s = 0; s < kAlignedSymbols; ++s) {
            verbatimExtra += 3ull * alignedFreq[s];
            alignedExtra += uint64_t{alignedLengths[s]} * alignedFreq[s];
        }
        const bool aligned = alignedExtra < verbatimExtra;

        LzxBitWriter out;
        const bool firstHeader = !headerWritten_;
        WriteE8HeaderOnce(out);
        out.Put(aligned ? kBlockAligned : kBlockVerbatim, 3);
        out.Put(size, 24);
        if (aligned)
            for (uint8_t len : alignedLengths) out.Put(len, 3);
        WriteTreeRange(out, mainLengths.data(), previousMain_.data(), kNumChars);
        WriteTreeRange(out, mainLengths.data() + kNumChars, previousMain_.data() + kNumChars,
                       mainSymbols_ - kNumChars);
        WriteTreeRange(out, lengthLengths.data(), previousLength_.data(), kLengthSymbols);

        std::vector<uint16_t> mainCodes =
            lzx_detail::CanonicalCodes(mainLengths.data(), mainSymbols_);
        std::vector<uint16_t> lengthCodes =
            lzx_detail::CanonicalCodes(lengthLengths.data(), kLengthSymbols);
        std::vector<uint16_t> alignedCodes =
            lzx_detail::CanonicalCodes(alignedLengths.data(), kAlignedSymbols);
        for (const Token& t : tokens) {
            out.Put(mainCodes[t.mainSymbol], mainLengths[t.mainSymbol]);
            if (t.lengthSymbol >= 0)
                out.Put(lengthCodes[t.lengthSymbol], lengthLengths[t.lengthSymbol]);
            if (t.extraBits == 0) continue;
            if (aligned && t.extraBits >= 3) {
                out.Put(t.extraValue >> 3, t.extraBits - 3u);
                const uint32_t low = t.extraValue & 7;
                out.Put(alignedCodes[low], alignedLengths[low]);
            } else {
                out.Put(t.extraValue, t.extraBits);
            }
        }
        out.Flush();

        // Header, padding, three distances, the bytes and a pad byte.
        const uint64_t rawSize = (firstHeader ? 5 : 0) + 4 + 2 + 12 + size + (size & 1);
        if (out.Bytes().size() > rawSize) return EmitUncompressed(raw, firstHeader);

        std::copy(mainLengths.begin(), mainLengths.end(), previousMain_.begin());
        std::copy(lengthLengths.begin(), lengthLengths.end(), previousLength_.begin());
        haveTrees_ = true;
        return std::move(out.Bytes());
    }

    std::vector<uint8_t> EmitUncompressed(const std::vector<uint8_t>& raw, bool firstHeader) {
        if (firstHeader) headerWritten_ = false;  // the discarded block carried it
        LzxBitWriter out;
        WriteE8HeaderOnce(out);
        const auto size = static_cast<uint32_t>(raw.size());
        out.Put(kBlockUncompressed, 3);
        out.Put(size, 24);
        out.AlignForRawBytes();
        for (uint32_t r : reps_) out.PutLe32(r);
        out.PutBytes(raw.data(), raw.size());
        if ((size & 1) != 0) out.PutBytes(std::array<uint8_t, 1>{0}.data(), 1);
        return std::move(out.Bytes());
    }

    uint32_t windowBits_;
    uint32_t mainSymbols_;
    LzxMatchFinder finder_;
    std::array<uint32_t, 3> reps_{1, 1, 1};
    std::array<uint8_t, kMaxMainSymbols> previousMain_{};
    std::array<uint8_t, kLengthSymbols> previousLength_{};
    bool haveTrees_ = false;
    std::array<int32_t, kMaxMainSymbols> mainPrice_{};
    std::array<int32_t, kLengthSymbols> lengthPrice_{};
    std::vector<uint32_t> literalPrefix_;

    bool decidedE8_ = false;
    bool headerWritten_ = false;
    uint32_t translationSize_ = 0;
    uint32_t translationPosition_ = 0;
    uint32_t frames_ = 0;
};

}  // namespace

std::unique_ptr<FolderCompressor> MakeLzxCompressor(int windowBits) {
    if (windowBits < static_cast<int>(kMinWindowBits) ||
        windowBits > static_cast<int>(kMaxWindowBits))
        return nullptr;
    return std::make_unique<LzxCompressor>(windowBits);
}

}  // namespace cabbuild
