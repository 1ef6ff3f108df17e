// Hash-chain match finder over a folder's history for the LZX compressor.
#pragma once

#include <cstdint>
#include <vector>

namespace cabbuild::lzx_detail {

struct Match {
    uint32_t length = 0;
    uint32_t distance = 0;
};

class LzxMatchFinder {
  public:
    LzxMatchFinder(uint32_t windowSize, uint32_t maxChain, uint32_t niceLength);

    // Appends the next frame's bytes to the history.
    void Append(const uint8_t* data, uint32_t size);
    // Absolute folder position of the first byte not appended yet.
    uint32_t End() const { return end_; }
    const uint8_t* At(uint32_t position) const {
        return buffer_.data() + (position - bufferStart_);
    }

    // Indexes every position before `position` (that has 3 bytes after it).
    void InsertUpTo(uint32_t position);
    // The longest match at `position` of at most maxLength bytes (and at
    // least 3), from a distance of at most the window size - 3.
    Match Longest(uint32_t position, uint32_t maxLength);
    // Length of the match at `position` from `distance` back, up to maxLength.
    uint32_t MatchLength(uint32_t position, uint32_t distance, uint32_t maxLength) const;

  private:
    uint32_t Hash(uint32_t position) const;

    uint32_t windowSize_;
    uint32_t maxDistance_;
    uint32_t maxChain_;
    uint32_t niceLength_;
    std::vector<uint8_t> buffer_;  // history and the current frame
    uint32_t bufferStart_ = 0;     // folder position of buffer_[0]
    uint32_t end_ = 0;
    uint32_t inserted_ = 0;
    std::vector<uint32_t> head_;  // folder position + 1 per hash, 0 for none
    std::vector<uint32_t> prev_;  // previous position + 1 with the same hash
};

}  // namespace cabbuild::lzx_detail
