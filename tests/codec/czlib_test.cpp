#include "codec/czlib.h"

#include "codec_data.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

// Inflates with zlib's streaming interface, independent of CZlib.
Bytes Inflate(const Bytes& stream, size_t nSize)
{
    Bytes out(nSize + 1);
    z_stream zs = z_stream();
    EXPECT_EQ(Z_OK, inflateInit(&zs));
    zs.next_in = (Bytef*)stream.data();
    zs.avail_in = (uInt)stream.size();
    zs.next_out = out.data();
    zs.avail_out = (uInt)out.size();
    EXPECT_EQ(Z_STREAM_END, inflate(&zs, Z_FINISH));
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

TEST(CZlibFormat, CompressWritesAPlainZlibStreamAtTheDefaultLevel)
{
    Bytes data = TextBytes(5000);
    CZlib clZlib;
    Bytes stream = CompressInto(clZlib, data, compressBound((uLong)data.size()));
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(0x78, stream[0]);
    // The level field of the second header byte says "default".
    EXPECT_EQ(0x9C, stream[1]);
    EXPECT_EQ(data, Inflate(stream, data.size()));
    EXPECT_EQ(data, DecompressGuarded(clZlib, stream, (DWORD)data.size()));
}

TEST(CZlibCompress, RoundTripsEveryKindAndSize)
{
    CZlib clZlib;
    for (const Sample& sample : RoundTripSamples()) {
        SCOPED_TRACE(sample.name);
        const Bytes& data = sample.data;
        Bytes stream = CompressInto(clZlib, data, compressBound((uLong)data.size()));
        Bytes out(data.size());
        EXPECT_EQ(data.size(), clZlib.Decompress(out.data(), (DWORD)out.size(), stream.data(), (DWORD)stream.size()));
        EXPECT_TRUE(out == data);
    }
}

TEST(CZlibCompress, TooLittleRoomReturnsTheCapacity)
{
    CZlib clZlib;
    BYTE abOut[8];
    EXPECT_EQ(8u, clZlib.Compress(abOut, 8, "abcd", 4));
    EXPECT_EQ(0u, clZlib.Compress(NULL, 0, NULL, 0));
    // Twice the input, as an archive builder gives, is too little for a
    // few bytes.
    Bytes data = BytesOf("xy");
    EXPECT_EQ(4u, CompressInto(clZlib, data, 4).size());
}

TEST(CZlibDecompress, FailuresReturnTheCapacityOrZeroWhenChecked)
{
    Bytes data = TextBytes(3000);
    CZlib clZlib;
    Bytes stream = CompressInto(clZlib, data, compressBound((uLong)data.size()));
    Bytes cut(stream.begin(), stream.end() - 5);
    Bytes damaged = stream;
    damaged.back() ^= 1; // the Adler-32 check
    const struct {
        const char* pszWhat;
        Bytes stream;
        DWORD dwDestSize;
    } failures[] = {
        {"too little room", stream, 2999},
        {"cut stream", cut, 3000},
        {"damaged check value", damaged, 3000},
        {"not a zlib stream", RandomBytes(200, 3), 100},
    };
    for (const auto& f : failures) {
        EXPECT_EQ(f.dwDestSize, DecompressGuarded(clZlib, f.stream, f.dwDestSize).size()) << f.pszWhat;
        Bytes out(f.dwDestSize);
        EXPECT_EQ(0u, clZlib.DecompressChecked(out.data(), f.dwDestSize, f.stream.data(), (DWORD)f.stream.size()))
            << f.pszWhat;
    }

    // More room than needed gives the true size, checked or not.
    EXPECT_EQ(data, DecompressGuarded(clZlib, stream, 3100));
    Bytes out(3100);
    EXPECT_EQ(3000u, clZlib.DecompressChecked(out.data(), 3100, stream.data(), (DWORD)stream.size()));
    EXPECT_TRUE(Bytes(out.begin(), out.begin() + 3000) == data);
}

} // namespace
