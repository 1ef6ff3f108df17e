#include "cabbuild/lzx_match_finder.h"

#include <algorithm>
#include <cstring>

namespace cabbuild::lzx_detail {

namespace {
constexpr uint32_t kHashBits = 17;
constexpr uint32_t kMaxMatch = 257;
}  // namespace

LzxMatchFinder::LzxMatchFinder(uint32_t windowSize, uint32_t maxChain, uint32_t niceLength)
    : windowSize_(windowSize),
      maxDistance_(windowSize - 3),
      maxChain_(maxChain),
      niceLength_(niceLength),
      head_(1u << kHashBits, 0),
      prev_(windowSize, 0) {}

void LzxMatchFinder::Append(const uint8_t* data, uint32_t size) {
    // Keep at least one window of history; drop older bytes in large steps.
    const uint32_t keep = windowSize_ + kMaxMatch;
    if (buffer_.size() > 2 * size_t{windowSize_} + keep) {
        const uint32_t drop = static_cast<uint32_t>(buffer_.size()) - keep;
        buffer_.erase(buffer_.begin(), buffer_.begin() + drop);
        bufferStart_ += drop;
    }
    buffer_.insert(buffer_.end(), data, data + size);
    end_ += size;
}

uint32_t LzxMatchFinder::Hash(uint32_t position) const {
    const uint8_t* p = At(position);
    uint32_t v = uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

void LzxMatchFinder::InsertUpTo(uint32_t position) {
    const uint32_t limit = std::min(position, end_ >= 2 ? end_ - 2 : 0);
    for (; inserted_ < limit; ++inserted_) {
        uint32_t h = Hash(inserted_);
        prev_[inserted_ & (windowSize_ - 1)] = head_[h];
        head_[h] = inserted_ + 1;
    }
}

uint32_t LzxMatchFinder::MatchLength(uint32_t position, uint32_t distance,
                                     uint32_t maxLength) const {
    const uint8_t* a = At(position);
    const uint8_t* b = a - distance;
    uint32_t n = 0;
    while (n + 8 <= maxLength) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) / 8);
        n += 8;
    }
    while (n < maxLength && a[n] == b[n]) ++n;
    return n;
}

Match LzxMatchFinder::Longest(uint32_t position, uint32_t maxLength) {
    Match best;
    if (maxLength < 3 || position + 2 >= end_) return best;
    InsertUpTo(position);
    const uint8_t* here = At(position);
    uint32_t candidate = head_[Hash(position)];
    for (uint32_t chain = maxChain_; candidate != 0 && chain > 0; --chain) {
        const uint32_t from = candidate - 1;
        const uint32_t distance = position - from;
        if (distance > maxDistance_ || from < bufferStart_) break;
        const uint8_t* there = At(from);
        if (there[best.length] == here[best.length] && there[0] == here[0]) {
            uint32_t length = MatchLength(position, distance, maxLength);
            if (length > best.length) {
                best = {length, distance};
                if (length >= niceLength_ || length == maxLength) break;
            }
        }
        const uint32_t next = prev_[from & (windowSize_ - 1)];
        if (next >= candidate) break;  // overwritten by a newer position: chain ends
        candidate = next;
    }
    if (best.length < 3) best = {};
    return best;
}

}  // namespace cabbuild::lzx_detail
