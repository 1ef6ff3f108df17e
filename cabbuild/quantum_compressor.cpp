// The Quantum folder compressor: hash-chain matching with a one-step lazy
// choice, weighed by what each item costs at the models' current state.
#include <algorithm>

#include "cabbuild/folder_compressor.h"
#include "cabbuild/quantum_encoder.h"
#include "cabbuild/quantum_match_finder.h"

namespace cabbuild {

namespace {

using quantum_enc::ItemEncoder;
using quantum_enc::MatchCandidate;
using quantum_enc::MatchFinder;

constexpr int kMaxChain = 96;
constexpr uint32_t kNiceLength = 96;

class QuantumCompressor final : public FolderCompressor {
public:
    explicit QuantumCompressor(int windowBits)
        : encoder_(windowBits), finder_(windowBits, kMaxChain) {}

    uint16_t TypeWord() const override {
        return uint16_t(2u | (unsigned(encoder_.WindowBits()) << 8));
    }

    std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) override {
        const uint64_t start = finder_.End();
        finder_.Append(frame);
        const uint64_t end = finder_.End();
        uint64_t pos = start;
        Choice pending{};  // a match found one position ahead, if any
        bool havePending = false;
        while (pos < end) {
            Choice here = havePending ? pending : Best(pos, end);
            havePending = false;
            if (here.length == 0) {
                EmitLiteral(pos++);
                continue;
            }
            if (here.length < kNiceLength && pos + 1 < end) {
                const Choice next = Best(pos + 1, end);
                if (next.gain > here.gain + int32_t(literalAverage_ / 4)) {
                    EmitLiteral(pos++);
                    pending = next;
                    havePending = true;
                    continue;
                }
            }
            encoder_.Match(here.length, here.offset);
            pos += here.length;
        }
        return encoder_.FinishBlock();
    }

private:
    struct Choice {
        uint32_t length;
        uint32_t offset;
        int32_t gain;  // 1/16 bits saved against coding the bytes as literals
    };

    Choice Best(uint64_t pos, uint64_t end) {
        finder_.InsertUpTo(pos);
        const auto maxLength = uint32_t(std::min<uint64_t>(end - pos, quantum::kMaxMatch));
        finder_.Find(pos, maxLength, candidates_);
        Choice best{0, 0, 0};
        for (const MatchCandidate& c : candidates_) {
            const int32_t gain =
                int32_t(c.length * literalAverage_) - int32_t(encoder_.MatchCost(c.length, c.offset));
            if (gain > best.gain) best = {c.length, c.offset, gain};
        }
        return best;
    }

    void EmitLiteral(uint64_t pos) {
        const uint8_t b = finder_.At(pos);
        literalAverage_ = (literalAverage_ * 15 + encoder_.LiteralCost(b)) / 16;
        encoder_.Literal(b);
    }

    ItemEncoder encoder_;
    MatchFinder finder_;
    std::vector<MatchCandidate> candidates_;
    uint32_t literalAverage_ = 8 * 16;
};

}  // namespace

std::unique_ptr<FolderCompressor> MakeQuantumCompressor(int windowBits) {
    if (windowBits < quantum::kMinWindowBits || windowBits > quantum::kMaxWindowBits)
        return nullptr;
    return std::make_unique<QuantumCompressor>(windowBits);
}

}  // namespace cabbuild
