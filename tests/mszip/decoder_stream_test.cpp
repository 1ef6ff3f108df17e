// Decoding hand-made MSZIP blocks: every failure, the output limit, the
// history shared through the output buffer and the odd corners of deflate.
#include <gtest/gtest.h>

#include <functional>

#include "tests/mszip/mszip_helpers.h"

namespace mszip_test {
namespace {

using namespace decoders;

void StoredBlock(BitWriter& w, bool final, const Bytes& data, uint32_t claimed) {
    w.Bits(final ? 1 : 0, 1);
    w.Bits(0, 2);
    w.AlignToByte();
    w.Bits(claimed, 16);
    w.Bits(~claimed & 0xFFFF, 16);
    for (uint8_t b : data) w.Byte(b);
}
void StoredBlock(BitWriter& w, bool final, const Bytes& data) {
    StoredBlock(w, final, data, static_cast<uint32_t>(data.size()));
}

void FixedHeader(BitWriter& w, bool final) {
    w.Bits(final ? 1 : 0, 1);
    w.Bits(1, 2);
}
// A fixed-code match; lengths 3..10 and distances 1..4 or a 5-bit-extra range suffice here.
void FixedMatch(BitWriter& w, unsigned length, unsigned distance) {
    ASSERT_TRUE(length >= 3 && length <= 10);
    FixedLit(w, 254 + length);  // symbols 257..264 have no extra bits
    // Distance symbol and extra bits for any distance.
    static const unsigned base[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    unsigned sym = 29;
    while (base[sym] > distance) --sym;
    w.Code(sym, 5);
    const unsigned extra = sym < 4 ? 0 : sym / 2 - 1;
    w.Bits(distance - base[sym], extra);
}

Bytes Iota(size_t n) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
    return b;
}

TEST(MszipStream, SignatureMustBeCK) {
    const Bytes valid = ZlibBlocks(PatternData(1000, 1), 6)[0];
    Decoder d;
    Bytes out;
    ASSERT_EQ(d.Decode(valid, &out), DECODER_ERROR_NONE);
    EXPECT_EQ(out, PatternData(1000, 1));
    for (Bytes bad :
         {Bytes(valid.begin() + 2, valid.end()), Bytes{'C'}, Bytes{}, Bytes{'C', 'k'}}) {
        if (bad.size() >= 2 && bad[0] == 'C' && bad[1] == 'k')
            bad.insert(bad.end(), valid.begin() + 2, valid.end());
        EXPECT_EQ(d.Decode(bad), DECODER_ERROR_FAILED);
    }
}

TEST(MszipStream, PayloadUsedUpBeforeTheFinalBlockFails) {
    // The zeros read past the end form a stored block with LEN 0 and NLEN 0.
    BitWriter stored;
    StoredBlock(stored, false, {'a', 'b', 'c'});
    BitWriter fixed;
    FixedHeader(fixed, false);
    FixedLit(fixed, 'x');
    FixedLit(fixed, 256);
    for (const Bytes& payload : {stored.Payload(), fixed.Payload(), Bytes{'C', 'K'}}) {
        Decoder d;
        EXPECT_EQ(d.Decode(payload), DECODER_ERROR_FAILED);
    }
}

TEST(MszipStream, ZeroLookaheadPastTheEndIsNotAnError) {
    // A final fixed block whose end-of-block code (seven zero bits) lies wholly
    // past the last byte still decodes: the missing bits read as zeros.
    BitWriter w;
    FixedHeader(w, true);
    FixedLit(w, 'h');
    FixedLit(w, 'i');
    Bytes payload = w.Payload();  // 3 + 16 bits: the last byte holds 5 unused zero bits
    Decoder d;
    Bytes out;
    ASSERT_EQ(d.Decode(payload, &out), DECODER_ERROR_NONE);
    EXPECT_EQ(out, (Bytes{'h', 'i'}));
}

TEST(MszipStream, OutputIsCappedAtTheRoomWithSuccess) {
    // 40000 bytes in one deflate stream: exactly the room is produced.
    const Bytes data = PatternData(40000, 7);
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes payload(deflateBound(&z, data.size()) + 2);
    payload[0] = 'C';
    payload[1] = 'K';
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = payload.data() + 2;
    z.avail_out = static_cast<uInt>(payload.size() - 2);
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    payload.resize(payload.size() - z.avail_out);
    deflateEnd(&z);
    ASSERT_LE(payload.size(), kBlock + 12);

    for (uint32_t room : {kBlock, 1000u, 1u, 0u}) {
        Decoder d;
        Bytes out;
        ASSERT_EQ(d.Decode(payload, &out, room), DECODER_ERROR_NONE) << room;
        EXPECT_EQ(out, Bytes(data.begin(), data.begin() + room)) << room;
    }
    // A stored block longer than the room fills it; the rest is never read.
    BitWriter w;
    StoredBlock(w, true, Bytes(10, 'z'), 60000);
    Decoder d;
    Bytes out;
    ASSERT_EQ(d.Decode(w.Payload(), &out, 10), DECODER_ERROR_NONE);
    EXPECT_EQ(out, Bytes(10, 'z'));
    EXPECT_EQ(d.Decode(w.Payload(), &out, 11),
              DECODER_ERROR_FAILED);  // now it would read past the payload
}

TEST(MszipStream, SecondBlockRefersBackIntoTheFirst) {
    Bytes data = RandomData(kBlock, 5);
    const Bytes again(data.begin() + 1000, data.begin() + 21000);  // within zlib's reach
    data.insert(data.end(), again.begin(), again.end());
    const auto blocks = ZlibBlocks(data, 9);
    ASSERT_EQ(blocks.size(), 2u);
    ASSERT_LT(blocks[1].size(), 200u);  // the second block is nothing but references into the first
    Decoder d;
    Bytes first, second;
    ASSERT_EQ(d.Decode(blocks[0], &first), DECODER_ERROR_NONE);
    ASSERT_EQ(d.Decode(blocks[1], &second), DECODER_ERROR_NONE);
    EXPECT_EQ(first, Bytes(data.begin(), data.begin() + kBlock));
    EXPECT_EQ(second, again);
}

TEST(MszipStream, ReferencesBeforeTheFolderStartFail) {
    BitWriter w;
    FixedHeader(w, true);
    FixedLit(w, 'a');
    FixedMatch(w, 3, 2);  // one byte before the first byte of the folder
    FixedLit(w, 256);
    Decoder d;
    d.buffer().assign(kBlock, 'q');  // bytes of some earlier folder
    EXPECT_EQ(d.Decode(w.Payload()), DECODER_ERROR_FAILED);

    // After a short block, the buffer holds only that block's bytes of this folder.
    BitWriter first;
    StoredBlock(first, true, Iota(100));
    auto second = [](unsigned distance) {
        BitWriter s;
        FixedHeader(s, true);
        FixedMatch(s, 3, 32768);  // the ring slot of this very position: the old byte 0
        FixedMatch(s, 3, distance);
        FixedLit(s, 256);
        return s.Payload();
    };
    Bytes out;
    ASSERT_EQ(d.Reset(), DECODER_ERROR_NONE);
    ASSERT_EQ(d.Decode(first.Payload()), DECODER_ERROR_NONE);
    ASSERT_EQ(d.Decode(second(32700), &out),
              DECODER_ERROR_NONE);  // slot 71: written by the first block
    EXPECT_EQ(out, (Bytes{0, 1, 2, 71, 72, 73}));
    EXPECT_EQ(d.Decode(second(100), &out),
              DECODER_ERROR_FAILED);  // slot 32671: never written by this folder
    // A reset starts a new folder: even the bytes just written are not its history.
    ASSERT_EQ(d.Decode(first.Payload()), DECODER_ERROR_NONE);
    ASSERT_EQ(d.Reset(), DECODER_ERROR_NONE);
    EXPECT_EQ(d.Decode(second(32700)), DECODER_ERROR_FAILED);
}

TEST(MszipStream, StoredBlocks) {
    struct Case {
        const char* name;
        std::function<void(BitWriter&)> write;
        int result;
        Bytes expected;
    };
    const Case cases[] = {
        {"empty stored block, then more",
         [](BitWriter& w) {
             StoredBlock(w, false, {});
             FixedHeader(w, true);
             FixedLit(w, 'k');
             FixedLit(w, 256);
         },
         DECODER_ERROR_NONE, Bytes{'k'}},
        {"stored after fixed bits, aligned to the byte",
         [](BitWriter& w) {
             FixedHeader(w, false);
             FixedLit(w, 'a');
             FixedLit(w, 256);
             StoredBlock(w, true, {'b', 'c'});
         },
         DECODER_ERROR_NONE, Bytes{'a', 'b', 'c'}},
        {"NLEN not the complement",
         [](BitWriter& w) {
             w.Bits(1, 3);
             w.AlignToByte();
             w.Bits(2, 16);
             w.Bits(0xFFFE, 16);
             w.Byte('x');
             w.Byte('y');
         },
         DECODER_ERROR_FAILED,
         {}},
        {"LEN longer than the payload",
         [](BitWriter& w) {
             StoredBlock(w, true, {'x', 'y'}, 3);
         },
         DECODER_ERROR_FAILED,
         {}},
        {"LEN and NLEN cut off",
         [](BitWriter& w) {
             w.Bits(1, 3);
             w.AlignToByte();
             w.Bits(0xFF00, 16);
             w.Byte(0xFF);
         },
         DECODER_ERROR_FAILED,
         {}},
        {"reserved block type", [](BitWriter& w) { w.Bits(7, 3); }, DECODER_ERROR_FAILED, {}},
    };
    for (const Case& c : cases) {
        BitWriter w;
        c.write(w);
        Decoder d;
        Bytes out;
        EXPECT_EQ(d.Decode(w.Payload(), &out), c.result) << c.name;
        if (c.result == DECODER_ERROR_NONE) {
            EXPECT_EQ(out, c.expected) << c.name;
        }
    }
}

TEST(MszipStream, FixedCodesThatMeanNothingFail) {
    for (int which = 0; which < 4; ++which) {
        BitWriter w;
        FixedHeader(w, true);
        FixedLit(w, 'a');
        if (which < 2) {
            FixedLit(w, 286 + which);
        } else {
            FixedLit(w, 257);
            w.Code(30 + (which - 2), 5);
        }
        FixedLit(w, 256);
        Decoder d;
        EXPECT_EQ(d.Decode(w.Payload()), DECODER_ERROR_FAILED) << which;
    }
}

// Literal/length lengths: 'a', 'b', end of block and length symbol 257 (3
// bytes) with two bits each: a complete code.
std::vector<uint8_t> SmallLitLen(size_t count = 258) {
    std::vector<uint8_t> l;
    for (size_t s = 0; s < count; ++s)
        l.push_back(s == 'a' || s == 'b' || s == 256 || s == 257 ? 2 : 0);
    return l;
}

TEST(MszipStream, DynamicBlockCounts) {
    // 287 literal/length codes or 31 distance codes fail even when all else is valid.
    for (auto [litLen, dist] : {std::pair{286, 30}, std::pair{287, 1}, std::pair{258, 31}}) {
        BitWriter w;
        // A single one-bit code, or two when there is room.
        std::vector<uint8_t> distLengths;
        for (int i = 0; i < dist; ++i) distLengths.push_back(i < 2 ? 1 : 0);
        auto codes =
            WriteDynamicHeader(w, true, SmallLitLen(static_cast<size_t>(litLen)), distLengths);
        codes.Lit(w, 'a');
        codes.Lit(w, 257);
        codes.Dist(w, 0);
        codes.Lit(w, 256);
        Decoder d;
        Bytes out;
        const int expected =
            (litLen <= 286 && dist <= 30) ? DECODER_ERROR_NONE : DECODER_ERROR_FAILED;
        EXPECT_EQ(d.Decode(w.Payload(), &out), expected) << litLen << " " << dist;
        if (expected == DECODER_ERROR_NONE) {
            EXPECT_EQ(out, Bytes(4, 'a'));
        }
    }
}

TEST(MszipStream, DynamicCodeCompleteness) {
    struct Case {
        const char* name;
        std::vector<uint8_t> litLen, dist;
        bool useMatch;
        int result;
    };
    auto gap = SmallLitLen();
    gap[257] = 0;  // three two-bit codes: one code left unused
    auto over = SmallLitLen();
    over['c'] = 2;  // five two-bit codes
    std::vector<uint8_t> none(258, 0);
    const Case cases[] = {
        {"single one-bit distance code", SmallLitLen(), {1}, true, DECODER_ERROR_NONE},
        {"single two-bit distance code", SmallLitLen(), {2}, true, DECODER_ERROR_FAILED},
        {"incomplete literal/length code", gap, {1, 1}, false, DECODER_ERROR_FAILED},
        {"over-subscribed literal/length code", over, {1, 1}, false, DECODER_ERROR_FAILED},
        {"empty distance code, no match", SmallLitLen(), {0}, false, DECODER_ERROR_NONE},
        {"empty distance code used by a match", SmallLitLen(), {0}, true, DECODER_ERROR_FAILED},
        {"empty literal/length code", none, {1, 1}, false, DECODER_ERROR_FAILED},
    };
    for (const Case& c : cases) {
        BitWriter w;
        auto codes = WriteDynamicHeader(w, true, c.litLen, c.dist);
        if (c.litLen['a']) codes.Lit(w, 'a');
        if (c.useMatch) {
            codes.Lit(w, 257);
            if (c.dist[0]) codes.Dist(w, 0);
        }
        if (c.litLen[256]) codes.Lit(w, 256);
        Decoder d;
        Bytes out;
        EXPECT_EQ(d.Decode(w.Payload(), &out), c.result) << c.name;
        if (c.result == DECODER_ERROR_NONE) {
            EXPECT_EQ(out, Bytes(c.useMatch ? 4 : 1, 'a')) << c.name;
        }
    }
}

// Writes a dynamic header whose code-length code is given explicitly: the
// code-length symbols in `lengthSymbols` are written with a code that gives
// symbols 0..3, 16, 17 and 18 three bits each (plus 8 with three bits so the
// code is complete).
void CodeLengthHeader(BitWriter& w, unsigned litLenCount, unsigned distCount,
                      const std::vector<std::pair<unsigned, unsigned>>& lengthSymbols) {
    w.Bits(1, 1);
    w.Bits(2, 2);
    w.Bits(litLenCount - 257, 5);
    w.Bits(distCount - 1, 5);
    w.Bits(19 - 4, 4);
    static const uint8_t order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::vector<uint8_t> lengths(19, 0);
    for (unsigned s : {0u, 1u, 2u, 3u, 8u, 16u, 17u, 18u}) lengths[s] = 3;
    for (uint8_t s : order) w.Bits(lengths[s], 3);
    const auto codes = CanonicalCodes(lengths);
    for (auto [symbol, extra] : lengthSymbols) {
        w.Code(codes[symbol], 3);
        if (symbol == 16) w.Bits(extra, 2);
        if (symbol == 17) w.Bits(extra, 3);
        if (symbol == 18) w.Bits(extra, 7);
    }
}

TEST(MszipStream, CodeLengthRuns) {
    // 257 literal/length and 1 distance code: 'a' and end of block one bit each.
    // A repeat at the very start repeats a zero; runs must stay inside the count.
    // 6 + 91 zeros (0..96), 'a', 138 + 20 zeros (98..255), end of block, distance 0.
    const std::vector<std::pair<unsigned, unsigned>> ok = {{16, 3}, {18, 80}, {1, 0}, {18, 127},
                                                           {18, 9}, {1, 0},   {1, 0}};
    BitWriter w;
    CodeLengthHeader(w, 257, 1, ok);
    w.Code(0, 1);  // 'a'
    w.Code(1, 1);  // end of block
    Decoder d;
    Bytes out;
    EXPECT_EQ(d.Decode(w.Payload(), &out), DECODER_ERROR_NONE);
    EXPECT_EQ(out, Bytes{'a'});

    // The same with a final run one past the end of the lengths.
    BitWriter past;
    CodeLengthHeader(past, 257, 1, {{18, 127}, {18, 127}, {17, 0}});  // 138 + 138 + 3 = 279 > 258
    EXPECT_EQ(d.Decode(past.Payload()), DECODER_ERROR_FAILED);

    // A code-length code without any code.
    BitWriter empty;
    empty.Bits(1, 1);
    empty.Bits(2, 2);
    empty.Bits(0, 5);
    empty.Bits(0, 5);
    empty.Bits(15, 4);
    for (int i = 0; i < 19; ++i) empty.Bits(0, 3);
    empty.Bits(0xFFFF, 16);
    EXPECT_EQ(d.Decode(empty.Payload()), DECODER_ERROR_FAILED);
}

TEST(MszipStream, BlockWithoutEndCodeSucceedsWhenItFillsTheOutput) {
    // Only literals 'x' and 'y' have codes: the block can never end, but the
    // output fills up and the call is complete.
    std::vector<uint8_t> litLen(257, 0);
    litLen['x'] = litLen['y'] = 1;
    BitWriter w;
    auto codes = WriteDynamicHeader(w, true, litLen, {0});
    for (int i = 0; i < 20; ++i) codes.Lit(w, i % 2 ? 'y' : 'x');
    Decoder d;
    Bytes out;
    ASSERT_EQ(d.Decode(w.Payload(), &out, 20), DECODER_ERROR_NONE);
    EXPECT_EQ(out.size(), 20u);
    EXPECT_EQ(out[19], 'y');
}

TEST(MszipStream, DecoderStaysUsableAfterAFailure) {
    const Bytes data = PatternData(5000, 9);
    const Bytes good = ZlibBlocks(data, 6)[0];
    Bytes bad = good;
    bad[2] = static_cast<uint8_t>(bad[2] | 0x06);  // block type 3
    Decoder d;
    Bytes out;
    EXPECT_EQ(d.Decode(bad), DECODER_ERROR_FAILED);
    ASSERT_EQ(d.Decode(good, &out), DECODER_ERROR_NONE);
    EXPECT_EQ(out, data);
}

}  // namespace
}  // namespace mszip_test
