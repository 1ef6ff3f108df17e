// Hand-made bit streams through the decoder: each block kind, the block
// boundaries, the tree coding, and every way a stream can fail.
#include <gtest/gtest.h>

#include "lzx_stream_builder.h"

namespace {

using decoders::DECODER_ERROR_FAILED;
using decoders::DECODER_ERROR_NONE;
using lzx_test::Builder;
using lzx_test::Decoder;
using lzx_test::FlatLengths;
using lzx_test::Text;

constexpr uint32_t kBits = 16;

std::vector<uint8_t> Decoded(Decoder& decoder, const std::vector<uint8_t>& block, uint32_t wanted) {
    std::vector<uint8_t> out;
    EXPECT_EQ(decoder.Decode(block, wanted, &out), DECODER_ERROR_NONE);
    return out;
}

TEST(LzxStream, VerbatimLiteralsAndEveryKindOfDistance) {
    Builder b(kBits);
    b.E8Header(false).Header(1, 24).FlatTrees();
    b.Literals("abcdef");
    b.Match(4, 3);      // overlapping "defd": R = 3, 1, 1
    b.MatchHead(3, 0);  // R0 again: "efd"
    b.Match(2, 1);      // slot 3, distance 1: "dd"; R = 1, 3, 1
    b.MatchHead(2, 1);  // swap R0 and R1: distance 3, "dd"
    b.Match(7, 10);     // extra bits: "efdefdd"
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 24), Text("abcdefdefdefdddddefdefdd"));
}

TEST(LzxStream, LongMatchesUseTheLengthTree) {
    Builder b(kBits);
    b.E8Header(false).Header(1, 1 + 257 + 9).FlatTrees();
    b.Literal('z').Match(257, 1).Match(9, 1);
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 267), std::vector<uint8_t>(267, 'z'));
}

TEST(LzxStream, AlignedBlockTakesLowDistanceBitsFromTheAlignedTree) {
    // Aligned tree: symbol 5 in 1 bit, symbol 6 in 3, the rest in 4.
    const std::vector<uint8_t> aligned = {4, 4, 4, 4, 4, 1, 3, 4};
    const std::vector<uint8_t> text = Text("0123456789abcdefghijklmnopqrstuvwxyzABCD");
    Builder b(kBits);
    b.E8Header(false).Header(2, 40 + 5 + 4 + 3).AlignedTree(aligned).FlatTrees();
    for (uint8_t c : text) b.Literal(c);
    b.AlignedMatch(5, 37);  // 4 extra bits: 1 read + the aligned symbol
    b.AlignedMatch(4, 14);  // 3 extra bits: the aligned symbol alone
    b.AlignedMatch(3, 6);   // 2 extra bits: read directly
    Decoder decoder(kBits);
    std::vector<uint8_t> expected = text;
    for (uint32_t d : {37u, 14u, 6u}) {
        size_t n = expected.size() == 40 ? 5 : (expected.size() == 45 ? 4 : 3);
        for (size_t i = 0; i < n; ++i) expected.push_back(expected[expected.size() - d]);
    }
    EXPECT_EQ(Decoded(decoder, b.Done(), 52), expected);
}

TEST(LzxStream, EmptyLengthAndAlignedTreesConsumeNoBits) {
    Builder b(kBits);
    b.E8Header(false).Header(2, 20 + 9 + 9).AlignedTree(std::vector<uint8_t>(8, 0));
    b.Trees(FlatLengths(b.MainSymbols()), std::vector<uint8_t>(lzx::kLengthSymbols, 0));
    b.Literals("ABCDEFGHIJKLMNOPQRST");
    b.MatchHead(9, 0);  // length header 7 adds the empty tree's 0: length 9 from R0 = 1
    b.MatchHead(9, 8);  // slot 8: 3 extra bits, all from the empty aligned tree: distance 14
    std::vector<uint8_t> expected = Text("ABCDEFGHIJKLMNOPQRST");
    expected.insert(expected.end(), 9, 'T');
    for (int i = 0; i < 9; ++i) expected.push_back(expected[expected.size() - 14]);
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 38), expected);
}

TEST(LzxStream, UncompressedBlocksOddAndEvenThenVerbatim) {
    for (size_t size : {4u, 5u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> raw(size);
        for (size_t i = 0; i < size; ++i) raw[i] = static_cast<uint8_t>('0' + i);
        Builder b(kBits);
        b.E8Header(false).Header(3, static_cast<uint32_t>(size)).Raw(raw, 2, 8, 9);
        // The next header follows the pad byte of an odd block; R0 = 2 from
        // the uncompressed header.
        b.Header(1, 3).FlatTrees().MatchHead(3, 0);
        std::vector<uint8_t> expected = raw;
        for (int i = 0; i < 3; ++i) expected.push_back(expected[expected.size() - 2]);
        Decoder decoder(kBits);
        EXPECT_EQ(Decoded(decoder, b.Done(), static_cast<uint32_t>(size + 3)), expected);
    }
}

TEST(LzxStream, UncompressedHeaderOnAWordBoundaryIsFollowedBy16PaddingBits) {
    // Size-0 blocks with empty pretrees shift the bit count until the
    // uncompressed header ends exactly on a word boundary.
    Builder b(kBits);
    b.E8Header(false);
    std::vector<uint8_t> pretreeOff(20, 0);
    auto emptyBlock = [&](uint32_t kind) {
        b.Header(kind, 0);
        if (kind == 2) b.AlignedTree(std::vector<uint8_t>(8, 0));
        for (int range = 0; range < 3; ++range)
            for (int i = 0; i < 20; ++i) b.Bits().Bits(0, 4);
    };
    emptyBlock(1);
    for (int i = 0; i < 3; ++i) emptyBlock(2);
    b.Header(3, 2);
    ASSERT_EQ(b.Bits().BitsUsed() % 16, 0u);
    b.Raw({'h', 'i'});
    EXPECT_EQ(b.Bits().BitsUsed() % 16, 0u);
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 2), Text("hi"));
}

TEST(LzxStream, BlockOfSizeZeroStillReadsItsTreesAndTheNextHeaderFollows) {
    Builder b(kBits);
    b.E8Header(false).Header(1, 0).FlatTrees();
    b.Header(1, 2).Trees(FlatLengths(b.MainSymbols()), FlatLengths(lzx::kLengthSymbols));
    b.Literals("ok");
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 2), Text("ok"));
}

TEST(LzxStream, E8HeaderOnlyBeforeTheFoldersFirstHeaderAndAgainAfterReset) {
    // Two calls of one folder: the second call's header has no E8 bit.
    Builder b(kBits);
    b.E8Header(false).Header(1, 3).FlatTrees().Literals("one");
    std::vector<uint8_t> first = b.Done();
    b.Header(1, 3)
        .Trees(FlatLengths(b.MainSymbols()), FlatLengths(lzx::kLengthSymbols))
        .Literals("two");
    std::vector<uint8_t> second = b.Done();
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, first, 3), Text("one"));
    EXPECT_EQ(Decoded(decoder, second, 3), Text("two"));
    // After a reset the first header carries the bit again, here set, before
    // an uncompressed block.
    ASSERT_EQ(decoder.Reset(), DECODER_ERROR_NONE);
    Builder c(kBits);
    c.E8Header(true, 1000)
        .Header(3, 12)
        .Raw({0xE8, 0x10, 0, 0, 0, 'x', 'y', 'z', 'w', 'v', 'u', 't'});
    std::vector<uint8_t> out = Decoded(decoder, c.Done(), 12);
    EXPECT_EQ(out, std::vector<uint8_t>({0xE8, 0x10, 0, 0, 0, 'x', 'y', 'z', 'w', 'v', 'u', 't'}));
    // Offset 0 < 12 - 10 would be translated; here 0x10 - 0 stays 0x10. Check
    // with an E8 at offset 1 of a longer frame that translation is active.
    ASSERT_EQ(decoder.Reset(), DECODER_ERROR_NONE);
    Builder d(kBits);
    d.E8Header(true, 1000)
        .Header(3, 16)
        .Raw({'.', 0xE8, 0x10, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'});
    out = Decoded(decoder, d.Done(), 16);
    EXPECT_EQ(out[2], 0x0F);  // 0x10 - offset 1
}

TEST(LzxStream, BlockSpanningCallsKeepsItsTreesAndRawBytesContinue) {
    Builder b(kBits);
    b.E8Header(false).Header(1, 8).FlatTrees().Literals("abcd");
    std::vector<uint8_t> first = b.Done();
    b.Literals("ef").Match(2, 2);
    std::vector<uint8_t> second = b.Done();
    b.Header(3, 6).Raw(Text("123456"));
    std::vector<uint8_t> third = b.Done();
    // The raw block's first 2 bytes came with `third`; the rest follows.
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, first, 4), Text("abcd"));
    EXPECT_EQ(Decoded(decoder, second, 4), Text("efef"));
    std::vector<uint8_t> partial(third.begin(), third.end() - 4);
    EXPECT_EQ(Decoded(decoder, partial, 2), Text("12"));
    EXPECT_EQ(Decoded(decoder, Text("3456"), 4), Text("3456"));
}

TEST(LzxStream, PretreeRunsAreCutAtTheRangeEnd) {
    // All main lengths are written with runs; the final run of each range
    // asks for more lengths than remain.
    Builder b(kBits);
    b.E8Header(false).Header(1, 2);
    std::vector<uint8_t> main(b.MainSymbols(), 0);
    main['A'] = 1;
    main['B'] = 1;
    // Literal range: 65 zeros via 18 (51) + 17 (14), A, B, then 190 zeros
    // via 18 (51) x3 and 18 asking for 51 more where 37 remain.
    auto pretree = [&] {
        for (int i = 0; i < 20; ++i) b.Bits().Bits(i < 12 ? 4 : 5, 4);
    };
    pretree();
    b.PretreeSymbol(18).Bits().Bits(31, 5);
    b.PretreeSymbol(17).Bits().Bits(10, 4);
    b.PretreeSymbol(16).PretreeSymbol(16);  // (0 - 16) mod 17 = 1
    for (int i = 0; i < 4; ++i) b.PretreeSymbol(18).Bits().Bits(31, 5);
    // Match range: one zero run that is far longer than needed... in pieces.
    pretree();
    for (uint32_t left = b.MainSymbols() - 256; left > 0; left -= std::min(left, 51u))
        b.PretreeSymbol(18).Bits().Bits(31, 5);
    // Length tree: a 19 run (4 or 5 copies) reaching past the end.
    pretree();
    for (int i = 0; i < 5; ++i) b.PretreeSymbol(18).Bits().Bits(31, 5);  // 255 > 249: cut
    b.Use(main, std::vector<uint8_t>(lzx::kLengthSymbols, 0));
    b.Literals("BA");
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 2), Text("BA"));
}

TEST(LzxStream, PretreeRunOf19WritesTheDeltaOfTheRunsFirstPosition) {
    // Block 1 leaves 'a'..'d' at lengths 1, 2, 3, 3. Block 2 sets all four to
    // 2 with one 19 run whose delta applies to the first position's previous
    // length (1 - 16 mod 17 = 2) for every copy; deltas per position would
    // give 2, 3, 4, 4, an incomplete code.
    Builder b(kBits);
    std::vector<uint8_t> first(b.MainSymbols(), 0);
    first['a'] = 1;
    first['b'] = 2;
    first['c'] = 3;
    first['d'] = 3;
    b.E8Header(false)
        .Header(1, 1)
        .Trees(first, std::vector<uint8_t>(lzx::kLengthSymbols, 0))
        .Literal('a');
    b.Header(1, 2);
    auto pretree = [&] {
        for (int i = 0; i < 20; ++i) b.Bits().Bits(i < 12 ? 4 : 5, 4);
    };
    pretree();
    b.PretreeSymbol(18).Bits().Bits(51 - 20, 5);  // 97 zeros up to 'a'
    b.PretreeSymbol(18).Bits().Bits(46 - 20, 5);
    b.PretreeSymbol(19).Bits().Bits(0, 1);  // 4 copies
    b.PretreeSymbol(16);
    for (int i = 0; i < 4; ++i) b.PretreeSymbol(18).Bits().Bits(51 - 20, 5);  // cut at 256
    pretree();
    for (uint32_t left = b.MainSymbols() - 256; left > 0; left -= std::min(left, 51u))
        b.PretreeSymbol(18).Bits().Bits(31, 5);
    pretree();
    for (int i = 0; i < 5; ++i) b.PretreeSymbol(18).Bits().Bits(31, 5);
    std::vector<uint8_t> main(b.MainSymbols(), 0);
    for (char c : {'a', 'b', 'c', 'd'}) main[static_cast<uint8_t>(c)] = 2;
    b.Use(main, std::vector<uint8_t>(lzx::kLengthSymbols, 0));
    b.Literals("db");
    Decoder decoder(kBits);
    EXPECT_EQ(Decoded(decoder, b.Done(), 3), Text("adb"));
}

TEST(LzxStream, MatchEndingExactlyAtTheCallsEndIsAcceptedOneBytePastFails) {
    for (uint32_t length : {6u, 7u}) {
        SCOPED_TRACE(length);
        Builder b(kBits);
        b.E8Header(false).Header(1, 100).FlatTrees().Literals("abcd").Match(length, 4);
        Decoder decoder(kBits);
        std::vector<uint8_t> out;
        int rc = decoder.Decode(b.Done(), 10, &out);
        if (length == 6) {
            EXPECT_EQ(rc, DECODER_ERROR_NONE);
            EXPECT_EQ(out, Text("abcdabcdab"));
        } else {
            EXPECT_EQ(rc, DECODER_ERROR_FAILED);
            EXPECT_TRUE(out.empty());
        }
    }
}

TEST(LzxStream, MatchReachesThePreviousFoldersBytesAfterReset) {
    Decoder decoder(15);
    Builder first(15);
    std::vector<uint8_t> old;
    for (int i = 0; i < 64; ++i) old.push_back(static_cast<uint8_t>('A' + i % 26));
    first.E8Header(false).Header(3, 64).Raw(old);
    EXPECT_EQ(Decoded(decoder, first.Done(), 64), old);
    ASSERT_EQ(decoder.Reset(), DECODER_ERROR_NONE);
    // The new folder writes from window position 0 again; 10 bytes in, a
    // match from 32758 back reads old position 20 onward.
    Builder second(15);
    second.E8Header(false).Header(1, 15).FlatTrees().Literals("xxxxxxxxxx").Match(5, 32758);
    std::vector<uint8_t> expected = Text("xxxxxxxxxx");
    expected.insert(expected.end(), old.begin() + 20, old.begin() + 25);
    EXPECT_EQ(Decoded(decoder, second.Done(), 15), expected);
}

TEST(LzxStream, MatchesAcrossTheWindowEndUseTheMirror) {
    // Fill a 32 KiB window, then copy from just before its end into position
    // 0..: the source wraps; later matches near the end read the mirror.
    Decoder decoder(15);
    Builder b(15);
    std::vector<uint8_t> frame(32768);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 7 + i / 251);
    b.E8Header(false).Header(3, 32768).Raw(frame);
    EXPECT_EQ(Decoded(decoder, b.Done(), 32768), frame);
    b.Header(1, 32768).FlatTrees();
    b.Match(257, 100);  // from 32668: wraps at the window end
    b.Match(257, 32765);
    std::vector<uint8_t> next(frame.end() - 100, frame.end());
    for (size_t i = 0; next.size() < 257; ++i) next.push_back(next[i]);
    for (size_t i = 0; i < 257; ++i) next.push_back(frame[257 + i + 3]);
    uint32_t produced = 514;
    // Then the rest of the frame: literals, and near the end a match whose
    // source runs past the window end into the mirror.
    for (; produced < 32768 - 300; ++produced) {
        b.Literal(static_cast<uint8_t>(produced));
        next.push_back(static_cast<uint8_t>(produced));
    }
    b.Match(257, 32765 - 10);  // source = p + 13: the last 13 bytes, then the mirror
    for (uint32_t i = 0; i < 257; ++i) {
        uint32_t p = produced + i;
        uint32_t src = (p + 13) % 32768;
        next.push_back(src < p ? next[src] : frame[src]);
    }
    produced += 257;
    for (; produced < 32768; ++produced) {
        b.Literal(1);
        next.push_back(1);
    }
    EXPECT_EQ(Decoded(decoder, b.Done(), 32768), next);
}

// ---- failures ------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::vector<uint8_t> (*make)();
    uint32_t wanted;
};

std::vector<uint8_t> KindZero() {
    return Builder(kBits).E8Header(false).Header(0, 5).Done();
}
std::vector<uint8_t> KindFour() {
    return Builder(kBits).E8Header(false).Header(4, 5).Done();
}
std::vector<uint8_t> KindSeven() {
    return Builder(kBits).E8Header(false).Header(7, 5).Done();
}
std::vector<uint8_t> UncompressedPastData() {
    Builder b(kBits);
    b.E8Header(false).Header(3, 5);
    return b.Done();  // the realigned position is the end of the data
}
std::vector<uint8_t> UncompressedBytesMissing() {
    Builder b(kBits);
    b.E8Header(false).Header(3, 12).Raw({'a', 'b', 'c'});  // 3 + 4 zero bytes may be read, not 12
    return b.Done();
}
std::vector<uint8_t> IncompletePretree() {
    Builder b(kBits);
    b.E8Header(false).Header(1, 1);
    for (int i = 0; i < 20; ++i) b.Bits().Bits(i < 3 ? 2 : 0, 4);  // 3/4 of the code space
    return b.Done();
}
std::vector<uint8_t> OversubscribedMainTree() {
    Builder b(kBits);
    std::vector<uint8_t> main(b.MainSymbols(), 1);
    b.E8Header(false).Header(1, 1).Trees(main, FlatLengths(lzx::kLengthSymbols));
    return b.Done();
}
std::vector<uint8_t> IncompleteLengthTree() {
    Builder b(kBits);
    std::vector<uint8_t> lengths(lzx::kLengthSymbols, 0);
    lengths[3] = 1;
    b.E8Header(false).Header(1, 1).Trees(FlatLengths(b.MainSymbols()), lengths);
    return b.Done();
}
std::vector<uint8_t> IncompleteAlignedTree() {
    Builder b(kBits);
    b.E8Header(false).Header(2, 1).AlignedTree({1, 2, 3, 0, 0, 0, 0, 0});
    b.FlatTrees();
    return b.Done();
}
std::vector<uint8_t> TreeLengthsOverrun() {
    Builder b(kBits);
    b.E8Header(false).Header(1, 1);
    std::vector<uint8_t> main = FlatLengths(b.MainSymbols());
    std::vector<uint8_t> zeros(b.MainSymbols(), 0);
    b.Range(main.data(), zeros.data(), 200);  // stops in the middle of the range
    return b.Done();
}
std::vector<uint8_t> SymbolDueAfterTheData() {
    Builder b(kBits);
    b.E8Header(false).Header(1, 10).FlatTrees().Literals("abc");
    return b.Done();  // 7 more symbols wanted, none there
}
std::vector<uint8_t> MatchPastTheBlockEnd() {
    Builder b(kBits);
    b.E8Header(false).Header(1, 5).FlatTrees().Literals("ab").Match(4, 2);
    return b.Done();
}

TEST(LzxStream, FailuresGiveFailedAndSizeZero) {
    const FailureCase cases[] = {
        {"block kind 0", KindZero, 5},
        {"block kind 4", KindFour, 5},
        {"block kind 7", KindSeven, 5},
        {"uncompressed block with no data after its header", UncompressedPastData, 5},
        {"uncompressed bytes missing", UncompressedBytesMissing, 12},
        {"incomplete pretree", IncompletePretree, 1},
        {"oversubscribed main tree", OversubscribedMainTree, 1},
        {"incomplete length tree", IncompleteLengthTree, 1},
        {"incomplete aligned tree", IncompleteAlignedTree, 1},
        {"overrun in tree lengths", TreeLengthsOverrun, 1},
        {"symbol due after the data", SymbolDueAfterTheData, 10},
        {"match past the block end", MatchPastTheBlockEnd, 10},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Decoder decoder(kBits);
        std::vector<uint8_t> out;
        EXPECT_EQ(decoder.Decode(c.make(), c.wanted, &out), DECODER_ERROR_FAILED);
        EXPECT_TRUE(out.empty());
    }
}

TEST(LzxStream, FrameThatWouldPassTheWindowEndFails) {
    // A short block leaves the window position unaligned; a full frame after
    // it would run past the end of a 32 KiB window.
    Decoder decoder(15);
    Builder b(15);
    b.E8Header(false).Header(3, 100).Raw(std::vector<uint8_t>(100, 'q'));
    std::vector<uint8_t> out;
    EXPECT_EQ(decoder.Decode(b.Done(), 100, &out), DECODER_ERROR_NONE);
    b.Header(3, 32768).Raw(std::vector<uint8_t>(32768, 'r'));
    EXPECT_EQ(decoder.Decode(b.Done(), 32768, &out), DECODER_ERROR_FAILED);
}

TEST(LzxStream, CallWantingZeroBytesReadsNothing) {
    Builder b(kBits);
    b.E8Header(false).Header(1, 3).FlatTrees().Literals("abc");
    Decoder decoder(kBits);
    std::vector<uint8_t> out;
    EXPECT_EQ(decoder.Decode({}, 0, &out), DECODER_ERROR_NONE);
    EXPECT_EQ(Decoded(decoder, b.Done(), 3), Text("abc"));
}

}  // namespace
