#include "decoders/mszip_huffman.h"

#include <algorithm>
#include <iterator>

namespace mszip::detail {

namespace {

// Length symbols 257..285 and distance symbols 0..29: base and extra bits.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                      15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                      67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr uint32_t ValueEntry(uint32_t value, uint32_t extraBits) {
    return (value << 16) | (extraBits << 8);
}

// The entry of a symbol without its codeword length.
uint32_t SymbolEntry(SymbolKind kind, unsigned symbol) {
    switch (kind) {
        case SymbolKind::kCodeLength:
            return kEntryLiteral | (symbol << 16);
        case SymbolKind::kLitLen:
            if (symbol < 256) return kEntryLiteral | (symbol << 16);
            if (symbol == 256) return kEndOfBlockEntry;
            if (symbol < 286)
                return ValueEntry(kLengthBase[symbol - 257], kLengthExtra[symbol - 257]);
            return kInvalidEntry;  // 286 and 287 exist only in the fixed code and mean nothing
        case SymbolKind::kDistance:
            if (symbol < 30) return ValueEntry(kDistanceBase[symbol], kDistanceExtra[symbol]);
            return kInvalidEntry;
    }
    return kInvalidEntry;
}

uint32_t ReverseBits(uint32_t code, unsigned length) {
    uint32_t reversed = 0;
    for (unsigned i = 0; i < length; ++i) {
        reversed = (reversed << 1) | (code & 1);
        code >>= 1;
    }
    return reversed;
}

}  // namespace

BuildResult BuildTable(const uint8_t* lengths, unsigned count, SymbolKind kind, unsigned rootBits,
                       uint32_t* table, size_t capacity) {
    const size_t rootSize = size_t{1} << rootBits;
    if (rootSize > capacity || count > kLitLenSymbols) return BuildResult::kNoRoom;

    unsigned lengthCount[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < count; ++s) {
        if (lengths[s] > kMaxCodeLength) return BuildResult::kOverSubscribed;
        ++lengthCount[lengths[s]];
    }
    lengthCount[0] = 0;
    unsigned maxLength = kMaxCodeLength;
    while (maxLength > 0 && lengthCount[maxLength] == 0) --maxLength;
    if (maxLength == 0) {
        std::fill(table, table + rootSize, kInvalidEntry);
        return BuildResult::kOk;
    }

    // Kraft sum: codes left unassigned at the longest length.
    int left = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        left = (left << 1) - static_cast<int>(lengthCount[len]);
        if (left < 0) return BuildResult::kOverSubscribed;
    }
    const bool incomplete = left > 0;
    if (incomplete) {
        // The only incomplete codes ever used (a single one-bit code, the
        // fixed distance code) fit in the root; longer ones fail anyway.
        if (maxLength > rootBits) return BuildResult::kIncomplete;
        std::fill(table, table + rootSize, kInvalidEntry);
    }

    // Symbols in canonical order: by length, then by value.
    unsigned offset[kMaxCodeLength + 2] = {};
    for (unsigned len = 1; len <= kMaxCodeLength; ++len)
        offset[len + 1] = offset[len] + lengthCount[len];
    uint16_t sorted[kLitLenSymbols];
    for (unsigned s = 0; s < count; ++s) {
        if (lengths[s] != 0) sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    unsigned total = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) total += lengthCount[len];

    unsigned remaining[kMaxCodeLength + 1];
    std::copy(std::begin(lengthCount), std::end(lengthCount), remaining);
    size_t next = rootSize;  // first free entry after the root
    uint32_t code = 0;       // canonical code, most significant bit first
    unsigned codeLength = 0;
    uint32_t openPrefix = UINT32_MAX;
    size_t subStart = 0;
    unsigned subBits = 0;
    for (unsigned i = 0; i < total; ++i) {
        const unsigned symbol = sorted[i];
        const unsigned len = lengths[symbol];
        code <<= (len - codeLength);
        codeLength = len;
        const uint32_t reversed = ReverseBits(code, len);
        const uint32_t entry = SymbolEntry(kind, symbol);
        if (len <= rootBits) {
            for (size_t slot = reversed; slot < rootSize; slot += size_t{1} << len)
                table[slot] = entry | len;
        } else {
            const uint32_t prefix = reversed & static_cast<uint32_t>(rootSize - 1);
            if (prefix != openPrefix) {
                // Size the sub-table to hold every remaining code under this prefix.
                subBits = len - rootBits;
                int room = 1 << subBits;
                while (subBits + rootBits < maxLength) {
                    room -= static_cast<int>(remaining[subBits + rootBits]);
                    if (room <= 0) break;
                    ++subBits;
                    room <<= 1;
                }
                subStart = next;
                next += size_t{1} << subBits;
                if (next > capacity || subStart > 0xFFFF) return BuildResult::kNoRoom;
                table[prefix] = kEntrySubtable | (static_cast<uint32_t>(subStart) << 16) |
                                (subBits << 8) | rootBits;
                openPrefix = prefix;
            }
            const unsigned subLength = len - rootBits;
            for (size_t slot = reversed >> rootBits; slot < (size_t{1} << subBits);
                 slot += size_t{1} << subLength)
                table[subStart + slot] = entry | subLength;
        }
        --remaining[len];
        ++code;
    }
    if (incomplete && maxLength != 1) return BuildResult::kIncomplete;
    return BuildResult::kOk;
}

namespace {

FixedTables BuildFixedTables() {
    FixedTables tables{};
    uint8_t lengths[kLitLenSymbols];
    std::fill(lengths, lengths + 144, uint8_t{8});
    std::fill(lengths + 144, lengths + 256, uint8_t{9});
    std::fill(lengths + 256, lengths + 280, uint8_t{7});
    std::fill(lengths + 280, lengths + 288, uint8_t{8});
    BuildTable(lengths, kLitLenSymbols, SymbolKind::kLitLen, kLitLenRootBits, tables.litLen,
               std::size(tables.litLen));
    // 30 five-bit codes: the two left over decode as invalid.
    std::fill(lengths, lengths + 30, uint8_t{5});
    BuildTable(lengths, 30, SymbolKind::kDistance, kDistanceRootBits, tables.distance,
               std::size(tables.distance));
    return tables;
}

}  // namespace

const FixedTables& GetFixedTables() {
    // Initialisation of a function-local static is thread-safe.
    static const FixedTables tables = BuildFixedTables();
    return tables;
}

}  // namespace mszip::detail
