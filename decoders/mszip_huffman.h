// Canonical Huffman decoding tables for the MSZIP decoder.
//
// A table is a root of 2^rootBits entries indexed by the next rootBits input
// bits (least significant first), plus sub-tables for codes longer than the
// root. One 32-bit entry tells everything the decode loop needs:
//   bits 0-7   bits to consume at this level (codeword length, or rootBits
//              for a link to a sub-table)
//   bits 8-11  extra bits of a length/distance symbol, or the size in bits of
//              the linked sub-table
//   bit 13     end of block (value 0) or invalid code (value 1)
//   bit 14     link to a sub-table; the value is its first index
//   bit 15     literal byte, or a code-length symbol standing for itself
//   bits 16-31 value: the literal or symbol, the length or distance base, or
//              the sub-table index
#pragma once

#include <cstddef>
#include <cstdint>

namespace mszip::detail {

inline constexpr uint32_t kEntryLiteral = 0x8000;
inline constexpr uint32_t kEntrySubtable = 0x4000;
inline constexpr uint32_t kEntryExceptional = 0x2000;  // end of block or invalid
inline constexpr uint32_t kInvalidEntry = kEntryExceptional | (1u << 16);
inline constexpr uint32_t kEndOfBlockEntry = kEntryExceptional;

inline constexpr unsigned kMaxCodeLength = 15;
inline constexpr unsigned kLitLenSymbols = 288;
inline constexpr unsigned kDistanceSymbols = 32;
inline constexpr unsigned kCodeLengthSymbols = 19;

inline constexpr unsigned kLitLenRootBits = 11;
inline constexpr unsigned kDistanceRootBits = 8;
inline constexpr unsigned kCodeLengthRootBits = 7;

// Room for the worst complete code: the root plus one sub-table of at most
// 2^(15 - rootBits) entries for every symbol that could need one.
inline constexpr size_t kLitLenTableSize =
    (size_t{1} << kLitLenRootBits) +
    kLitLenSymbols * (size_t{1} << (kMaxCodeLength - kLitLenRootBits));
inline constexpr size_t kDistanceTableSize =
    (size_t{1} << kDistanceRootBits) +
    kDistanceSymbols * (size_t{1} << (kMaxCodeLength - kDistanceRootBits));
inline constexpr size_t kCodeLengthTableSize = size_t{1} << kCodeLengthRootBits;

// What a symbol decodes to, apart from its codeword length.
enum class SymbolKind { kLitLen, kDistance, kCodeLength };

// Results of building a table; anything but kOk fails a dynamic block.
enum class BuildResult : int {
    kOk = 0,
    kIncomplete = 1,  // a single one-bit code is accepted and reported as kOk
    kOverSubscribed = 2,
    kNoRoom = 3,  // cannot happen with the sizes above; kept as a guard
};

// Builds the table for `count` symbols with the given code lengths (0: no
// code). Codes left over by an incomplete code decode as invalid. A code with
// no symbols at all builds a table in which every input is invalid, so the
// first symbol decoded with it fails the block.
BuildResult BuildTable(const uint8_t* lengths, unsigned count, SymbolKind kind, unsigned rootBits,
                       uint32_t* table, size_t capacity);

struct FixedTables {
    uint32_t litLen[size_t{1} << kLitLenRootBits];
    uint32_t distance[size_t{1} << kDistanceRootBits];
};

// The fixed-code tables, built on first use; safe to call from any thread.
const FixedTables& GetFixedTables();

}  // namespace mszip::detail
