#include "codec/chuffman.h"
#include "codec/chuffman_reference.h"

#include "codec_data.h"

#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <memory>
#include <queue>
#include <thread>

namespace {

size_t HuffmanBound(size_t n)
{
    return n + 320;
}

// With a byte of room beyond the worst case, so that a longer stream shows.
Bytes Compress(const Bytes& data)
{
    std::unique_ptr<CHuffman> clHuffman(new CHuffman);
    return CompressInto(*clHuffman, data, HuffmanBound(data.size()) + 1);
}

// The size any optimal code gives, worked out without building a tree: a
// tree of L leaves takes 10L - 1 bits, and the codes together take the sum
// of the weights of all merged nodes, whatever way ties are broken.
size_t OptimalStreamSize(const Bytes& data)
{
    uint64_t anCount[256] = {0};
    for (BYTE c : data)
        anCount[c]++;
    std::priority_queue<uint64_t, std::vector<uint64_t>, std::greater<uint64_t>> weights;
    for (uint64_t n : anCount) {
        if (n != 0)
            weights.push(n);
    }
    uint64_t nLeaves = weights.empty() ? 1 : weights.size(), nCodeBits = 0;
    while (weights.size() > 1) {
        uint64_t a = weights.top();
        weights.pop();
        uint64_t b = weights.top();
        weights.pop();
        nCodeBits += a + b;
        weights.push(a + b);
    }
    return (size_t)((10 * nLeaves - 1 + nCodeBits + 7) / 8);
}

// Bytes from a string of '0' and '1', most significant bit first, the last
// byte completed with 0 bits.
Bytes FromBits(const std::string& bits)
{
    Bytes out((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); i++) {
        if (bits[i] == '1')
            out[i / 8] |= (BYTE)(0x80 >> (i % 8));
    }
    return out;
}

TEST(CHuffmanFormat, KnownInputsGiveTheirExactStreams)
{
    const struct {
        Bytes input, stream;
    } cases[] = {
        // Equal weights: the heap takes 61, then 63, then 62 before their
        // node, so 62 is the root's left child.
        {BytesOf("abcabcabc"), {0x98, 0xA6, 0x13, 0x1C, 0xE7, 0x30}},
        // 72 bits exactly: no padding byte.
        {BytesOf("abracadabra"), {0x98, 0x67, 0x2C, 0xC8, 0x63, 0x31, 0x3C, 0xD6, 0x3C}},
        // One leaf: empty codes, the tree alone whatever the length.
        {BytesOf("a"), {0x30, 0x80}},
        {Bytes(25, 'a'), {0x30, 0x80}},
        // An empty input is stored as the single leaf for byte 0.
        {Bytes(), {0x00, 0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.stream, Compress(c.input));
        CHuffman clHuffman;
        EXPECT_EQ(c.input, DecompressGuarded(clHuffman, c.stream, (DWORD)c.input.size()));
        CHuffmanReference clReference;
        EXPECT_EQ(c.stream, CompressInto(clReference, c.input, HuffmanBound(c.input.size())));
        EXPECT_EQ(c.input, DecompressGuarded(clReference, c.stream, (DWORD)c.input.size()));
    }
}

TEST(CHuffmanFormat, AllByteValuesOnceReachTheWorstCaseSize)
{
    Bytes data;
    for (int c = 0; c < 256; c++)
        data.push_back((BYTE)(c * 7 + 3));
    Bytes stream = Compress(data);
    // 2559 tree bits and 256 codes of 8 bits: one bit short of 576 bytes.
    EXPECT_EQ(HuffmanBound(data.size()), stream.size());
    CHuffman clHuffman;
    EXPECT_EQ(data, DecompressGuarded(clHuffman, stream, 256));
}

// One object for all samples: state left over by a call would show.
TEST(CHuffmanCompress, RoundTripsEveryKindAndSizeWithOptimalCodes)
{
    CHuffman clHuffman;
    for (const Sample& sample : RoundTripSamples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        Bytes stream = CompressInto(clHuffman, data, HuffmanBound(data.size()) + 1);
        EXPECT_EQ(OptimalStreamSize(data), stream.size());
        Bytes out(data.size());
        EXPECT_EQ(data.size(), clHuffman.Decompress(out.data(), (DWORD)out.size(), stream.data(), (DWORD)stream.size()));
        EXPECT_TRUE(out == data);
    }
}

TEST(CHuffmanCompress, ShortDestinationKeepsAPrefixOfTheStream)
{
    Bytes data = TextBytes(3000);
    CHuffman clHuffman;
    ExpectShortDestinationKeepsPrefix(clHuffman, data, Compress(data));
    // Even the two bytes of an empty input need room.
    EXPECT_EQ(0u, clHuffman.Compress(NULL, 0, NULL, 0));
}

TEST(CHuffmanCompress, EncodersOnTwoThreadsDoNotDisturbEachOther)
{
    // Byte k appears fib(k) times: codes up to 20 bits long, long enough
    // that any state shared between objects shows within a few rounds.
    Bytes skewed;
    for (int k = 0, f0 = 1, f1 = 1; k < 21; k++, f1 += f0, f0 = f1 - f0)
        skewed.insert(skewed.end(), (size_t)f0, (BYTE)(0x40 + k));
    const Bytes inputs[2] = {skewed, TextBytes(skewed.size())};
    const Bytes expected[2] = {Compress(inputs[0]), Compress(inputs[1])};

    std::atomic<int> nReady(0);
    int anWrong[2] = {0, 0};
    auto encode = [&](int t) {
        std::unique_ptr<CHuffman> clHuffman(new CHuffman);
        Bytes out(HuffmanBound(inputs[t].size()) + 1);
        nReady++;
        while (nReady < 2) {
        }
        for (int round = 0; round < 40; round++) {
            DWORD dwSize = clHuffman->Compress(out.data(), (DWORD)out.size(), inputs[t].data(), (DWORD)inputs[t].size());
            if (Bytes(out.begin(), out.begin() + dwSize) != expected[t])
                anWrong[t]++;
        }
    };
    std::thread first(encode, 0), second(encode, 1);
    first.join();
    second.join();
    EXPECT_EQ(0, anWrong[0]);
    EXPECT_EQ(0, anWrong[1]);
}

TEST(CHuffmanDecompress, ProducesExactlyTheRequestedSize)
{
    const Bytes abc = {0x98, 0xA6, 0x13, 0x1C, 0xE7, 0x30};
    CHuffman clHuffman;
    EXPECT_EQ(BytesOf("abca"), DecompressGuarded(clHuffman, abc, 4));
    EXPECT_EQ(Bytes(), DecompressGuarded(clHuffman, abc, 0));
    // Past the data come the 4 padding bits (0 = 'b'), then the 1 bits
    // read past the end (11 = 'c').
    EXPECT_EQ(BytesOf("abcabcabcbbbbccc"), DecompressGuarded(clHuffman, abc, 16));
    EXPECT_EQ(Bytes(1000, 'a'), DecompressGuarded(clHuffman, {0x30, 0x80}, 1000));
}

TEST(CHuffmanDecompress, ReadingPastTheEndSeesOneBits)
{
    const Bytes stream = {0x98, 0x67, 0x2C, 0xC8, 0x63, 0x31, 0x3C, 0xD6, 0x3C};
    CHuffman clHuffman;
    for (size_t nCut = 0; nCut <= stream.size(); nCut++) {
        Bytes cut(stream.begin(), stream.begin() + nCut), padded = cut;
        padded.insert(padded.end(), 400, 0xFF);
        EXPECT_EQ(DecompressGuarded(clHuffman, padded, 20), DecompressGuarded(clHuffman, cut, 20)) << "cut at " << nCut;
    }
    // Nothing at all: an all-1 tree, whose every leaf is an excess node.
    EXPECT_EQ(Bytes(5, 0xFF), DecompressGuarded(clHuffman, Bytes(), 5));
}

TEST(CHuffmanDecompress, ExcessInternalNodesDecodeAsFFAndReadNoSubtrees)
{
    // Root: left leaf 'A'; right a left-going chain of internal nodes 257..510
    // whose every other child is one of the excess nodes, which take one bit
    // each. Then the codes 0, 11, 0, 0 and one 0 padding bit.
    std::string bits = "1" "0" "01000001" + std::string(254 + 1 + 254, '1') + "0" "11" "0" "0";
    CHuffman clHuffman;
    EXPECT_EQ(BytesOf("A\xFF" "AAA"), DecompressGuarded(clHuffman, FromBits(bits), 5));
}

// Byte 0x40 + k appears fib(k) times for k below nValues: a tree of depth
// nValues - 1, so codes as long as that.
Bytes FibonacciBytes(int nValues)
{
    Bytes data;
    for (int k = 0, f0 = 1, f1 = 1; k < nValues; k++, f1 += f0, f0 = f1 - f0)
        data.insert(data.end(), (size_t)f0, (BYTE)(0x40 + k));
    return data;
}

// The fast coder writes and reads exactly the reference's bytes. One pair
// of objects for everything, so that state left over by a call would show.
TEST(CHuffmanMatchesReference, EveryKindAndSizeInBothDirections)
{
    std::unique_ptr<CHuffman> clFast(new CHuffman);
    std::unique_ptr<CHuffmanReference> clReference(new CHuffmanReference);
    for (const Sample& sample : RoundTripSamples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        size_t nBound = HuffmanBound(data.size());
        // Room to spare, and cut streams: mid-word, at the last byte, none.
        for (size_t nCapacity : {nBound / 2, nBound / 2 - 1, (size_t)0}) {
            if (data.size() < 20000)
                ExpectSameCompress(*clFast, *clReference, data, nCapacity);
        }
        Bytes stream = ExpectSameCompress(*clFast, *clReference, data, nBound + 1);
        // The exact size, a prefix, one byte, and far past the data (1 bits).
        for (DWORD dwSize : {(DWORD)data.size(), (DWORD)data.size() / 3, (DWORD)1, (DWORD)data.size() + 100})
            ExpectSameDecompress(*clFast, *clReference, stream, dwSize);
    }
}

TEST(CHuffmanMatchesReference, CodesLongerThanTheTablesInBothDirections)
{
    // Codes up to 26 bits: beyond the decoder's lookup and the encoder's
    // code table, so both bit-by-bit paths run, between short codes.
    Bytes data = FibonacciBytes(27);
    Bytes mixed = RandomBytes(data.size(), 4);
    for (size_t i = 0; i < data.size(); i++)
        std::swap(data[i], data[mixed[i] * (data.size() - 1) / 255]);
    std::unique_ptr<CHuffman> clFast(new CHuffman);
    std::unique_ptr<CHuffmanReference> clReference(new CHuffmanReference);
    ExpectSameCompress(*clFast, *clReference, data, HuffmanBound(data.size()));
    Bytes stream = CompressInto(*clFast, data, HuffmanBound(data.size()));
    EXPECT_EQ(OptimalStreamSize(data), stream.size());
    ExpectSameDecompress(*clFast, *clReference, stream, (DWORD)data.size());
    EXPECT_EQ(data, DecompressGuarded(*clFast, stream, (DWORD)data.size()));
}

TEST(CHuffmanMatchesReference, HostileStreamsDecodeAlike)
{
    std::unique_ptr<CHuffman> clFast(new CHuffman);
    std::unique_ptr<CHuffmanReference> clReference(new CHuffmanReference);
    Bytes text = TextBytes(3000);
    ExpectSameOnHostileStreams(*clFast, *clReference, CompressInto(*clReference, text, HuffmanBound(3000)), 3000);
    // All 1 bits: a chain of internal nodes past the last number, whose
    // excess nodes stand as leaves; and a tree cut inside a leaf.
    for (size_t n : {0, 1, 31, 32, 33, 64, 200})
        ExpectSameDecompress(*clFast, *clReference, Bytes(n, 0xFF), 300);
    ExpectSameDecompress(*clFast, *clReference, {0x80, 0x3F}, 40);
}

} // namespace
