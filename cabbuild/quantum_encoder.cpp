#include "cabbuild/quantum_encoder.h"

namespace cabbuild::quantum_enc {

using quantum::kTables;
using quantum::Model;

namespace {

int IndexOf(const Model& m, unsigned symbol) {
    int i = 0;
    while (m.symbol[i] != symbol) ++i;
    return i;
}

template <size_t N>
unsigned SlotOf(const std::array<uint32_t, N>& base, uint32_t value) {
    unsigned lo = 0, hi = unsigned(N) - 1;
    while (lo < hi) {
        const unsigned mid = (lo + hi + 1) / 2;
        if (base[mid] <= value)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

}  // namespace

unsigned PositionSlot(uint32_t value) {
    return SlotOf(kTables.positionBase, value);
}
unsigned LengthSlot(uint32_t value) {
    return SlotOf(kTables.lengthBase, value);
}

ItemEncoder::ItemEncoder(int windowBits) : windowBits_(windowBits) {
    Reset();
}

void ItemEncoder::Reset() {
    quantum::InitModels(models_, windowBits_);
    low_ = 0;
    high_ = 0xFFFF;
    pending_ = 0;
    shifts_ = 0;
    codeBits_.clear();
    raw_.clear();
}

void ItemEncoder::PutCodeBit(uint32_t bit) {
    codeBits_.push_back(uint8_t(bit));
    for (; pending_ > 0; --pending_) codeBits_.push_back(uint8_t(bit ^ 1));
}

// The exact mirror of the decoder's symbol step: the same bounds, the same
// renormalization (its underflow case becomes a pending bit whose value is
// settled by the next bit that leaves the coder), the same model update.
void ItemEncoder::EncodeSymbol(Model& m, unsigned symbol) {
    const int i = IndexOf(m, symbol);
    const uint32_t total = m.cumFreq[0];
    const uint32_t range = high_ - low_ + 1;
    const uint32_t low = low_;
    high_ = (low + (m.cumFreq[i] * range) / total - 1) & 0xFFFF;
    low_ = (low + (m.cumFreq[i + 1] * range) / total) & 0xFFFF;
    for (;;) {
        if ((low_ ^ high_) & 0x8000) {
            if ((low_ & 0x4000) == 0 || (high_ & 0x4000) != 0) break;
            ++pending_;
            low_ &= 0x3FFF;
            high_ |= 0x4000;
        } else {
            PutCodeBit(low_ >> 15);
        }
        low_ = (low_ << 1) & 0xFFFF;
        high_ = ((high_ << 1) | 1) & 0xFFFF;
        ++shifts_;
    }
    quantum::UpdateModel(m, i);
}

void ItemEncoder::RawBits(uint32_t value, int count) {
    if (count > 0) raw_.push_back({shifts_ + 16, value, uint32_t(count)});
}

void ItemEncoder::Literal(uint8_t byte) {
    const unsigned model = byte >> 6;
    EncodeSymbol(models_.selector, model);
    EncodeSymbol(models_.literal[model], byte & 63u);
}

void ItemEncoder::Match(uint32_t length, uint32_t offset) {
    const uint32_t pos = offset - 1;
    const unsigned slot = PositionSlot(pos);
    if (length == 3) {
        EncodeSymbol(models_.selector, quantum::kSelectorMatch3);
        EncodeSymbol(models_.position4, slot);
    } else if (length == 4) {
        EncodeSymbol(models_.selector, quantum::kSelectorMatch4);
        EncodeSymbol(models_.position5, slot);
    } else {
        const uint32_t lv = length - quantum::kMinLongMatch;
        const unsigned lslot = LengthSlot(lv);
        EncodeSymbol(models_.selector, quantum::kSelectorMatchLong);
        EncodeSymbol(models_.length, lslot);
        RawBits(lv - kTables.lengthBase[lslot], kTables.lengthExtra[lslot]);
        EncodeSymbol(models_.position6, slot);
    }
    RawBits(pos - kTables.positionBase[slot], kTables.positionExtra[slot]);
}

std::vector<uint8_t> ItemEncoder::FinishBlock() {
    // The decoder's code register ends up holding 16 more bits. Any value
    // inside the final interval decodes every item; the pending underflow
    // bits sit right after its first bit.
    const uint32_t v = low_;
    PutCodeBit(v >> 15);
    for (int b = 14; b >= 0; --b) codeBits_.push_back(uint8_t((v >> b) & 1));

    std::vector<uint8_t> out;
    out.reserve(codeBits_.size() / 8 + raw_.size() * 2 + 2);
    uint32_t acc = 0;
    int n = 0;
    auto put = [&](uint32_t bit) {
        acc = (acc << 1) | bit;
        if (++n == 8) {
            out.push_back(uint8_t(acc));
            acc = 0;
            n = 0;
        }
    };
    size_t next = 0;
    for (const RawItem& r : raw_) {
        for (; next < r.codePos; ++next) put(codeBits_[next]);
        for (int b = int(r.count) - 1; b >= 0; --b) put((r.value >> b) & 1);
    }
    for (; next < codeBits_.size(); ++next) put(codeBits_[next]);
    if (n > 0) out.push_back(uint8_t(acc << (8 - n)));

    low_ = 0;
    high_ = 0xFFFF;
    pending_ = 0;
    shifts_ = 0;
    codeBits_.clear();
    raw_.clear();
    return out;
}

}  // namespace cabbuild::quantum_enc
