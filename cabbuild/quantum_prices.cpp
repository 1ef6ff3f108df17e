#include "cabbuild/quantum_prices.h"

#include <cmath>

#include "cabbuild/quantum_encoder.h"

namespace cabbuild::quantum_enc {

using quantum::kTables;
using quantum::Model;

namespace {

const std::array<uint16_t, quantum::kMaxTotal + 1>& LogTable() {
    static const auto table = [] {
        std::array<uint16_t, quantum::kMaxTotal + 1> t{};
        for (size_t x = 1; x < t.size(); ++x)
            t[x] = uint16_t(std::lround(16.0 * std::log2(double(x))));
        return t;
    }();
    return table;
}

// Price of every symbol of a model, indexed by symbol.
template <size_t N>
void SymbolPrices(const Model& m, std::array<uint32_t, N>& out) {
    const auto& lg = LogTable();
    for (int i = 0; i < m.entries; ++i) {
        const uint32_t freq = uint32_t(m.cumFreq[i] - m.cumFreq[i + 1]);
        out[m.symbol[i]] = uint32_t(lg[m.cumFreq[0]] - lg[freq]);
    }
}

}  // namespace

void Prices::Snapshot(const quantum::ModelSet& models) {
    std::array<uint32_t, 7> selector{};
    SymbolPrices(models.selector, selector);
    std::array<uint32_t, 64> lit{};
    for (unsigned k = 0; k < 4; ++k) {
        SymbolPrices(models.literal[k], lit);
        for (unsigned s = 0; s < 64; ++s) literal_[k * 64 + s] = selector[k] + lit[s];
    }
    std::array<uint32_t, quantum::kLengthSlots> lengthSlot{};
    SymbolPrices(models.length, lengthSlot);
    for (uint32_t len = quantum::kMinLongMatch; len <= quantum::kMaxMatch; ++len) {
        const unsigned slot = LengthSlot(len - quantum::kMinLongMatch);
        length_[len] = selector[quantum::kSelectorMatchLong] + lengthSlot[slot] +
                       16u * kTables.lengthExtra[slot];
    }
    position4_.fill(kInvalid);
    position5_.fill(kInvalid);
    position6_.fill(kInvalid);
    SymbolPrices(models.position4, position4_);
    SymbolPrices(models.position5, position5_);
    SymbolPrices(models.position6, position6_);
    selector4_ = selector[quantum::kSelectorMatch3];
    selector5_ = selector[quantum::kSelectorMatch4];
    windowSize_ = uint32_t(models.position6.entries) >= 2 * quantum::kMaxWindowBits
                      ? 1u << quantum::kMaxWindowBits
                      : 1u << (models.position6.entries / 2);
}

Prices::OffsetPrices Prices::MatchOffset(uint32_t offset) const {
    const unsigned slot = PositionSlot(offset - 1);
    const uint32_t extra = 16u * kTables.positionExtra[slot];
    OffsetPrices o{kInvalid, kInvalid, kInvalid};
    if (offset == 0 || offset > windowSize_) return o;
    if (offset <= quantum::kMatch3MaxOffset) o.short3 = selector4_ + position4_[slot] + extra;
    if (offset <= quantum::kMatch4MaxOffset) o.short4 = selector5_ + position5_[slot] + extra;
    o.long_ = position6_[slot] + extra;
    return o;
}

}  // namespace cabbuild::quantum_enc
