#include "codec/cslide.h"
#include "codec/cslide_reference.h"

#include "codec_data.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <memory>

namespace {

// The worst case: a flag byte for every 8 literals.
size_t SlideBound(size_t n)
{
    return n + (n + 7) / 8;
}

// With a byte of room beyond the worst case, so that a longer stream shows.
Bytes Compress(const Bytes& data)
{
    std::unique_ptr<CSlide> clSlide(new CSlide);
    return CompressInto(*clSlide, data, SlideBound(data.size()) + 1);
}

// Bytes 01..FF in which no 3-byte sequence occurs twice: nothing to match.
Bytes NoRepeatedTriples(size_t n)
{
    std::vector<bool> seen(1 << 24);
    Bytes candidates = RandomBytes(2 * n, 17), data;
    for (BYTE c : candidates) {
        if (data.size() == n)
            break;
        if (c == 0)
            continue;
        size_t m = data.size();
        if (m >= 2) {
            uint32_t nTriple = (uint32_t)data[m - 2] << 16 | (uint32_t)data[m - 1] << 8 | c;
            if (seen[nTriple])
                continue;
            seen[nTriple] = true;
        }
        data.push_back(c);
    }
    EXPECT_EQ(n, data.size());
    return data;
}

// The stream of literals only: a flag byte with one bit per item ahead of
// each group of up to 8 bytes.
Bytes LiteralStream(const Bytes& data)
{
    Bytes stream;
    for (size_t i = 0; i < data.size(); i += 8) {
        size_t nItems = std::min<size_t>(8, data.size() - i);
        stream.push_back((BYTE)((1u << nItems) - 1));
        stream.insert(stream.end(), data.begin() + i, data.begin() + i + nItems);
    }
    return stream;
}

// The longest match for data[i..] among the 4078 strings before i, capped
// at 18 bytes and at the end of the data. Valid for data without zero
// bytes, which cannot match the zero area of the fresh ring.
size_t LongestMatch(const Bytes& data, size_t i)
{
    size_t nMax = std::min<size_t>(SLIDE_MAX_MATCH, data.size() - i), nBest = 0;
    for (size_t d = 1; d <= 4078 && d <= i && nBest < nMax; d++) {
        size_t k = 0;
        while (k < nMax && data[i - d + k] == data[i + k])
            k++;
        nBest = std::max(nBest, k);
    }
    return nBest;
}

TEST(CSlideFormat, KnownInputsGiveTheirExactStreams)
{
    const struct {
        Bytes input, stream;
    } cases[] = {
        {BytesOf("abcabcabc"), {0x07, 0x61, 0x62, 0x63, 0xEE, 0xF3}},
        // Leading zeros match the zero-filled ring before the start position.
        {Bytes(5, 0), {0x00, 0xDC, 0xF2}},
        // The 18-byte match overlaps the bytes it produces.
        {Bytes(25, 'a'), {0x01, 0x61, 0xEE, 0xFF, 0xF5, 0xF3}},
        {BytesOf("a"), {0x01, 0x61}},
        {Bytes(), Bytes()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stream, Compress(c.input));
        CSlide clSlide;
        EXPECT_EQ(c.input, DecompressGuarded(clSlide, c.stream, (DWORD)c.input.size()));
        CSlideReference clReference;
        EXPECT_EQ(c.stream, CompressInto(clReference, c.input, SlideBound(c.input.size())));
        EXPECT_EQ(c.input, DecompressGuarded(clReference, c.stream, (DWORD)c.input.size()));
    }
}

TEST(CSlideFormat, InputWithNothingToMatchIsSentAsLiteralsAtTheWorstCaseSize)
{
    Bytes ascending;
    for (int c = 1; c <= 255; c++)
        ascending.push_back((BYTE)c);
    EXPECT_EQ(287u, Compress(ascending).size());

    // Long enough to wrap the ring twice.
    for (const Bytes& data : {ascending, NoRepeatedTriples(10001)}) {
        Bytes stream = Compress(data);
        EXPECT_EQ(LiteralStream(data), stream);
        EXPECT_EQ(SlideBound(data.size()), stream.size());
        CSlide clSlide;
        EXPECT_EQ(data, DecompressGuarded(clSlide, stream, (DWORD)data.size()));
    }
}

// A match finder that misses matches still round-trips, so check the
// parse itself: each item is the longest match the window holds.
TEST(CSlideCompress, EveryItemIsTheLongestMatchInTheWindow)
{
    for (const Bytes& data : {TextBytes(10000), AlphabetBytes(10000, BytesOf("ab"), 1),
             AlphabetBytes(10000, BytesOf("xyz"), 2), AlphabetBytes(10000, BytesOf("01234567"), 3)}) {
        Bytes stream = Compress(data);
        size_t i = 0, nPos = 0;
        while (nPos < stream.size()) {
            BYTE bFlags = stream[nPos++];
            for (int k = 0; k < 8 && nPos < stream.size(); k++) {
                ASSERT_LT(i, data.size());
                size_t nLongest = LongestMatch(data, i);
                if (bFlags >> k & 1) {
                    ASSERT_LT(nLongest, (size_t)SLIDE_MIN_MATCH) << "literal at " << i;
                    i++;
                    nPos++;
                } else {
                    ASSERT_LT(nPos + 1, stream.size());
                    size_t nLen = (stream[nPos + 1] & 0x0F) + SLIDE_MIN_MATCH;
                    ASSERT_EQ(nLongest, nLen) << "match at " << i;
                    i += nLen;
                    nPos += 2;
                }
            }
        }
        EXPECT_EQ(data.size(), i);
    }
}

// One object for all samples: state left over by a call would show.
TEST(CSlideCompress, RoundTripsEveryKindAndSizeWithinTheBound)
{
    CSlide clSlide;
    for (const Sample& sample : RoundTripSamples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        Bytes stream = CompressInto(clSlide, data, SlideBound(data.size()) + 1);
        EXPECT_LE(stream.size(), SlideBound(data.size()));
        Bytes out(data.size());
        EXPECT_EQ(data.size(), clSlide.Decompress(out.data(), (DWORD)out.size(), stream.data(), (DWORD)stream.size()));
        EXPECT_TRUE(out == data);
    }
}

TEST(CSlideCompress, ShortDestinationKeepsAPrefixOfTheStream)
{
    Bytes data = TextBytes(5000);
    CSlide clSlide;
    ExpectShortDestinationKeepsPrefix(clSlide, data, Compress(data));
}

TEST(CSlideDecompress, DestinationSizeBoundsTheOutputNotTheDecoding)
{
    Bytes data = TextBytes(6000);
    Bytes stream = Compress(data);
    CSlide clSlide;
    for (DWORD dwSize : {0u, 1u, 4096u, 5999u})
        EXPECT_EQ(Bytes(data.begin(), data.begin() + dwSize), DecompressGuarded(clSlide, stream, dwSize));
    // Trailing bytes after a stream only feed the dropped output.
    Bytes padded = stream;
    padded.insert(padded.end(), 300, 0x00);
    EXPECT_EQ(data, DecompressGuarded(clSlide, padded, (DWORD)data.size()));
    // A larger capacity returns the true size.
    EXPECT_EQ(data, DecompressGuarded(clSlide, stream, (DWORD)data.size() + 100));
}

TEST(CSlideDecompress, CutStreamKeepsWhatWasDecoded)
{
    const Bytes data = BytesOf("abcabcabc");
    const Bytes stream = {0x07, 0x61, 0x62, 0x63, 0xEE, 0xF3};
    // Cut after the flag, after each literal, inside the match, after it.
    const size_t anExpected[] = {0, 0, 1, 2, 3, 3, 9};
    CSlide clSlide;
    for (size_t nCut = 0; nCut <= stream.size(); nCut++) {
        Bytes cut(stream.begin(), stream.begin() + nCut);
        Bytes out = DecompressGuarded(clSlide, cut, 9);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + anExpected[nCut]), out) << "cut at " << nCut;
    }
}

TEST(CSlideDecompress, MatchesWrapAroundTheRingAndReadTheirOwnOutput)
{
    // 18 literals fill ring positions 4078..4095; the write position then
    // wraps to 0. A match from 4093 of 6 bytes reads 4093..4095 and then
    // the bytes it has just written at 0..2. A match into the untouched
    // part of the ring gives zeros.
    Bytes stream = {0xFF};
    for (char c : std::string("abcdefgh"))
        stream.push_back((BYTE)c);
    stream.push_back(0xFF);
    for (char c : std::string("ijklmnop"))
        stream.push_back((BYTE)c);
    Bytes tail = {0x03, 'q', 'r', 0xFD, 0xF3, 0x00, 0x10};
    stream.insert(stream.end(), tail.begin(), tail.end());

    Bytes expected = BytesOf("abcdefghijklmnopqrpqrpqr");
    expected.insert(expected.end(), 3, 0);
    CSlide clSlide;
    EXPECT_EQ(expected, DecompressGuarded(clSlide, stream, 100));
}

// A stream no encoder would write, item by item at random: literals and
// matches whose distance back from the write position is 1 to 20 (copies
// overlapping their own output), 4075 to 4096 (the oldest bytes, and the
// fresh ring's zeros early on) or anything, of every length.
Bytes RandomItemStream(size_t nItems, uint32_t nSeed)
{
    Bytes choice = RandomBytes(4 * nItems, nSeed), stream;
    size_t nOut = 0, nFlag = 0;
    for (size_t i = 0; i < nItems; i++) {
        if (i % 8 == 0) {
            nFlag = stream.size();
            stream.push_back(0);
        }
        const BYTE* c = &choice[4 * i];
        if (c[0] < 90) {
            stream[nFlag] |= (BYTE)(1 << (i % 8));
            stream.push_back(c[1]);
            nOut++;
            continue;
        }
        size_t nDist = c[0] < 170 ? 1 + c[1] % 20 : c[0] < 220 ? 4096 - c[1] % 22 : 1 + (c[1] << 4 | c[2] >> 4);
        size_t nPos = (SLIDE_START + nOut - nDist) & SLIDE_RING_MASK, nLen = SLIDE_MIN_MATCH + c[3] % 16;
        stream.push_back((BYTE)nPos);
        stream.push_back((BYTE)((nPos >> 4 & 0xF0) | (nLen - SLIDE_MIN_MATCH)));
        nOut += nLen;
    }
    return stream;
}

// The fast coder writes and reads exactly the reference's bytes. One pair
// of objects for everything, so that state left over by a call would show.
TEST(CSlideMatchesReference, EveryKindAndSizeInBothDirections)
{
    std::unique_ptr<CSlide> clFast(new CSlide);
    std::unique_ptr<CSlideReference> clReference(new CSlideReference);
    for (const Sample& sample : RoundTripSamples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        size_t nBound = SlideBound(data.size());
        // Room to spare, and cut streams.
        for (size_t nCapacity : {nBound / 2, (size_t)0}) {
            if (data.size() < 20000)
                ExpectSameCompress(*clFast, *clReference, data, nCapacity);
        }
        Bytes stream = ExpectSameCompress(*clFast, *clReference, data, nBound + 1);
        // The exact size, a prefix, one byte, and more than the data.
        for (DWORD dwSize : {(DWORD)data.size(), (DWORD)data.size() / 3, (DWORD)1, (DWORD)data.size() + 100})
            ExpectSameDecompress(*clFast, *clReference, stream, dwSize);
    }
}

TEST(CSlideMatchesReference, HostileStreamsDecodeAlike)
{
    std::unique_ptr<CSlide> clFast(new CSlide);
    std::unique_ptr<CSlideReference> clReference(new CSlideReference);
    Bytes text = TextBytes(3000);
    ExpectSameOnHostileStreams(*clFast, *clReference, CompressInto(*clReference, text, SlideBound(3000)), 3000);
    for (uint32_t nSeed = 1; nSeed <= 40; nSeed++) {
        SCOPED_TRACE("item stream " + std::to_string(nSeed));
        Bytes stream = RandomItemStream(50 * nSeed, nSeed);
        // Unbounded, then cut at a few places, some mid-match.
        for (DWORD dwSize : {(DWORD)stream.size() * 18, (DWORD)(nSeed * 97), (DWORD)(nSeed * 331 + 4114)})
            ExpectSameDecompress(*clFast, *clReference, stream, dwSize);
        stream.resize(stream.size() - nSeed % 7);
        ExpectSameDecompress(*clFast, *clReference, stream, (DWORD)stream.size() * 18);
    }
}

} // namespace
