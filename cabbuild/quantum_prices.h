// What each item would cost, in 1/16 bit, at a snapshot of the Quantum models.
// The parser prices a stretch of input against one snapshot and takes a new
// one once those items are coded, so the prices follow the adaptive models.
#pragma once

#include <array>
#include <cstdint>

#include "decoders/quantum_model.h"

namespace cabbuild::quantum_enc {

class Prices {
  public:
    void Snapshot(const quantum::ModelSet& models);

    uint32_t Literal(uint8_t byte) const { return literal_[byte]; }
    // Price of a match of `length` (3..259) at an offset whose position slot
    // prices are given (see MatchOffset), or kInvalid.
    struct OffsetPrices {
        uint32_t short3;  // kInvalid when out of reach
        uint32_t short4;
        uint32_t long_;
    };
    OffsetPrices MatchOffset(uint32_t offset) const;
    uint32_t Match(uint32_t length, const OffsetPrices& o) const {
        if (length == 3) return o.short3;
        if (length == 4) return o.short4;
        return o.long_ + length_[length];
    }

    static constexpr uint32_t kInvalid = 1u << 30;

  private:
    std::array<uint32_t, 256> literal_{};
    std::array<uint32_t, quantum::kMaxMatch + 1> length_{};  // selector, slot and extra bits
    std::array<uint32_t, quantum::kPositionSlots> position4_{}, position5_{}, position6_{};
    uint32_t selector4_ = 0, selector5_ = 0;
    uint32_t windowSize_ = 0;
};

}  // namespace cabbuild::quantum_enc
