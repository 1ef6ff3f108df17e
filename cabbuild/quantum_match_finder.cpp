#include "cabbuild/quantum_match_finder.h"

#include <algorithm>
#include <bit>

#include "decoders/quantum_model.h"

namespace cabbuild::quantum_enc {

namespace {
constexpr int kHash3Bits = 14;
constexpr int kHash4Bits = 17;
constexpr int kShortDepth = 8;
constexpr uint32_t kGoodLength = 32;
}  // namespace

MatchFinder::MatchFinder(int windowBits, int maxChain, uint64_t rebaseAt)
    : windowSize_(1u << windowBits), maxChain_(maxChain), rebaseAt_(rebaseAt) {
    Reset();
}

void MatchFinder::Reset() {
    base_ = 0;
    inserted_ = 0;
    epoch_ = 0;
    buf_.clear();
    head3_.assign(size_t(1) << kHash3Bits, 0);
    prev3_.assign(quantum::kMatch3MaxOffset, 0);
    head_.assign(size_t(1) << kHash4Bits, 0);
    // Grown with the history (see InsertUpTo): small folders stay cheap.
    prev_.assign(std::min<size_t>(windowSize_, 4096), 0);
}

uint32_t MatchFinder::Hash3(uint64_t pos) const {
    const uint8_t* p = &buf_[size_t(pos - base_)];
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHash3Bits);
}

uint32_t MatchFinder::Hash4(uint64_t pos) const {
    const uint8_t* p = &buf_[size_t(pos - base_)];
    const uint32_t v =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (v * 2654435761u) >> (32 - kHash4Bits);
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

void MatchFinder::Rebase() {
    const uint64_t newEpoch = inserted_ - windowSize_;
    const auto delta = uint32_t(newEpoch - epoch_);
    for (auto* table : {&head3_, &prev3_, &head_, &prev_})
        for (uint32_t& e : *table) e = e > delta ? e - delta : 0;
    epoch_ = newEpoch;
}

void MatchFinder::InsertUpTo(uint64_t pos) {
    // Every position with 4 bytes known; the last few of the history wait
    // for the next frame.
    const uint64_t limit = std::min<uint64_t>(pos, End() >= 3 ? End() - 3 : 0);
    // Until the history fills the window no position wraps, so a longer
    // table keeps every entry where it is.
    if (prev_.size() < windowSize_ && limit > prev_.size())
        prev_.resize(std::min<size_t>(windowSize_, std::bit_ceil(size_t(limit))), 0);
    for (; inserted_ < limit; ++inserted_) {
        if (inserted_ - epoch_ >= rebaseAt_ && inserted_ > windowSize_) Rebase();
        const auto entry = uint32_t(inserted_ - epoch_ + 1);
        const uint32_t h3 = Hash3(inserted_);
        prev3_[inserted_ % quantum::kMatch3MaxOffset] = head3_[h3];
        head3_[h3] = entry;
        const uint32_t h4 = Hash4(inserted_);
        prev_[inserted_ & (prev_.size() - 1)] = head_[h4];
        head_[h4] = entry;
    }
}

template <typename Next>
void MatchFinder::Walk(uint64_t pos, uint32_t entry, uint32_t maxDistance, int depth,
                       uint32_t maxLength, Next next) {
    const uint8_t* cur = &buf_[size_t(pos - base_)];
    uint32_t best = 2;
    for (; entry != 0 && depth > 0; --depth) {
        const uint64_t cand = epoch_ + entry - 1;
        if (cand >= pos || pos - cand > maxDistance || cand < base_) break;
        const uint8_t* c = &buf_[size_t(cand - base_)];
        if (c[best] == cur[best] && c[0] == cur[0]) {
            uint32_t len = 0;
            while (len < maxLength && c[len] == cur[len]) ++len;
            if (len > best) {
                found_.push_back({len, uint32_t(pos - cand)});
                // A good match found: the rest of the chain rarely beats it
                // by enough to pay for the walk.
                if (best < kGoodLength && len >= kGoodLength) depth = depth / 4 + 1;
                best = len;
                if (best >= maxLength) break;
            }
        }
        const uint32_t following = next(cand);
        if (following == 0 || epoch_ + following - 1 >= cand) break;
        entry = following;
    }
}

void MatchFinder::Find(uint64_t pos, uint32_t maxLength, std::vector<MatchCandidate>& out) {
    out.clear();
    found_.clear();
    if (maxLength < 3 || pos + 3 > End()) return;
    Walk(pos, head3_[Hash3(pos)], quantum::kMatch3MaxOffset, kShortDepth, maxLength,
         [this](uint64_t cand) { return prev3_[cand % quantum::kMatch3MaxOffset]; });
    if (maxLength >= 4 && pos + 4 <= End())
        Walk(pos, head_[Hash4(pos)], windowSize_, maxChain_, maxLength,
             [this](uint64_t cand) { return prev_[cand & (prev_.size() - 1)]; });
    // Nearest first, each kept only if longer than every nearer one, after
    // cutting each to what its offset can carry.
    std::sort(found_.begin(), found_.end(),
              [](const MatchCandidate& a, const MatchCandidate& b) { return a.offset < b.offset; });
    uint32_t best = 2;
    for (MatchCandidate c : found_) {
        if (c.offset > windowSize_) continue;
        if (c.length == 4 && c.offset > quantum::kMatch4MaxOffset) c.length = 3;
        if (c.length == 3 && c.offset > quantum::kMatch3MaxOffset) continue;
        if (c.length > best) {
            out.push_back(c);
            best = c.length;
        }
    }
}

}  // namespace cabbuild::quantum_enc
