// The Quantum folder compressor. Each frame is parsed in stretches: for a
// stretch, the cheapest sequence of literals and matches is found by dynamic
// programming over positions, priced against a snapshot of the adaptive
// models; those items are coded (which moves the models on) and the next
// stretch is priced afresh.
#include <algorithm>

#include "cabbuild/folder_compressor.h"
#include "cabbuild/quantum_encoder.h"
#include "cabbuild/quantum_match_finder.h"
#include "cabbuild/quantum_prices.h"

namespace cabbuild {

namespace {

using quantum_enc::ItemEncoder;
using quantum_enc::MatchCandidate;
using quantum_enc::MatchFinder;
using quantum_enc::Prices;

constexpr int kMaxChain = 128;
// A match at least this long is taken without weighing the positions it covers.
constexpr uint32_t kNiceLength = 160;
constexpr uint32_t kStretch = 2048;

class QuantumCompressor final : public FolderCompressor {
  public:
    explicit QuantumCompressor(int windowBits)
        : encoder_(windowBits), finder_(windowBits, kMaxChain) {
        nodes_.resize(kStretch + quantum::kMaxMatch + 1);
    }

    uint16_t TypeWord() const override {
        return uint16_t(2u | (unsigned(encoder_.WindowBits()) << 8));
    }

    std::vector<uint8_t> CompressBlock(std::span<const uint8_t> frame) override {
        const uint64_t start = finder_.End();
        finder_.Append(frame);
        const uint64_t end = finder_.End();
        for (uint64_t pos = start; pos < end;) pos = ParseStretch(pos, end);
        return encoder_.FinishBlock();
    }

  private:
    struct Node {
        uint32_t cost;
        uint32_t length;  // of the item ending here: 1 = literal
        uint32_t offset;
    };

    // Finds and codes the cheapest items for [pos, pos + kStretch) (a final
    // match may run further); returns where the next stretch starts.
    uint64_t ParseStretch(uint64_t pos, uint64_t end) {
        prices_.Snapshot(encoder_.Models());
        const auto span = uint32_t(std::min<uint64_t>(kStretch, end - pos));
        const uint32_t limit = span + quantum::kMaxMatch;
        for (uint32_t k = 0; k <= limit; ++k) nodes_[k].cost = UINT32_MAX;
        nodes_[0] = {0, 0, 0};
        uint32_t stop = span;  // the stretch ends at the first node at or after span
        for (uint32_t k = 0; k < span; ++k) {
            if (nodes_[k].cost == UINT32_MAX) continue;
            const uint64_t at = pos + k;
            const uint32_t base = nodes_[k].cost;
            Relax(k + 1, base + prices_.Literal(finder_.At(at)), 1, 0);

            finder_.InsertUpTo(at);
            const auto maxLength = uint32_t(std::min<uint64_t>(end - at, quantum::kMaxMatch));
            finder_.Find(at, maxLength, candidates_);
            if (candidates_.empty()) continue;
            const MatchCandidate& longest = candidates_.back();
            if (longest.length >= kNiceLength) {
                // Long repeats: take the match and end the stretch after it.
                const auto o = prices_.MatchOffset(longest.offset);
                Relax(k + longest.length, base + prices_.Match(longest.length, o), longest.length,
                      longest.offset);
                stop = k + longest.length;
                break;
            }
            uint32_t from = 3;
            for (const MatchCandidate& c : candidates_) {
                const auto o = prices_.MatchOffset(c.offset);
                for (uint32_t len = from; len <= c.length; ++len) {
                    const uint32_t price = prices_.Match(len, o);
                    if (price < Prices::kInvalid) Relax(k + len, base + price, len, c.offset);
                }
                from = c.length + 1;
            }
        }
        // Some path always reaches `stop` (literals at least, or the long match).
        if (stop == span) {
            // The cheapest end at or past the stretch's end would favour
            // shorter coverage; take the stretch's end itself.
            while (nodes_[stop].cost == UINT32_MAX) ++stop;
        }
        path_.clear();
        for (uint32_t k = stop; k > 0; k -= nodes_[k].length) path_.push_back(k);
        uint64_t at = pos;
        for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
            const Node& n = nodes_[*it];
            if (n.length == 1)
                encoder_.Literal(finder_.At(at));
            else
                encoder_.Match(n.length, n.offset);
            at += n.length;
        }
        return pos + stop;
    }

    void Relax(uint32_t k, uint32_t cost, uint32_t length, uint32_t offset) {
        if (cost < nodes_[k].cost) nodes_[k] = {cost, length, offset};
    }

    ItemEncoder encoder_;
    MatchFinder finder_;
    Prices prices_;
    std::vector<Node> nodes_;
    std::vector<MatchCandidate> candidates_;
    std::vector<uint32_t> path_;
};

}  // namespace

std::unique_ptr<FolderCompressor> MakeQuantumCompressor(int windowBits) {
    if (windowBits < quantum::kMinWindowBits || windowBits > quantum::kMaxWindowBits)
        return nullptr;
    return std::make_unique<QuantumCompressor>(windowBits);
}

}  // namespace cabbuild
