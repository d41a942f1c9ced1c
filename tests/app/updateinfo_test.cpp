#include "updateinfo.h"

#include "file/directory.h"
#include "messages.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

std::string Dword(DWORD dw)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++)
        s[i] = (char)(dw >> (8 * i));
    return s;
}

// A string in a fixed field, NUL-padded (cut without terminator if full).
std::string Field(const std::string& text, size_t nSize)
{
    std::string s = text.substr(0, nSize);
    s.resize(nSize, '\0');
    return s;
}

std::string Record(const std::string& path, DWORD dwSize, DWORD dwExtra = 0)
{
    return Field(path, MAX_PATH) + Dword(dwSize) + Dword(dwExtra);
}

std::string UpdateFile(const std::string& title, DWORD dwCount, const std::string& records)
{
    return Field(title, 128) + Field("Software\\Maker\\Game", 128) + Field("InstallDir", 128) +
           Dword(dwCount) + Dword(0x11111111) + Dword(0x22222222) + records;
}

// Head and tail bytes that differ everywhere, so a lost byte shows.
std::string UninstallFile(DWORD dwCount, DWORD dwFileCount, DWORD dwTotal, const std::string& records)
{
    std::string head, tail;
    for (int i = 0; i < 128; i++)
        head += (char)(i * 7 + 1);
    for (int i = 0; i < 4928; i++)
        tail += (char)(i * 13 + 5);
    return head + Dword(dwCount) + Dword(dwFileCount) + Dword(dwTotal) + tail + records;
}

bool RunningOnWindows()
{
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

struct ContextHolder {
    UpdateContext ctx;
    ContextHolder() { InitContext(&ctx); }
    ~ContextHolder() { FreeContext(&ctx); }
};

// --- Updateinf.dat ------------------------------------------------------

TEST(UpdateInfo, LoadsHeaderAndRecordsAndIgnoresTrailingBytes)
{
    ScratchDir dir("upd_load");
    std::string path = dir.Path("Updateinf.dat");
    ASSERT_TRUE(WriteWholeFile(path, UpdateFile("ABC", 2, Record("dir\\", 0, 7) + Record("dir\\a.bin", 1234, 9)) + "junk"));

    ContextHolder h;
    ASSERT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str()));
    EXPECT_STREQ("ABC", h.ctx.update.szTitle);
    EXPECT_STREQ("Software\\Maker\\Game", h.ctx.update.szRegKey);
    EXPECT_STREQ("InstallDir", h.ctx.update.szRegValue);
    ASSERT_EQ(2u, h.ctx.update.dwCount);
    EXPECT_STREQ("dir\\a.bin", h.ctx.pUpdateRecords[1].szPath);
    EXPECT_EQ(1234u, h.ctx.pUpdateRecords[1].dwFileSize);
    EXPECT_EQ(9u, h.ctx.pUpdateRecords[1].dwExtra);
    EXPECT_TRUE(IsFolderRecord(&h.ctx.pUpdateRecords[0]));
    EXPECT_FALSE(IsFolderRecord(&h.ctx.pUpdateRecords[1]));
}

TEST(UpdateInfo, EmptyListLoads)
{
    ScratchDir dir("upd_empty");
    std::string path = dir.Path("Updateinf.dat");
    ASSERT_TRUE(WriteWholeFile(path, UpdateFile("ABC", 0, "")));
    ContextHolder h;
    EXPECT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str()));
    EXPECT_EQ(0u, h.ctx.update.dwCount);
}

TEST(UpdateInfo, ShortOrDamagedFilesAreRefusedWithNothingAllocated)
{
    ScratchDir dir("upd_damaged");
    std::string path = dir.Path("Updateinf.dat");
    std::string good = UpdateFile("ABC", 2, Record("a.txt", 1) + Record("b.txt", 2));
    std::string unterminatedKey = good;
    memset(&unterminatedKey[128], 'k', 128);
    struct Case {
        const char* what;
        std::string data;
    } cases[] = {
        { "empty file", "" },
        { "header cut short", good.substr(0, 395) },
        { "last record one byte short", good.substr(0, good.size() - 1) },
        { "count larger than the file", UpdateFile("ABC", 3, Record("a.txt", 1) + Record("b.txt", 2)) },
        { "count that overflows a byte count", UpdateFile("ABC", 0xFFFFFFFF, Record("a.txt", 1)) },
        { "unterminated key", unterminatedKey },
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteWholeFile(path, c.data));
        ContextHolder h;
        EXPECT_EQ(0, LoadUpdateInfo(&h.ctx, path.c_str())) << c.what;
        EXPECT_EQ(nullptr, h.ctx.pUpdateRecords) << c.what;
    }
    ContextHolder h;
    EXPECT_EQ(0, LoadUpdateInfo(&h.ctx, dir.Path("missing.dat").c_str()));
}

// Paths that leave the install folder, and the updater's own files in it
// (named as the OS would read them), which the rewrite of the uninstall
// list would overwrite.
TEST(UpdateInfo, UnsafeRecordPathRefusesTheWholeFile)
{
    ScratchDir dir("upd_badpath");
    std::string path = dir.Path("Updateinf.dat");
    for (const char* lpszBad : { "..\\evil.txt", "Uninstallinf.dat", "uninstallINF.TMP", "Uninstallinf.dat. .",
                                 "UNINSTALLINF.DAT\\" }) {
        ASSERT_TRUE(WriteWholeFile(path, UpdateFile("ABC", 2, Record("ok.txt", 1) + Record(lpszBad, 2))));
        ContextHolder h;
        EXPECT_EQ(0, LoadUpdateInfo(&h.ctx, path.c_str())) << lpszBad;
        EXPECT_EQ(nullptr, h.ctx.pUpdateRecords) << lpszBad;
    }
    // One folder down, or with more to the name, they are ordinary files.
    for (const char* lpszGood : { "sub\\Uninstallinf.dat", "Uninstallinf.dat2", "Uninstallinf.da" }) {
        ASSERT_TRUE(WriteWholeFile(path, UpdateFile("ABC", 1, Record(lpszGood, 2))));
        ContextHolder h;
        EXPECT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str())) << lpszGood;
    }
}

TEST(UpdateInfo, LongTitleIsCutToSixtyBytesOnACharacterBoundary)
{
    ScratchDir dir("upd_title");
    std::string path = dir.Path("Updateinf.dat");
    ContextHolder h;
    ASSERT_TRUE(WriteWholeFile(path, UpdateFile(std::string(70, 'T'), 0, "")));
    ASSERT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str()));
    EXPECT_EQ(std::string(60, 'T'), h.ctx.update.szTitle);

    // 59 bytes, then a katakana whose second byte would be byte 60.
    ASSERT_TRUE(WriteWholeFile(path, UpdateFile(std::string(59, 'T') + "\x83\x41" "xyz", 0, "")));
    ASSERT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str()));
    EXPECT_EQ(std::string(59, 'T'), h.ctx.update.szTitle);

    // A title filling its whole field without a terminator.
    ASSERT_TRUE(WriteWholeFile(path, UpdateFile(std::string(128, 'U'), 0, "")));
    ASSERT_EQ(1, LoadUpdateInfo(&h.ctx, path.c_str()));
    EXPECT_EQ(std::string(60, 'U'), h.ctx.update.szTitle);
}

TEST(RecordPath, RelativePathsAreAccepted)
{
    const char* ok[] = {
        "a.txt", "dir\\", "dir\\sub\\file.bin", "..name", "name..", "a b\\c d.txt",
        // Katakana so and the kanji hyo end in 0x5C without being separators.
        "\x83\x5C\x83\x74\x83\x67\\\x95\x5C.txt", "\x83\x5C\x83\x74\x83\x67\\",
    };
    for (const char* p : ok) {
        char szField[MAX_PATH] = {};
        strcpy(szField, p);
        EXPECT_EQ(1, IsSafeRecordPath(szField)) << p;
    }
}

TEST(RecordPath, PathsThatLeaveTheFolderOrAreMalformedAreRefused)
{
    const char* bad[] = {
        "", "\\a.txt", "/a.txt", "C:a.txt", "C:\\a.txt", "a\\b:stream", "..", "..\\a.txt",
        "a\\..\\..\\b.txt", "a/../b.txt", "a\\.\\b.txt", ".\\a", "a\\.. \\b", "a\\...\\b",
        "a\\\\b.txt", "a/", "\\", "a\tb", "dir\\\x83",
        // Ends in a character whose second byte is a backslash: file or folder?
        "\x83\x5C",
        // Devices, malformed code page 932, characters Windows forbids.
        "NUL", "AUX", "COM1", "nul.txt", "d\\con\\", "d\\CONOUT$", "a\x81.txt", "a*.txt", "a?b",
    };
    for (const char* p : bad) {
        char szField[MAX_PATH] = {};
        strcpy(szField, p);
        EXPECT_EQ(0, IsSafeRecordPath(szField)) << p;
    }
    char szFull[MAX_PATH];
    memset(szFull, 'a', sizeof(szFull));
    EXPECT_EQ(0, IsSafeRecordPath(szFull)) << "no terminator in the field";
}

// The copies' temporary names, in any folder, are the updater's; names
// near them are the game's.
TEST(RecordPath, TemporaryCopyNamesAreTheUpdatersOwn)
{
    for (const char* p : { "upd1.tmp", "UPDab12.TMP", "d\\upd0.tmp", "d\\UpdFFFF.tmp. ", "d\\upd1f.tmp\\" })
        EXPECT_EQ(1, IsUpdaterFileRecord(p)) << p;
    for (const char* p : { "upd.tmp", "upd12345.tmp", "updg1.tmp", "upd1.tmp.bak", "xupd1.tmp", "upd1.tm",
                           "upd1.tmp\\a.txt", "update.tmp" })
        EXPECT_EQ(0, IsUpdaterFileRecord(p)) << p;
}

TEST(RecordPath, FitsBehindChecksTheWholePathAndTheTemporaryName)
{
    std::string root = std::string(200, 'r') + "\\";
    EXPECT_EQ(1, RecordFitsBehind(root.c_str(), std::string(58, 'f').c_str()));
    // 259 bytes and the terminator fit; one more does not.
    EXPECT_EQ(0, RecordFitsBehind(root.c_str(), std::string(59, 'f').c_str()));
    std::string longFolder = std::string(258 - root.size(), 'd') + "\\";
    EXPECT_EQ(1, RecordFitsBehind(root.c_str(), longFolder.c_str()));
    EXPECT_EQ(0, RecordFitsBehind(root.c_str(), (longFolder + "x").c_str()));
    // The file's own folder leaves no room for the temporary name.
    std::string deep = std::string(40, 'd') + "\\" + "f";
    EXPECT_EQ(1, RecordFitsBehind(root.c_str(), deep.c_str()));
    std::string deeper = std::string(45, 'd') + "\\" + "f";
    EXPECT_EQ(0, RecordFitsBehind(root.c_str(), deeper.c_str()));
}

// --- Uninstallinf.dat ---------------------------------------------------

TEST(UninstallInfo, LoadsWithRoomForEveryUpdateRecord)
{
    ScratchDir dir("uni_load");
    std::string updPath = dir.Path("Updateinf.dat"), uniPath = dir.Path("Uninstallinf.dat");
    ASSERT_TRUE(WriteWholeFile(updPath, UpdateFile("ABC", 3, Record("a", 1) + Record("b", 2) + Record("c", 3))));
    ASSERT_TRUE(WriteWholeFile(uniPath, UninstallFile(2, 1, 500, Record("old\\", 0) + Record("old\\x", 500))));

    ContextHolder h;
    ASSERT_EQ(1, LoadUpdateInfo(&h.ctx, updPath.c_str()));
    ASSERT_EQ(1, LoadUninstallInfo(&h.ctx, uniPath.c_str()));
    EXPECT_EQ(5u, h.ctx.dwUninstallCapacity);
    EXPECT_EQ(2u, h.ctx.uninstall.dwCount);
    EXPECT_EQ(1u, h.ctx.uninstall.dwFileCount);
    EXPECT_EQ(500u, h.ctx.uninstall.dwTotalSize);
    EXPECT_STREQ("old\\x", h.ctx.pUninstallRecords[1].szPath);
}

TEST(UninstallInfo, ShortOrDamagedFilesAreRefused)
{
    ScratchDir dir("uni_damaged");
    std::string path = dir.Path("Uninstallinf.dat");
    std::string good = UninstallFile(1, 1, 5, Record("a", 5));
    std::string unterminated = UninstallFile(1, 1, 5, std::string(MAX_PATH, 'p') + Dword(5) + Dword(0));
    const std::string cases[] = {
        good.substr(0, 5067), good.substr(0, good.size() - 1), UninstallFile(2, 1, 5, Record("a", 5)),
        UninstallFile(0xFFFFFFFF, 0, 0, ""), unterminated,
    };
    for (const std::string& data : cases) {
        ASSERT_TRUE(WriteWholeFile(path, data));
        ContextHolder h;
        EXPECT_EQ(0, LoadUninstallInfo(&h.ctx, path.c_str())) << data.size();
        EXPECT_EQ(nullptr, h.ctx.pUninstallRecords);
    }
}

TEST(UninstallInfo, WriteBackKeepsEveryHeaderByteAndEndsAtTheLastRecord)
{
    ScratchDir dir("uni_write");
    std::string path = dir.Path("Uninstallinf.dat");
    std::string original = UninstallFile(1, 1, 10, Record("a.txt", 10, 3));
    ASSERT_TRUE(WriteWholeFile(path, original + "bytes after the list"));

    // A list the game's installer left read-only (and, on Windows, hidden
    // and a system file) is rewritten and stays so.
    const DWORD dwKept = FILE_ATTRIBUTE_READONLY | (RunningOnWindows() ? FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM : 0);
    ASSERT_EQ(1, PlatSetFileAttributes(path.c_str(), dwKept));

    ContextHolder h;
    ASSERT_EQ(1, LoadUninstallInfo(&h.ctx, path.c_str()));
    ASSERT_EQ(1, WriteUninstallInfo(&h.ctx, path.c_str()));
    std::string data;
    ASSERT_TRUE(ReadWholeFile(path, &data));
    EXPECT_TRUE(data == original) << "size " << data.size() << " against " << original.size();
    EXPECT_EQ(dwKept, PlatGetFileAttributes(path.c_str()) & dwKept);
    EXPECT_FALSE(ReadWholeFile(dir.Path("Uninstallinf.tmp"), &data)) << "temporary file left behind";
    PlatSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(UninstallInfo, FailedWriteBackLeavesTheOldFileAndNoTemporaryFile)
{
    ScratchDir dir("uni_write_fail");
    // The target is a folder: the complete temporary file cannot be moved
    // over it.
    std::string path = dir.Path("Uninstallinf.dat");
    ASSERT_TRUE(WriteWholeFile(dir.Path("source.dat"), UninstallFile(0, 0, 0, "")));
    ContextHolder h;
    ASSERT_EQ(1, LoadUninstallInfo(&h.ctx, dir.Path("source.dat").c_str()));
    CreateDirectories(path.c_str());
    EXPECT_EQ(0, WriteUninstallInfo(&h.ctx, path.c_str()));
    std::string data;
    EXPECT_FALSE(ReadWholeFile(dir.Path("Uninstallinf.tmp"), &data));
    // Its folder does not exist: nothing can be written at all.
    EXPECT_EQ(0, WriteUninstallInfo(&h.ctx, dir.Path("missing\\Uninstallinf.dat").c_str()));
}

// --- Matching and merging -----------------------------------------------

class Merge : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitContext(&ctx);
        ctx.dwUninstallCapacity = 8;
        ctx.pUninstallRecords = new FileRecord[8]();
        Add("Data\\", 0, 0);
        Add("Data\\Movie.bin", 1000, 1);
        ctx.uninstall.dwFileCount = 1;
        ctx.uninstall.dwTotalSize = 1000;
    }
    void TearDown() override { FreeContext(&ctx); }
    void Add(const char* p, DWORD dwSize, DWORD dwExtra)
    {
        FileRecord& r = ctx.pUninstallRecords[ctx.uninstall.dwCount++];
        strcpy(r.szPath, p);
        r.dwFileSize = dwSize;
        r.dwExtra = dwExtra;
    }
    static FileRecord Rec(const char* p, DWORD dwSize, DWORD dwExtra)
    {
        FileRecord r = {};
        strcpy(r.szPath, p);
        r.dwFileSize = dwSize;
        r.dwExtra = dwExtra;
        return r;
    }
    UpdateContext ctx;
};

TEST_F(Merge, MatchIgnoresAsciiCaseOfSingleByteLettersAndTakesTheFirst)
{
    Add("x\x83\x41", 0, 0);   // katakana a
    Add("Y\x82\x60", 0, 0);   // full-width A
    Add("data\\movie.BIN", 5, 0);
    EXPECT_EQ(&ctx.pUninstallRecords[1], FindUninstallRecord(&ctx, "DATA\\MOVIE.bin"));
    // A second byte is no letter: katakana di (83 61) is not katakana a.
    EXPECT_EQ(&ctx.pUninstallRecords[2], FindUninstallRecord(&ctx, "X\x83\x41"));
    EXPECT_EQ(nullptr, FindUninstallRecord(&ctx, "X\x83\x61"));
    // Full-width letters are not folded.
    EXPECT_EQ(nullptr, FindUninstallRecord(&ctx, "y\x82\x81"));
    EXPECT_EQ(nullptr, FindUninstallRecord(&ctx, "Data"));
}

TEST_F(Merge, NewFolderCountsOnlyInTheRecordCount)
{
    FileRecord r = Rec("New\\", 77, 5);
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ(3u, ctx.uninstall.dwCount);
    EXPECT_EQ(1u, ctx.uninstall.dwFileCount);
    EXPECT_EQ(1000u, ctx.uninstall.dwTotalSize);
    EXPECT_STREQ("New\\", ctx.pUninstallRecords[2].szPath);
    EXPECT_EQ(77u, ctx.pUninstallRecords[2].dwFileSize);
    EXPECT_EQ(5u, ctx.pUninstallRecords[2].dwExtra);
}

TEST_F(Merge, ListedFolderChangesNothing)
{
    FileRecord r = Rec("DATA\\", 99, 99);
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ(2u, ctx.uninstall.dwCount);
    EXPECT_EQ(0u, ctx.pUninstallRecords[0].dwFileSize);
    EXPECT_EQ(0u, ctx.pUninstallRecords[0].dwExtra);
    EXPECT_STREQ("Data\\", ctx.pUninstallRecords[0].szPath);
}

TEST_F(Merge, NewFileCountsEverywhere)
{
    FileRecord r = Rec("Data\\new.txt", 24, 2);
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ(3u, ctx.uninstall.dwCount);
    EXPECT_EQ(2u, ctx.uninstall.dwFileCount);
    EXPECT_EQ(1024u, ctx.uninstall.dwTotalSize);
}

TEST_F(Merge, ListedFileTakesTheNewSizeAndKeepsItsPathCase)
{
    FileRecord r = Rec("data\\MOVIE.bin", 600, 42);
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ(2u, ctx.uninstall.dwCount);
    EXPECT_EQ(1u, ctx.uninstall.dwFileCount);
    EXPECT_EQ(600u, ctx.uninstall.dwTotalSize);
    EXPECT_STREQ("Data\\Movie.bin", ctx.pUninstallRecords[1].szPath);
    EXPECT_EQ(600u, ctx.pUninstallRecords[1].dwFileSize);
    EXPECT_EQ(42u, ctx.pUninstallRecords[1].dwExtra);

    r.dwFileSize = 1500;
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ(1500u, ctx.uninstall.dwTotalSize);
}

TEST_F(Merge, TotalSizeWrapsModulo32Bits)
{
    ctx.uninstall.dwTotalSize = 100; // less than the listed 1000: a counter that drifted
    FileRecord r = Rec("Data\\Movie.bin", 0, 0);
    ASSERT_EQ(1, MergeRecord(&ctx, &r));
    EXPECT_EQ((DWORD)(100 - 1000), ctx.uninstall.dwTotalSize);
    FileRecord big = Rec("big.bin", 0xFFFFFFF0, 0);
    ASSERT_EQ(1, MergeRecord(&ctx, &big));
    EXPECT_EQ((DWORD)(100 - 1000 + 0xFFFFFFF0), ctx.uninstall.dwTotalSize);
}

TEST_F(Merge, AFullListRefusesToGrow)
{
    ctx.dwUninstallCapacity = 2;
    FileRecord r = Rec("other.txt", 1, 0);
    EXPECT_EQ(0, MergeRecord(&ctx, &r));
    EXPECT_EQ(2u, ctx.uninstall.dwCount);
}

// --- Texts ----------------------------------------------------------------

TEST(Messages, AreCodePage932Bytes)
{
    // "%s" and "wo kopii chuu..." as the program must show them.
    EXPECT_STREQ("%s\x82\xf0\x83\x52\x83\x73\x81\x5b\x92\x86...", g_szFmtCopying);
    // The fixed part of the not-installed text leaves exactly 60 bytes of
    // title room in a 128-byte buffer; its line break is one byte.
    EXPECT_EQ(67u + 2, strlen(g_szFmtNotInstalled));
    EXPECT_EQ(128u, strlen(g_szFmtNotInstalled) - 2 + MAX_TITLE_LENGTH + 1);
    EXPECT_NE(nullptr, strstr(g_szFmtNotInstalled, "\x82\xdc\x82\xb9\x82\xf1\n\x83\x43"));
}

} // namespace
