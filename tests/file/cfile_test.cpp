#include "file/cfile.h"

#include "platform/error.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <errno.h>
#include <stdio.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif
#include <string.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

std::string Bytes(size_t n, char c = 'x')
{
    return std::string(n, c);
}

// --- Opening and closing ------------------------------------------------

TEST(CFileOpen, WriteModeTruncatesAnExistingFile)
{
    ScratchDir dir("open_truncate");
    std::string path = dir.Path("a.bin");
    ASSERT_TRUE(WriteWholeFile(path, Bytes(100)));

    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 1));
    EXPECT_EQ(CFILE_HANDLE, clFile.m_nType);
    EXPECT_EQ(0u, clFile.GetSize());
    clFile.Close();

    std::string data;
    ASSERT_TRUE(ReadWholeFile(path, &data));
    EXPECT_EQ("", data);
}

TEST(CFileOpen, MissingFileForReadingLeavesObjectClosed)
{
    ScratchDir dir("open_missing");
    CFile clFile;
    EXPECT_EQ(0, clFile.Open(dir.Path("nothing.bin").c_str(), 0));
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);
    EXPECT_EQ(nullptr, clFile.m_hFile);
    EXPECT_EQ(0, clFile.Seek(0, 0));
    EXPECT_EQ(0u, clFile.GetPos());
    char buf[4];
    EXPECT_EQ(0u, clFile.Read(buf, 4));
    EXPECT_EQ(0u, clFile.Write(buf, 4));
}

TEST(CFileOpen, FolderCannotBeOpenedAsAFile)
{
    ScratchDir dir("open_folder");
    CFile clFile;
    EXPECT_EQ(0, clFile.Open(dir.Root().c_str(), 0));
    EXPECT_EQ(0, clFile.Open(dir.Root().c_str(), 1));
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);
}

TEST(CFileOpen, ReadOnlyFileCannotBeOpenedForWriting)
{
    ScratchDir dir("open_readonly");
    std::string path = dir.Path("ro.bin");
    ASSERT_TRUE(WriteWholeFile(path, "keep"));
    ASSERT_EQ(1, PlatSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_READONLY));
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine maps read-only to file permissions, which root ignores";

    CFile clFile;
    EXPECT_EQ(0, clFile.Open(path.c_str(), 1));
    std::string data;
    ASSERT_TRUE(ReadWholeFile(path, &data));
    EXPECT_EQ("keep", data);
}

TEST(CFileOpen, CloseIsIdempotentAndKeepsTheSize)
{
    ScratchDir dir("close");
    std::string path = dir.Path("a.bin");
    ASSERT_TRUE(WriteWholeFile(path, Bytes(37)));

    CFile clFile;
    EXPECT_EQ(1, clFile.Close());
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);
    ASSERT_EQ(1, clFile.Open(path.c_str(), 0));
    EXPECT_EQ(1, clFile.Close());
    EXPECT_EQ(1, clFile.Close());
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);
    EXPECT_EQ(37u, clFile.GetSize());
}

TEST(CFileOpen, ReopeningReleasesTheEarlierBacking)
{
    ScratchDir dir("reopen");
    std::string a = dir.Path("a.bin"), b = dir.Path("b.bin");
    ASSERT_TRUE(WriteWholeFile(a, "first"));
    ASSERT_TRUE(WriteWholeFile(b, "second"));

    // A handle that stays open would keep Windows from deleting the file.
    CFile clFile;
    ASSERT_EQ(1, clFile.Open(a.c_str(), 0));
    ASSERT_EQ(1, clFile.Open(b.c_str(), 0));
    EXPECT_EQ(1, PlatDeleteFile(a.c_str()));
    EXPECT_EQ(6u, clFile.GetSize());

    // An owned buffer (as a decoded archive member holds) is freed; the
    // sanitizers' leak check would report it otherwise.
    clFile.Close();
    clFile.m_pTop = clFile.m_pCur = new BYTE[16];
    clFile.m_pEnd = clFile.m_pTop + 16;
    clFile.m_qwSize = 16;
    clFile.m_bAlloc = 1;
    clFile.m_nType = CFILE_MEMORY;
    ASSERT_EQ(1, clFile.Open(b.c_str(), 0));
    EXPECT_EQ(nullptr, clFile.m_pTop);

    // A caller's block is never freed.
    char block[8] = "abcdefg";
    ASSERT_EQ(1, clFile.OpenMemory(block, 8, 0));
    ASSERT_EQ(1, clFile.Open(b.c_str(), 0));
    EXPECT_EQ((BYTE*)block, clFile.m_pTop);
    EXPECT_STREQ("abcdefg", block);
}

TEST(CFileOpen, ConstructorsOpen)
{
    ScratchDir dir("ctor");
    std::string path = dir.Path("a.bin");
    ASSERT_TRUE(WriteWholeFile(path, "12345"));
    CFile clFile(path.c_str(), 0);
    EXPECT_EQ(CFILE_HANDLE, clFile.m_nType);
    EXPECT_EQ(5u, clFile.GetSize());

    char block[4];
    CFile clMemory(block, 4, 0);
    EXPECT_EQ(CFILE_MEMORY, clMemory.m_nType);
    EXPECT_EQ(4u, clMemory.GetSize());
}

// --- Reading and writing an OS file -------------------------------------

TEST(CFileHandle, ReadClipsAtTheEnd)
{
    ScratchDir dir("read_clip");
    std::string path = dir.Path("a.bin");
    ASSERT_TRUE(WriteWholeFile(path, "0123456789ABCD"));

    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 0));
    EXPECT_EQ(14u, clFile.GetSize());
    char buf[16] = {};
    EXPECT_EQ(0u, clFile.Read(buf, 0));
    EXPECT_EQ(10u, clFile.Read(buf, 10));
    EXPECT_EQ(0, memcmp(buf, "0123456789", 10));
    EXPECT_EQ(4u, clFile.Read(buf, 10));
    EXPECT_EQ(0, memcmp(buf, "ABCD", 4));
    EXPECT_EQ(14u, clFile.GetPos());
    EXPECT_EQ(0u, clFile.Read(buf, 10));
}

TEST(CFileHandle, WritesGrowSizeAndPosition)
{
    ScratchDir dir("write_grow");
    std::string path = dir.Path("a.bin");
    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 1));
    EXPECT_EQ(7u, clFile.Write("abcdefg", 7));
    EXPECT_EQ(7u, clFile.GetSize());
    EXPECT_EQ(7u, clFile.GetPos());
    EXPECT_EQ(7u, clFile.GetPos64());
    clFile.Close();
    std::string data;
    ASSERT_TRUE(ReadWholeFile(path, &data));
    EXPECT_EQ("abcdefg", data);
}

TEST(CFileHandle, SeekFromTheEndOfAFileBeingWritten)
{
    ScratchDir dir("write_seek_end");
    std::string path = dir.Path("a.bin");
    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 1));
    ASSERT_EQ(10u, clFile.Write("0123456789", 10));
    EXPECT_EQ(1, clFile.Seek(0, 2));
    EXPECT_EQ(10u, clFile.GetPos());
    EXPECT_EQ(1, clFile.Seek(-4, 2));
    EXPECT_EQ(2u, clFile.Write("XY", 2));
    EXPECT_EQ(1, clFile.Seek(0, 2));
    EXPECT_EQ(10u, clFile.GetPos());
    clFile.Close();
    std::string data;
    ASSERT_TRUE(ReadWholeFile(path, &data));
    EXPECT_EQ("012345XY89", data);
}

TEST(CFileHandle, SeekOriginsAndRelativeMoves)
{
    ScratchDir dir("seek");
    std::string path = dir.Path("a.bin");
    ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 0));
    char c = 0;
    EXPECT_EQ(1, clFile.Seek(3, 0));
    EXPECT_EQ(1u, clFile.Read(&c, 1));
    EXPECT_EQ('3', c);
    EXPECT_EQ(1, clFile.Seek(2, 1));
    EXPECT_EQ(1u, clFile.Read(&c, 1));
    EXPECT_EQ('6', c);
    EXPECT_EQ(1, clFile.Seek(-1, 2));
    EXPECT_EQ(1u, clFile.Read(&c, 1));
    EXPECT_EQ('9', c);
    EXPECT_EQ(1, clFile.Seek64(1, 0));
    EXPECT_EQ(1u, clFile.GetPos());
    EXPECT_EQ(1, clFile.Seek64((QWORD)-1, 1)); // back by one
    EXPECT_EQ(0u, clFile.GetPos64());
}

// A member stored inside an archive is read through a handle whose window
// starts and ends inside the larger file.
TEST(CFileHandle, WindowOnALargerFileNeverYieldsItsNeighbours)
{
    ScratchDir dir("window");
    std::string path = dir.Path("archive.bin");
    ASSERT_TRUE(WriteWholeFile(path, "HEADmemberNEXT"));

    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 0));
    clFile.m_qwStart = 4;
    clFile.m_qwSize = 6;
    clFile.m_qwEnd = 10;
    ASSERT_EQ(1, clFile.Seek(0, 0));
    EXPECT_EQ(0u, clFile.GetPos());

    char buf[32] = {};
    EXPECT_EQ(6u, clFile.Read(buf, sizeof(buf)));
    EXPECT_STREQ("member", buf);
    EXPECT_EQ(6u, clFile.GetPos());
    EXPECT_EQ(0u, clFile.Read(buf, sizeof(buf)));

    ASSERT_EQ(1, clFile.Seek(0, 2));
    EXPECT_EQ(6u, clFile.GetPos());
    EXPECT_EQ(0u, clFile.Read(buf, 1));
    ASSERT_EQ(1, clFile.Seek(-3, 2));
    memset(buf, 0, sizeof(buf));
    EXPECT_EQ(3u, clFile.Read(buf, 100));
    EXPECT_STREQ("ber", buf);

    // Seeks before the window, before the OS file (the OS refuses those) or
    // wrapping round 2^64: the position stands there, as a block's cursor
    // would, and reads find nothing until a seek comes back inside.
    const QWORD NEG = (QWORD)-1;
    struct {
        DWORD dwReadFirst;
        QWORD qwOffset;
        int nOrigin;
        QWORD qwThen; // a further move from the current position
        const char* pszRead;
        QWORD qwPos;
    } const cases[] = {
        { 0, NEG - 9, 0, 0, "", NEG - 9 },      // before the OS file; pos + 8 wraps
        { 2, NEG - 3, 1, 0, "", NEG - 1 },      // back past the start
        { 0, NEG, 0, 0, "", NEG },              // just before the window
        { 0, NEG - 2, 0, 0, "", NEG - 2 },      // wraps round to the OS file's byte 1
        { 0, NEG - 999, 0, 1000, "member", 0 }, // out and back in, relatively
        { 0, NEG - 5, 2, 0, "mem", 0 },         // seeks inside still work
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << (int64_t)c.qwOffset << " origin " << c.nOrigin);
        ASSERT_EQ(1, clFile.Seek64(0, 0));
        ASSERT_EQ(c.dwReadFirst, clFile.Read(buf, c.dwReadFirst));
        ASSERT_EQ(1, clFile.Seek64(c.qwOffset, c.nOrigin));
        ASSERT_EQ(1, clFile.Seek64(c.qwThen, 1));
        EXPECT_EQ(c.qwPos, clFile.GetPos64());
        memset(buf, 0, sizeof(buf));
        EXPECT_EQ(strlen(c.pszRead), clFile.Read(buf, strlen(c.pszRead) ? (DWORD)strlen(c.pszRead) : 8));
        EXPECT_STREQ(c.pszRead, buf);
    }
    // The signed 32-bit form reaches the same places.
    ASSERT_EQ(1, clFile.Seek(-6, 0));
    EXPECT_EQ(0u, clFile.Read(buf, 8));
    EXPECT_EQ((QWORD)-6, clFile.GetPos64());

    // A write of nothing past the end (which even a file open for reading
    // may accept) writes no byte, so the window keeps its end.
    ASSERT_EQ(1, clFile.Seek(2, 2));
    clFile.Write(buf, 0);
    ASSERT_EQ(1, clFile.Seek(0, 0));
    EXPECT_EQ(6u, clFile.Read(buf, sizeof(buf)));
}

TEST(CFileHandle, WriteTimeIsNowInLocalTime)
{
    ScratchDir dir("write_time");
    std::string path = dir.Path("a.bin");
    time_t tBefore = time(NULL);
    ASSERT_TRUE(WriteWholeFile(path, "x"));
    CFile clFile;
    ASSERT_EQ(1, clFile.Open(path.c_str(), 0));
    SYSTEMTIME st = {};
    ASSERT_NE(0, clFile.GetWriteTime(&st));

    struct tm tmFile = {};
    tmFile.tm_year = st.wYear - 1900;
    tmFile.tm_mon = st.wMonth - 1;
    tmFile.tm_mday = st.wDay;
    tmFile.tm_hour = st.wHour;
    tmFile.tm_min = st.wMinute;
    tmFile.tm_sec = st.wSecond;
    tmFile.tm_isdst = -1;
    double dDiff = difftime(mktime(&tmFile), tBefore);
    EXPECT_GT(dDiff, -120.0) << st.wYear << "-" << st.wMonth << "-" << st.wDay << " " << st.wHour;
    EXPECT_LT(dDiff, 120.0);

    char block[4];
    CFile clMemory(block, 4, 0);
    EXPECT_EQ(0, clMemory.GetWriteTime(&st));
}

// --- Memory blocks ------------------------------------------------------

TEST(CFileMemory, SizeZeroOrAllOnesIsUnbounded)
{
    char block[64] = "unbounded block";
    for (DWORD dwSize : { 0u, 0xFFFFFFFFu }) {
        CFile clFile;
        ASSERT_EQ(1, clFile.OpenMemory(block, dwSize, 0));
        EXPECT_EQ(0xFFFFFFFFu, clFile.GetSize());
        char buf[64];
        EXPECT_EQ(64u, clFile.Read(buf, 64));
        EXPECT_STREQ("unbounded block", buf);
    }
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 0));
    EXPECT_EQ(0xFFFFFFFFu, clFile.GetSize());
}

TEST(CFileMemory, TransfersClipAtTheEndOfABoundedBlock)
{
    char block[10] = "aaaaaaaaa";
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 10, 0));
    ASSERT_EQ(1, clFile.Seek(7, 0));
    EXPECT_EQ(3u, clFile.Write("XYZW", 4));
    EXPECT_EQ(0, memcmp(block, "aaaaaaaXYZ", 10));
    EXPECT_EQ(10u, clFile.GetPos());
    EXPECT_EQ(0u, clFile.Write("Q", 1));

    char buf[10];
    ASSERT_EQ(1, clFile.Seek(-4, 2));
    EXPECT_EQ(4u, clFile.Read(buf, 10));
    EXPECT_EQ(0, memcmp(buf, "aXYZ", 4));
}

TEST(CFileMemory, CursorOutsideTheBlockMovesNothing)
{
    char block[8] = "1234567";
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 8, 0));
    char buf[8];
    EXPECT_EQ(1, clFile.Seek(20, 0));
    EXPECT_EQ(20u, clFile.GetPos());
    EXPECT_EQ(0u, clFile.Read(buf, 4));
    EXPECT_EQ(0u, clFile.Write("zz", 2));
    EXPECT_EQ(1, clFile.Seek(-4, 0));
    EXPECT_EQ((QWORD)-4, clFile.GetPos64());
    EXPECT_EQ(0u, clFile.Read(buf, 4));
    EXPECT_EQ(0u, clFile.Write("zz", 2));
    EXPECT_STREQ("1234567", block);
}

// --- Typed values -------------------------------------------------------

TEST(CFileTyped, ValuesAreLittleEndian)
{
    BYTE block[16] = {};
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 16, 0));
    EXPECT_EQ(4u, clFile.WriteDword(0x12345678));
    EXPECT_EQ(2u, clFile.WriteWord(0xABCD));
    EXPECT_EQ(1u, clFile.WriteByte(0xEF));
    const BYTE abExpected[] = { 0x78, 0x56, 0x34, 0x12, 0xCD, 0xAB, 0xEF };
    EXPECT_EQ(0, memcmp(block, abExpected, sizeof(abExpected)));

    ASSERT_EQ(1, clFile.Seek(0, 0));
    EXPECT_EQ(0x12345678u, clFile.ReadDword());
    EXPECT_EQ(0xABCD, clFile.ReadWord());
    EXPECT_EQ(0xEF, clFile.ReadByte());
}

TEST(CFileTyped, ReadsPastTheEndGiveZeroForMissingBytes)
{
    BYTE block[3] = { 0x11, 0x22, 0x33 };
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 3, 0));
    ASSERT_EQ(1, clFile.Seek(1, 0));
    EXPECT_EQ(0x3322u, clFile.ReadDword());
    EXPECT_EQ(0, clFile.ReadWord());
    EXPECT_EQ(0, clFile.ReadByte());
}

// --- Chunk copies and zero fill -----------------------------------------

TEST(CFileCopy, ChunkLoopEndsOnTheFirstShortResult)
{
    ScratchDir dir("copy_chunks");
    const DWORD dwChunk = 1000;
    for (size_t nSize : { 2500u, 2000u }) {
        std::string src = dir.Path("src.bin"), dst = dir.Path("dst.bin");
        std::string data;
        for (size_t i = 0; i < nSize; i++)
            data += (char)(i * 7);
        ASSERT_TRUE(WriteWholeFile(src, data));

        CFile clSrc, clDst;
        ASSERT_EQ(1, clSrc.Open(src.c_str(), 0));
        ASSERT_EQ(1, clDst.Open(dst.c_str(), 1));
        std::vector<DWORD> aResults;
        DWORD dwCopied;
        do {
            dwCopied = clDst.CopyFrom(&clSrc, dwChunk);
            aResults.push_back(dwCopied);
        } while (dwCopied == dwChunk);
        clSrc.Close();
        clDst.Close();

        std::vector<DWORD> aExpected = { dwChunk, dwChunk, (DWORD)(nSize - 2 * dwChunk) };
        EXPECT_EQ(aExpected, aResults) << nSize;
        std::string copy;
        ASSERT_TRUE(ReadWholeFile(dst, &copy));
        EXPECT_EQ(data, copy);
    }
}

// A memory source is written to a file straight from its block: the same
// counts and bytes as through a buffer, the source clipped to its block and
// moved on by what it gave, also when the write fails.
TEST(CFileCopy, MemorySourceIntoAFileKeepsTheChunkRules)
{
    ScratchDir dir("copy_memory");
    std::string data;
    for (int i = 0; i < 2500; i++)
        data += (char)(i * 13);
    std::string dst = dir.Path("dst.bin");
    CFile clSrc, clDst, clClosed;
    ASSERT_EQ(1, clSrc.OpenMemory(&data[0], 2500, 0));
    ASSERT_EQ(1, clDst.Open(dst.c_str(), 1));
    EXPECT_EQ(0u, clClosed.CopyFrom(&clSrc, 500));
    EXPECT_EQ(500u, clSrc.GetPos());
    EXPECT_EQ(1000u, clDst.CopyFrom(&clSrc, 1000));
    EXPECT_EQ(1000u, clDst.CopyFrom(&clSrc, 1000));
    EXPECT_EQ(0u, clDst.CopyFrom(&clSrc, 1000));
    EXPECT_EQ(2000u, clDst.GetSize());
    clDst.Close();
    std::string copy;
    ASSERT_TRUE(ReadWholeFile(dst, &copy));
    EXPECT_EQ(data.substr(500), copy);
}

TEST(CFileCopy, CopyFromAnEndedSourceOrIntoAClosedDestination)
{
    char abSrc[6] = "hello";
    char abDst[6] = {};
    CFile clSrc, clDst, clClosed;
    ASSERT_EQ(1, clSrc.OpenMemory(abSrc, 5, 0));
    ASSERT_EQ(1, clDst.OpenMemory(abDst, 6, 0));

    // A closed destination writes nothing, but the source was still read.
    EXPECT_EQ(0u, clClosed.CopyFrom(&clSrc, 2));
    EXPECT_EQ(2u, clSrc.GetPos());
    EXPECT_EQ(3u, clDst.CopyFrom(&clSrc, 100));
    EXPECT_STREQ("llo", abDst);
    EXPECT_EQ(0u, clDst.CopyFrom(&clSrc, 100));
}

TEST(CFileCopy, WriteZeroFillsAndCountsWhatWasWritten)
{
    char block[6] = "abcde";
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenMemory(block, 5, 0));
    EXPECT_EQ(0u, clFile.WriteZero(0));
    ASSERT_EQ(1, clFile.Seek(1, 0));
    EXPECT_EQ(4u, clFile.WriteZero(10));
    EXPECT_EQ(0, memcmp(block, "a\0\0\0\0", 6));
}

// --- Resources ----------------------------------------------------------

#ifdef _WIN32
TEST(CFileResource, ReadsTheResourceLinkedIntoTheProgram)
{
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenResource("TESTDATA", MAKEINTRESOURCEA(10)));
    EXPECT_EQ(CFILE_RESOURCE, clFile.m_nType);
    std::string expected = "resource data for the file tests\n";
    EXPECT_EQ(expected.size(), clFile.GetSize());
    char buf[64] = {};
    EXPECT_EQ(expected.size(), clFile.Read(buf, sizeof(buf)));
    EXPECT_EQ(expected, buf);

    // Read-only: a write changes nothing.
    ASSERT_EQ(1, clFile.Seek(0, 0));
    EXPECT_EQ(0u, clFile.Write("XX", 2));
    EXPECT_EQ('r', clFile.ReadByte());
    EXPECT_EQ(1, clFile.Close());
    EXPECT_EQ(nullptr, clFile.m_hResData);
}
#endif

TEST(CFileResource, MissingResourceLeavesObjectClosed)
{
    CFile clFile;
    EXPECT_EQ(0, clFile.OpenResource("NO_SUCH_RESOURCE", MAKEINTRESOURCEA(10)));
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);
}

} // namespace

// --- Replacing a file whole (the seam's primitive under CTempFile) -------

// A null device at *pTarget (POSIX: made there, as root), or the system's
// own (Windows). False, with the reason shown, where none can be made.
bool MakeNullDevice(std::string* pTarget)
{
#ifdef _WIN32
    *pTarget = "NUL";
    return true;
#else
    (void)pTarget; // the scratch folder's t.bin
    std::string host = "scratch_replace/t.bin";
    if (mknod(host.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        return true;
    printf("skipped the device row: mknod is refused here (%s)\n", strerror(errno));
    return false;
#endif
}

TEST(Replace, Rules)
{
    const DWORD RO = FILE_ATTRIBUTE_READONLY, HS = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    enum Target { NONE, FILE, DEVICE, FOLDER, NO_FOLDER };
    struct Row {
        const char* lpszName;
        Target nTarget;
        DWORD dwAttributes; // of an existing target file
        bool bTempTaken;    // a file of the temporary name is there
        DWORD dwFlags;
        bool bCommit;
        int nBegun;
        int nError;         // PlatGetLastError after a refusal
        const char* lpszAfter; // the target's content afterwards
        DWORD dwAfter;      // attributes it has afterwards, of RO | HS (Windows: hidden and system too)
    };
    const Row rows[] = {
        { "new target", NONE, 0, false, 0, true, 1, 0, "new", 0 },
        { "replaced", FILE, 0, false, 0, true, 1, 0, "new", 0 },
        { "dropped", FILE, 0, false, 0, false, 1, 0, "old", 0 },
        { "read-only refused", FILE, RO, false, 0, true, 0, PLAT_ERROR_ACCESS, "old", RO },
        { "read-only cleared", FILE, RO, false, PLAT_REPLACE_READONLY, true, 1, 0, "new", 0 },
        { "read-only kept", FILE, RO | HS, false, PLAT_REPLACE_READONLY | PLAT_REPLACE_KEEP_READONLY, true, 1, 0,
          "new", RO | HS },
        { "hidden and system kept", FILE, HS, false, PLAT_REPLACE_NO_FLUSH, true, 1, 0, "new", HS },
        { "temporary name taken", FILE, 0, true, 0, true, -1, PLAT_ERROR_EXISTS, "old", 0 },
        { "device written directly", DEVICE, 0, false, 0, true, 1, 0, NULL, 0 },
        { "folder in the way", FOLDER, 0, false, 0, true, 0, -1, NULL, 0 },
        { "no such folder", NO_FOLDER, 0, false, 0, true, 0, PLAT_ERROR_NOT_FOUND, NULL, 0 },
    };
#ifdef _WIN32
    const DWORD dwShown = RO | HS;
#else
    const DWORD dwShown = RO; // hidden and system mean nothing here
#endif
    for (const Row& row : rows) {
        SCOPED_TRACE(row.lpszName);
        ScratchDir dir("replace");
        std::string target = dir.Path(row.nTarget == NO_FOLDER ? "gone\\t.bin" : "t.bin");
        std::string temp = target + ".~tmp";
        if (row.nTarget == DEVICE && !MakeNullDevice(&target))
            continue;
        if (row.nTarget == FILE) {
            ASSERT_TRUE(WriteWholeFile(target, "old"));
            ASSERT_EQ(1, PlatSetFileAttributes(target.c_str(), row.dwAttributes ? row.dwAttributes : FILE_ATTRIBUTE_NORMAL));
        }
        if (row.nTarget == FOLDER) {
            ASSERT_EQ(1, PlatCreateDirectory(target.c_str()));
        }
        if (row.bTempTaken) {
            ASSERT_TRUE(WriteWholeFile(temp, "someone's"));
        }

        PlatReplace r;
        int nBegun = PlatBeginReplace(&r, target.c_str(), temp.c_str(), row.dwFlags);
        int nError = PlatGetLastError();
        ASSERT_EQ(row.nBegun, nBegun);
        if (nBegun == 1) {
            // The temporary file loses its owner's write bit (a umask of
            // 0277): dropping it still deletes it.
            if (!row.bCommit) {
                EXPECT_EQ(1, PlatSetFileAttributes(temp.c_str(), FILE_ATTRIBUTE_READONLY));
            }
            DWORD dwDone = 0;
            ASSERT_EQ(1, PlatWriteFile(r.hFile, "new", 3, &dwDone));
            if (row.dwFlags & PLAT_REPLACE_NO_FLUSH) {
                EXPECT_EQ(1, PlatFlushFile(r.hFile));
            }
            EXPECT_EQ(row.bCommit ? 1 : 0, PlatEndReplace(&r, row.bCommit));
        } else if (row.nError >= 0) {
            EXPECT_EQ(row.nError, nError);
        }
        std::string data;
        EXPECT_EQ(row.bTempTaken, ReadWholeFile(temp, &data));
        if (row.bTempTaken) {
            EXPECT_EQ("someone's", data);
        }
        if (row.lpszAfter) {
            ASSERT_TRUE(ReadWholeFile(target, &data));
            EXPECT_EQ(row.lpszAfter, data);
            EXPECT_EQ(row.dwAfter & dwShown, PlatGetFileAttributes(target.c_str()) & dwShown);
        }
        if (row.nTarget == FILE)
            PlatSetFileAttributes(target.c_str(), FILE_ATTRIBUTE_NORMAL);
#ifndef _WIN32
        struct stat st;
        EXPECT_TRUE(row.nTarget != DEVICE || (lstat("scratch_replace/t.bin", &st) == 0 && S_ISCHR(st.st_mode)));
#endif
    }
}
