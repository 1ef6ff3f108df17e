// Hash-chain match finder over a folder's history, for the Quantum compressor.
// Positions count from the folder's first byte; the history keeps at least a
// window's worth of bytes before the frame being compressed.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace cabbuild::quantum_enc {

struct MatchCandidate {
    uint32_t length;
    uint32_t offset;
};

class MatchFinder {
  public:
    // rebaseAt: chain entries are rebased once they span this many positions
    // (tests lower it to exercise the rebase on small inputs).
    MatchFinder(int windowBits, int maxChain, uint64_t rebaseAt = 0xFFFFFF00u);

    void Reset();
    // Adds the next frame's bytes to the history.
    void Append(std::span<const uint8_t> frame);
    // Byte at an absolute position still held in the history.
    uint8_t At(uint64_t pos) const { return buf_[size_t(pos - base_)]; }
    uint64_t End() const { return base_ + buf_.size(); }

    // Matches at pos no longer than maxLength, nearest first, each longer
    // than the one before (the shorter-but-nearer ones are often cheaper).
    // Only matches the stream can code are reported: length 3 within 4096
    // bytes, length 4 within 262144, longer ones within the window.
    void Find(uint64_t pos, uint32_t maxLength, std::vector<MatchCandidate>& out);
    // Enters positions into the hash chains up to (not including) pos.
    void InsertUpTo(uint64_t pos);

  private:
    uint32_t Hash3(uint64_t pos) const;
    uint32_t Hash4(uint64_t pos) const;
    void Slide();
    // Moves the base of the chain entries forward before they overflow.
    void Rebase();
    // Walks one chain, recording every match longer than the best so far.
    template <typename Next>
    void Walk(uint64_t pos, uint32_t entry, uint32_t maxDistance, int depth, uint32_t maxLength,
              Next next);

    uint32_t windowSize_;
    int maxChain_;
    uint64_t rebaseAt_;
    uint64_t base_ = 0;      // absolute position of buf_[0]
    uint64_t inserted_ = 0;  // positions below this are in the chains
    std::vector<uint8_t> buf_;
    // Length-3 matches only reach 4096 bytes back, so they have a short
    // chain of their own; the window-wide chain hashes 4 bytes, which keeps
    // it free of the many far 3-byte matches that could not be coded.
    // Entries hold position - epoch_ + 1 (0 = empty) in 32 bits: half the
    // memory of full positions, and the chain walk is bound by cache misses.
    uint64_t epoch_ = 0;
    std::vector<uint32_t> head3_;
    std::vector<uint32_t> prev3_;  // by position modulo 4096
    std::vector<uint32_t> head_;
    std::vector<uint32_t> prev_;  // by position modulo the table size
    std::vector<MatchCandidate> found_;
};

}  // namespace cabbuild::quantum_enc
