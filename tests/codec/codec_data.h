// Test inputs for the codecs, and the checks every codec shares. All data
// is generated from fixed seeds, so a failure repeats.
#ifndef TESTS_CODEC_CODEC_DATA_H
#define TESTS_CODEC_CODEC_DATA_H

#include "platform/wintypes.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <stdint.h>
#include <string>
#include <vector>

typedef std::vector<BYTE> Bytes;

Bytes BytesOf(const std::string& s);
Bytes RandomBytes(size_t n, uint32_t nSeed);
// Random bytes drawn from the given values only.
Bytes AlphabetBytes(size_t n, const Bytes& values, uint32_t nSeed);
// English-like words, spaces and line breaks; no zero byte.
Bytes TextBytes(size_t n);
// Zero runs of up to a few thousand bytes between short random marks.
Bytes ZeroRunBytes(size_t n);

struct Sample {
    std::string name;
    Bytes data;
};
// Every kind of data at the sizes where the formats have edges: 0, 1, 2,
// the 18-byte look-ahead, the 4096-byte ring, and a few hundred KB.
const std::vector<Sample>& RoundTripSamples();

// Compresses with a destination of exactly nCapacity bytes (so the
// sanitizers see any write past it) and checks the result stays within it.
template <class Codec>
Bytes CompressInto(Codec& clCodec, const Bytes& data, size_t nCapacity)
{
    Bytes stream(nCapacity);
    DWORD dwSize = clCodec.Compress(stream.data(), (DWORD)nCapacity, data.data(), (DWORD)data.size());
    EXPECT_LE(dwSize, nCapacity);
    stream.resize(dwSize <= nCapacity ? dwSize : nCapacity);
    return stream;
}

// Decompresses into a buffer of dwDestSize bytes followed by a guard area
// that must come back untouched; returns the bytes the result counts.
template <class Codec>
Bytes DecompressGuarded(Codec& clCodec, const Bytes& stream, DWORD dwDestSize)
{
    const size_t nGuard = 64;
    Bytes out(dwDestSize + nGuard, 0xA5);
    DWORD dwSize = clCodec.Decompress(out.data(), dwDestSize, stream.data(), (DWORD)stream.size());
    EXPECT_LE(dwSize, dwDestSize);
    for (size_t i = dwDestSize; i < out.size(); i++) {
        if (out[i] != 0xA5) {
            ADD_FAILURE() << "byte " << i - dwDestSize << " past the destination was written";
            break;
        }
    }
    out.resize(dwSize <= dwDestSize ? dwSize : dwDestSize);
    return out;
}

// A destination shorter than the stream keeps exactly its first bytes and
// the result is the capacity.
template <class Codec>
void ExpectShortDestinationKeepsPrefix(Codec& clCodec, const Bytes& data, const Bytes& fullStream)
{
    for (size_t nCapacity : {(size_t)0, fullStream.size() / 2, fullStream.size() - 1}) {
        Bytes out(nCapacity + 16, 0xA5);
        EXPECT_EQ(nCapacity, clCodec.Compress(out.data(), (DWORD)nCapacity, data.data(), (DWORD)data.size()));
        EXPECT_TRUE(std::equal(fullStream.begin(), fullStream.begin() + nCapacity, out.begin())) << nCapacity;
        EXPECT_EQ(Bytes(16, 0xA5), Bytes(out.begin() + nCapacity, out.end())) << nCapacity;
    }
}

// The fast coder against its reference: the same result and the same bytes
// in the whole destination, which starts alike for both, so a byte written
// past the result, or past the capacity, shows as well as a wrong one.
// Returns the reference's stream.
template <class Fast, class Reference>
Bytes ExpectSameCompress(Fast& clFast, Reference& clReference, const Bytes& data, size_t nCapacity)
{
    Bytes fast(nCapacity + 16, 0xA5), reference(nCapacity + 16, 0xA5);
    DWORD dwFast = clFast.Compress(fast.data(), (DWORD)nCapacity, data.data(), (DWORD)data.size());
    DWORD dwReference = clReference.Compress(reference.data(), (DWORD)nCapacity, data.data(), (DWORD)data.size());
    EXPECT_EQ(dwReference, dwFast) << "capacity " << nCapacity;
    EXPECT_TRUE(fast == reference) << "capacity " << nCapacity;
    reference.resize(dwReference <= nCapacity ? dwReference : nCapacity);
    return reference;
}

template <class Fast, class Reference>
void ExpectSameDecompress(Fast& clFast, Reference& clReference, const Bytes& stream, DWORD dwDestSize)
{
    Bytes fast(dwDestSize + 16, 0xA5), reference(dwDestSize + 16, 0xA5);
    DWORD dwFast = clFast.Decompress(fast.data(), dwDestSize, stream.data(), (DWORD)stream.size());
    DWORD dwReference = clReference.Decompress(reference.data(), dwDestSize, stream.data(), (DWORD)stream.size());
    EXPECT_EQ(dwReference, dwFast) << "destination " << dwDestSize;
    EXPECT_TRUE(fast == reference) << "destination " << dwDestSize;
}

// Streams no encoder wrote: random bytes, and a real stream cut short and
// with single bytes changed, each decoded into a few destination sizes.
template <class Fast, class Reference>
void ExpectSameOnHostileStreams(Fast& clFast, Reference& clReference, const Bytes& realStream, DWORD dwRealSize)
{
    for (uint32_t nSeed = 1; nSeed <= 200; nSeed++) {
        Bytes stream = RandomBytes(nSeed * 7 % 700, nSeed);
        SCOPED_TRACE("random stream " + std::to_string(nSeed));
        ExpectSameDecompress(clFast, clReference, stream, nSeed * 131 % 5000);
    }
    for (size_t nCut = 0; nCut < realStream.size(); nCut += 1 + nCut / 4) {
        SCOPED_TRACE("cut at " + std::to_string(nCut));
        Bytes cut(realStream.begin(), realStream.begin() + nCut);
        ExpectSameDecompress(clFast, clReference, cut, dwRealSize);
    }
    Bytes flips = RandomBytes(64, 99);
    for (size_t i = 0; i < flips.size() && !realStream.empty(); i += 2) {
        Bytes changed = realStream;
        changed[(flips[i] * 257 + flips[i + 1]) % changed.size()] ^= (BYTE)(flips[i + 1] | 1);
        SCOPED_TRACE("changed stream " + std::to_string(i));
        ExpectSameDecompress(clFast, clReference, changed, dwRealSize);
    }
}

#endif
