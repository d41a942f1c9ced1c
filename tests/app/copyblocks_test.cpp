#include "copyblocks.h"

#include "support/scratch.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Recorder {
    std::vector<DWORD> percents;
    int nContinues = 0;
    int nStopAfter = -1; // stop at this call of pfnContinue (0 based)

    CopyCallbacks Callbacks()
    {
        CopyCallbacks cb = {};
        cb.pfnSetPercent = [](void* p, DWORD dw) { ((Recorder*)p)->percents.push_back(dw); };
        cb.pfnContinue = [](void* p) {
            Recorder* r = (Recorder*)p;
            return r->nContinues++ == r->nStopAfter ? 0 : 1;
        };
        cb.pParam = this;
        return cb;
    }
};

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++)
        s[i] = (char)(i * 31 + i / 977);
    return s;
}

TEST(CopyPercent, FollowsBothFormulasAndNeverDividesByZero)
{
    EXPECT_EQ(40u, CopyPercent(100000, 250000));
    EXPECT_EQ(99u, CopyPercent(9999999, 10000000));
    // Above the threshold: P / (S / 100).
    EXPECT_EQ(0u, CopyPercent(100000, 20000000));
    EXPECT_EQ(99u, CopyPercent(19900000, 20000000));
    EXPECT_EQ(4u, CopyPercent(400000, 10000099)); // 400000 / 100000; (P*100)/S would give 3
    EXPECT_EQ(0u, CopyPercent(0, 0));
    // Sizes past 4 GiB stay in range.
    EXPECT_EQ(50u, CopyPercent(0x100000000ull, 0x200000000ull));
}

TEST(CopyBlocks, ReportsProgressBeforeEachBlockAndEndsAt100)
{
    std::string src = Pattern(250000);
    std::vector<char> dest(250000);
    CFile clSrc(&src[0], (DWORD)src.size(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 40, 80, 100 }), r.percents);
    EXPECT_EQ(2, r.nContinues); // after the two full blocks, not after the last
    EXPECT_TRUE(std::string(dest.data(), dest.size()) == src);
}

TEST(CopyBlocks, FileToFileOneAfterAnother)
{
    // OS files go through the program's one block buffer: each copy must
    // report its own source's progress and leave its own bytes, whatever
    // the copy before it left in the buffer.
    ScratchDir dir("copy_files");
    std::string first = Pattern(250000), second = Pattern(130000).substr(7) + "tail";
    ASSERT_TRUE(WriteWholeFile(dir.Path("first.bin"), first));
    ASSERT_TRUE(WriteWholeFile(dir.Path("second.bin"), second));
    {
        CFile clSrc(dir.Path("first.bin").c_str(), 0), clDest(dir.Path("first.out").c_str(), 1);
        Recorder r;
        CopyCallbacks cb = r.Callbacks();
        ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
        EXPECT_EQ((std::vector<DWORD>{ 0, 40, 80, 100 }), r.percents);
    }
    {
        CFile clSrc(dir.Path("second.bin").c_str(), 0), clDest(dir.Path("second.out").c_str(), 1);
        Recorder r;
        CopyCallbacks cb = r.Callbacks();
        ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
        EXPECT_EQ((std::vector<DWORD>{ 0, 76, 100 }), r.percents);
    }
    std::string out;
    ASSERT_TRUE(ReadWholeFile(dir.Path("first.out"), &out));
    EXPECT_TRUE(out == first);
    ASSERT_TRUE(ReadWholeFile(dir.Path("second.out"), &out));
    EXPECT_TRUE(out == second);
}

TEST(CopyBlocks, WriteFailingAfterAFileReadIsNotTakenForTheEnd)
{
    ScratchDir dir("copy_file_short_write");
    ASSERT_TRUE(WriteWholeFile(dir.Path("src.bin"), Pattern(250000)));
    std::vector<char> dest(150000);
    CFile clSrc(dir.Path("src.bin").c_str(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    EXPECT_EQ(0, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 40 }), r.percents) << "100 reported for an incomplete file";
}

TEST(CopyBlocks, ExactBlockSizeTakesASecondEmptyBlock)
{
    std::string src = Pattern(COPY_BLOCK_SIZE);
    std::vector<char> dest(COPY_BLOCK_SIZE);
    CFile clSrc(&src[0], (DWORD)src.size(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 100, 100 }), r.percents);
    EXPECT_EQ(1, r.nContinues);
}

TEST(CopyBlocks, EmptyFileEndsAt100)
{
    ScratchDir dir("copy_empty");
    ASSERT_TRUE(WriteWholeFile(dir.Path("empty.bin"), ""));
    CFile clSrc(dir.Path("empty.bin").c_str(), 0), clDest(dir.Path("out.bin").c_str(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 100 }), r.percents);
    EXPECT_EQ(0, r.nContinues);
}

TEST(CopyBlocks, LargeFileUsesTheDividedSize)
{
    std::string src(20000000, 'L');
    std::vector<char> dest(src.size());
    CFile clSrc(&src[0], (DWORD)src.size(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
    ASSERT_EQ(202u, r.percents.size());
    EXPECT_EQ(0u, r.percents[1]);
    EXPECT_EQ(1u, r.percents[2]);
    EXPECT_EQ(100u, r.percents.back());
}

TEST(CopyBlocks, StopsWhenTheCallbackSaysSo)
{
    std::string src = Pattern(350000);
    std::vector<char> dest(350000);
    CFile clSrc(&src[0], (DWORD)src.size(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    r.nStopAfter = 1;
    CopyCallbacks cb = r.Callbacks();
    EXPECT_EQ(0, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 28 }), r.percents);
    EXPECT_EQ(200000u, clDest.GetPos());
}

TEST(CopyBlocks, WriteFailingInTheMiddleIsNotTakenForTheEnd)
{
    // The destination block holds 150000 bytes: the second block's write
    // comes up short, which alone looks like the end of the file.
    std::string src = Pattern(250000);
    std::vector<char> dest(150000);
    CFile clSrc(&src[0], (DWORD)src.size(), 0), clDest(dest.data(), (DWORD)dest.size(), 1);
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    EXPECT_EQ(0, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0, 40 }), r.percents) << "100 reported for an incomplete file";
}

TEST(CopyBlocks, ReadEndingBeforeTheSizeIsAFailure)
{
    // The source says it holds 120000 bytes but the OS delivers 1000, as
    // when a file is cut while it is being read.
    ScratchDir dir("copy_short_read");
    ASSERT_TRUE(WriteWholeFile(dir.Path("src.bin"), Pattern(1000)));
    CFile clSrc(dir.Path("src.bin").c_str(), 0), clDest(dir.Path("out.bin").c_str(), 1);
    clSrc.m_qwSize = 120000;
    clSrc.m_qwEnd = 120000;
    Recorder r;
    CopyCallbacks cb = r.Callbacks();
    EXPECT_EQ(0, CopyBlocks(&clDest, &clSrc, &cb));
    EXPECT_EQ((std::vector<DWORD>{ 0 }), r.percents);
}

// The bar as the copy pass drives it: every position a run of files
// reports goes through the throttle, under a clock that stands still (the
// usual case for small files) or one that makes every step due. Each file
// must still show 0 when it starts and 100 when it ends, and never go back
// in between.
TEST(PercentThrottle, EveryFileStartsAt0AndEndsAt100OnTheBar)
{
    ScratchDir dir("copy_throttle");
    for (DWORD dwTick : std::vector<DWORD>{ 0, 1, REFRESH_INTERVAL_MS }) {
        SCOPED_TRACE(dwTick);
        struct Bar {
            PercentThrottle throttle;
            DWORD dwNow = 0xFFFFFFF0; // wraps during the run
            DWORD dwTick;
            DWORD dwShown = 0;
            std::vector<DWORD> file;
        } bar;
        bar.dwTick = dwTick;
        StartThrottle(&bar.throttle, bar.dwNow);
        CopyCallbacks cb = { [](void* p, DWORD dwPercent) {
                                Bar* b = (Bar*)p;
                                b->dwNow += b->dwTick;
                                if (ThrottlePercent(&b->throttle, dwPercent, b->dwNow))
                                    b->dwShown = dwPercent;
                                b->file.push_back(b->dwShown);
                            },
                             [](void*) { return 1; }, &bar };
        for (size_t nSize : { 5, 0, 250000, 3, 100000, 1200000, 7 }) {
            SCOPED_TRACE(nSize);
            ASSERT_TRUE(WriteWholeFile(dir.Path("src.bin"), Pattern(nSize)));
            CFile clSrc(dir.Path("src.bin").c_str(), 0), clDest(dir.Path("dest.bin").c_str(), 1);
            bar.file.clear();
            ASSERT_EQ(1, CopyBlocks(&clDest, &clSrc, &cb));
            EXPECT_EQ(0u, bar.file.front());
            EXPECT_EQ(100u, bar.file.back());
            EXPECT_TRUE(std::is_sorted(bar.file.begin(), bar.file.end()));
            if (dwTick == REFRESH_INTERVAL_MS) {
                size_t nBlock = nSize / 2 / COPY_BLOCK_SIZE;
                EXPECT_EQ(CopyPercent(nBlock * COPY_BLOCK_SIZE, nSize), bar.file[nBlock]) << "a step that is due";
            }
        }
    }
}

} // namespace
