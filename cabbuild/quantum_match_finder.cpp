#include "cabbuild/quantum_match_finder.h"

#include <algorithm>
#include <bit>

#include "decoders/quantum_model.h"

namespace cabbuild::quantum_enc {

namespace {
constexpr int kHashBits = 17;
}

MatchFinder::MatchFinder(int windowBits, int maxChain)
    : windowSize_(1u << windowBits), maxChain_(maxChain) {
    Reset();
}

void MatchFinder::Reset() {
    base_ = 0;
    inserted_ = 0;
    buf_.clear();
    head_.assign(size_t(1) << kHashBits, 0);
    // Grown with the history (see InsertUpTo): small folders stay cheap.
    prev_.assign(std::min<size_t>(windowSize_, 4096), 0);
}

uint32_t MatchFinder::Hash(uint64_t pos) const {
    const uint8_t* p = &buf_[size_t(pos - base_)];
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Drops history older than one window once the buffer holds two of them
// (plus a frame), so memory stays bounded for any folder size.
void MatchFinder::Slide() {
    const size_t keep = windowSize_ + 4;
    if (buf_.size() < 2 * size_t(windowSize_) + 65536) return;
    const size_t drop = buf_.size() - keep;
    buf_.erase(buf_.begin(), buf_.begin() + long(drop));
    base_ += drop;
}

void MatchFinder::Append(std::span<const uint8_t> frame) {
    Slide();
    buf_.insert(buf_.end(), frame.begin(), frame.end());
}

void MatchFinder::InsertUpTo(uint64_t pos) {
    const uint64_t limit = std::min<uint64_t>(pos, End() >= 2 ? End() - 2 : 0);
    // Until the history fills the window no position wraps, so a longer
    // table keeps every entry where it is.
    if (prev_.size() < windowSize_ && limit > prev_.size())
        prev_.resize(std::min<size_t>(windowSize_, std::bit_ceil(size_t(limit))), 0);
    for (; inserted_ < limit; ++inserted_) {
        const uint32_t h = Hash(inserted_);
        prev_[inserted_ & (prev_.size() - 1)] = head_[h];
        head_[h] = inserted_ + 1;
    }
}

void MatchFinder::Find(uint64_t pos, uint32_t maxLength, std::vector<MatchCandidate>& out) {
    out.clear();
    if (maxLength < 3 || pos + 3 > End()) return;
    const uint8_t* cur = &buf_[size_t(pos - base_)];
    uint32_t best = 2;
    uint64_t entry = head_[Hash(pos)];
    for (int chain = maxChain_; entry != 0 && chain > 0; --chain) {
        const uint64_t cand = entry - 1;
        if (cand >= pos || pos - cand > windowSize_ || cand < base_) break;
        const auto offset = uint32_t(pos - cand);
        const uint8_t* c = &buf_[size_t(cand - base_)];
        if (c[best] == cur[best] && c[0] == cur[0]) {
            uint32_t len = 0;
            while (len < maxLength && c[len] == cur[len]) ++len;
            if (len > best) {
                // Cut to the longest length this offset can carry.
                uint32_t usable = len;
                if (usable == 4 && offset > quantum::kMatch4MaxOffset) usable = 3;
                if (usable == 3 && offset > quantum::kMatch3MaxOffset) usable = 0;
                if (usable > best) {
                    out.push_back({usable, offset});
                    best = usable;
                    if (best >= maxLength) break;
                }
            }
        }
        const uint64_t next = prev_[cand & (prev_.size() - 1)];
        if (next == 0 || next - 1 >= cand) break;
        entry = next;
    }
}

}  // namespace cabbuild::quantum_enc
