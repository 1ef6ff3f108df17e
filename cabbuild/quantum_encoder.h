// The Quantum item encoder: the arithmetic coder that the decoder inverts,
// the nine adaptive models (shared with the decoder, so both sides update and
// rebuild them identically), and the raw extra bits.
//
// The decoder reads raw bits from the same stream as the arithmetic code, at
// the point where its 16-bit code register has taken 16 + (renormalization
// shifts so far) code bits. Those code bits are not all known yet when the
// raw bits are coded, so a block collects its code bits and its raw bits
// apart and interleaves them when the block is finished.
#pragma once

#include <cstdint>
#include <vector>

#include "decoders/quantum_model.h"

namespace cabbuild::quantum_enc {

class ItemEncoder {
  public:
    explicit ItemEncoder(int windowBits);

    int WindowBits() const { return windowBits_; }
    uint32_t WindowSize() const { return 1u << windowBits_; }

    void Literal(uint8_t byte);
    // length 3 needs offset <= 4096, length 4 offset <= 262144, longer ones
    // up to 259 any offset up to the window size.
    void Match(uint32_t length, uint32_t offset);
    // The block's payload: every bit the decoder takes, padded to a byte.
    // The coder restarts for the next block; the models carry on.
    std::vector<uint8_t> FinishBlock();
    // Back to the models of a fresh folder.
    void Reset();

    // The models as they stand, for pricing whole stretches ahead.
    const quantum::ModelSet& Models() const { return models_; }

  private:
    void EncodeSymbol(quantum::Model& m, unsigned symbol);
    void PutCodeBit(uint32_t bit);
    void RawBits(uint32_t value, int count);

    struct RawItem {
        uint32_t codePos;  // how many code bits precede these raw bits
        uint32_t value;
        uint32_t count;
    };

    int windowBits_;
    quantum::ModelSet models_{};
    uint32_t low_ = 0;
    uint32_t high_ = 0xFFFF;
    uint32_t pending_ = 0;
    uint32_t shifts_ = 0;
    std::vector<uint8_t> codeBits_;  // one byte per bit; merged at the block's end
    std::vector<RawItem> raw_;
};

// Slot of a position value (offset - 1) or of a length value (length - 5).
unsigned PositionSlot(uint32_t value);
unsigned LengthSlot(uint32_t value);

}  // namespace cabbuild::quantum_enc
