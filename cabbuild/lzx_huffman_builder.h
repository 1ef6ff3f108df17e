// Code lengths and canonical codes for the compressor's Huffman trees.
#pragma once

#include <cstdint>
#include <vector>

namespace cabbuild::lzx_detail {

// Code lengths for the given frequencies, none above maxLength. The result is
// always a complete code, except that no used symbol at all gives all zeros
// (an empty tree). A single used symbol is paired with a neighbour.
std::vector<uint8_t> BuildCodeLengths(const uint32_t* frequencies, uint32_t symbols,
                                      uint32_t maxLength);

// Canonical codes (assigned by length, then symbol) for the given lengths.
std::vector<uint16_t> CanonicalCodes(const uint8_t* lengths, uint32_t symbols);

}  // namespace cabbuild::lzx_detail
