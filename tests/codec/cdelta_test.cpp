#include "codec/cdelta.h"

#include "codec_data.h"

#include <gtest/gtest.h>
#include <string.h>

namespace {

// The delta is handed out in pieces of at most nPiece bytes.
struct Source {
    const Bytes* pDelta;
    size_t nAt;
    size_t nPiece;
};

int ReadPiece(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
{
    Source* pSource = (Source*)pParam;
    size_t n = std::min(std::min(nSize, pSource->nPiece), pSource->pDelta->size() - pSource->nAt);
    if (n)
        memcpy(pBuf, pSource->pDelta->data() + pSource->nAt, n);
    pSource->nAt += n;
    *pnRead = n;
    return 1;
}

// Takes bytes until it holds nRefuseAfter, then refuses every call.
struct Sink {
    Bytes out;
    size_t nRefuseAfter;
    int nCallsRefused;
};

int WritePiece(void* pParam, const void* pBuf, size_t nSize)
{
    Sink* pSink = (Sink*)pParam;
    if (pSink->out.size() + nSize > pSink->nRefuseAfter) {
        pSink->nCallsRefused++;
        return 0;
    }
    pSink->out.insert(pSink->out.end(), (const BYTE*)pBuf, (const BYTE*)pBuf + nSize);
    return 1;
}

int ApplyDelta(const Bytes& base, const Bytes& delta, Sink* pSink, size_t nPiece = 1000)
{
    Source source = {&delta, 0, nPiece};
    CDelta clDelta;
    return clDelta.Apply(base.data(), base.size(), ReadPiece, &source, WritePiece, pSink);
}

// The new version of a file: pieces moved, changed, cut and inserted.
Bytes Edited(const Bytes& base, uint32_t nSeed)
{
    Bytes edited(base.begin(), base.begin() + base.size() / 3);
    Bytes inserted = RandomBytes(base.size() / 50 + 3, nSeed);
    edited.insert(edited.end(), inserted.begin(), inserted.end());
    edited.insert(edited.end(), base.begin() + base.size() / 2, base.end());
    edited.insert(edited.end(), base.begin() + base.size() / 3, base.begin() + base.size() / 2);
    for (size_t i = 7; i < edited.size(); i += 997)
        edited[i] ^= (BYTE)nSeed;
    return edited;
}

TEST(CDelta, RoundTripsEveryKindOfPair)
{
    Bytes text = TextBytes(300000), random = RandomBytes(5 << 20, 5);
    const struct {
        const char* pszName;
        Bytes base;
        Bytes fresh;
        size_t nMaxDelta; // a bound that only a working match finder meets
    } pairs[] = {
        {"both empty", Bytes(), Bytes(), DELTA_HEADER_SIZE},
        {"empty base", Bytes(), TextBytes(5000), 5000},
        {"empty new", text, Bytes(), DELTA_HEADER_SIZE},
        {"identical", text, text, 100},
        {"small edits", text, Edited(text, 3), 9000},
        {"zero runs edited", ZeroRunBytes(200000), Edited(ZeroRunBytes(200000), 9), 8000},
        {"larger than a chunk", random, Edited(random, 4), (5 << 20) / 12},
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair.pszName);
        CDelta clDelta;
        Bytes delta;
        ASSERT_EQ(1, clDelta.Make(pair.base.data(), pair.base.size(), pair.fresh.data(), pair.fresh.size(), &delta));
        EXPECT_LE(delta.size(), pair.nMaxDelta);
        DeltaHeader header;
        ASSERT_EQ(1, CDelta::ReadHeader(delta.data(), delta.size(), &header));
        EXPECT_EQ(pair.base.size(), header.qwBaseSize);
        EXPECT_EQ(pair.fresh.size(), header.qwResultSize);

        Sink sink = {Bytes(), (size_t)-1, 0};
        EXPECT_EQ(1, ApplyDelta(pair.base, delta, &sink));
        EXPECT_TRUE(sink.out == pair.fresh);

        // A sink that refuses halfway is not called again.
        Sink refusing = {Bytes(), pair.fresh.size() / 2, 0};
        if (!pair.fresh.empty()) {
            EXPECT_EQ(0, ApplyDelta(pair.base, delta, &refusing));
            EXPECT_EQ(1, refusing.nCallsRefused);
        }
    }
}

TEST(CDelta, RefusesAnotherBaseAndACutOrLongerDelta)
{
    Bytes base = TextBytes(100000), fresh = Edited(base, 7);
    CDelta clDelta;
    Bytes delta;
    ASSERT_EQ(1, clDelta.Make(base.data(), base.size(), fresh.data(), fresh.size(), &delta));

    Sink sink = {Bytes(), (size_t)-1, 0};
    Bytes shorter(base.begin(), base.end() - 1);
    EXPECT_EQ(0, ApplyDelta(shorter, delta, &sink));
    for (size_t nCut = 0; nCut < delta.size(); nCut += 1 + nCut / 3) {
        Bytes cut(delta.begin(), delta.begin() + nCut);
        EXPECT_EQ(0, ApplyDelta(base, cut, &sink)) << "cut at " << nCut;
    }
    Bytes longer = delta;
    longer.push_back(0);
    EXPECT_EQ(0, ApplyDelta(base, longer, &sink));
    DeltaHeader header;
    EXPECT_EQ(0, CDelta::ReadHeader(delta.data(), DELTA_HEADER_SIZE - 1, &header));
}

} // namespace
