#include "updatespace.h"

#include "file/directory.h"
#include "messages.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <random>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct Entry {
    const char* szPath;
    DWORD dwSize;
};

// A context holding only an update list; FreeContext releases it.
struct UpdateList {
    UpdateContext ctx;
    explicit UpdateList(const std::vector<Entry>& entries)
    {
        InitContext(&ctx);
        ctx.pUpdateRecords = new FileRecord[entries.size() + 1];
        memset(ctx.pUpdateRecords, 0, sizeof(FileRecord) * (entries.size() + 1));
        for (size_t i = 0; i < entries.size(); i++) {
            strcpy(ctx.pUpdateRecords[i].szPath, entries[i].szPath);
            ctx.pUpdateRecords[i].dwFileSize = entries[i].dwSize;
        }
        ctx.update.dwCount = (DWORD)entries.size();
    }
    ~UpdateList() { FreeContext(&ctx); }
};

// An install folder with a trailing backslash, as the updater passes it.
struct InstallFolder {
    ScratchDir dir;
    std::string root;
    explicit InstallFolder(const char* name) : dir(name), root(dir.Root() + "\\") {}
    void Put(const std::string& rel, size_t nSize) { ASSERT_TRUE(WriteWholeFile(dir.Path(rel), std::string(nSize, 'x'))); }
};

QWORD Needed(const InstallFolder& folder, const std::vector<Entry>& entries)
{
    UpdateList list(entries);
    QWORD qw = 12345;
    EXPECT_EQ(1, GetUpdateSpaceNeeded(&list.ctx, folder.root.c_str(), &qw));
    return qw;
}

TEST(UpdateSpace, NewFilesNeedTheirSumPlusTheLargestOnceMore)
{
    InstallFolder folder("space_new");
    EXPECT_EQ(400u + 300u, Needed(folder, { { "a.bin", 100 }, { "sub\\", 0 }, { "sub\\b.bin", 300 } }));
    EXPECT_EQ(0u, Needed(folder, {}));
    EXPECT_EQ(0u, Needed(folder, { { "only\\", 0 }, { "empty.txt", 0 } }));
}

TEST(UpdateSpace, ReplacedFilesCountOnlyTheirGrowthAndShrinkingOffsetsNothing)
{
    InstallFolder folder("space_replace");
    ASSERT_EQ(1, CreateDirectories(folder.dir.Path("sub").c_str()));
    folder.Put("a.bin", 60);
    folder.Put("sub\\b.bin", 500);
    // a grows by 40, b shrinks by 300, c is new: 40 + 50 of growth, and
    // b's temporary copy of 200 is the largest.
    EXPECT_EQ(90u + 200u, Needed(folder, { { "a.bin", 100 }, { "sub\\b.bin", 200 }, { "c.bin", 50 } }));
    // An unchanged size needs only the room for its temporary copy.
    EXPECT_EQ(60u, Needed(folder, { { "a.bin", 60 } }));
}

TEST(UpdateSpace, FolderOrWildcardAtTheDestinationReplacesNothing)
{
    InstallFolder folder("space_odd");
    ASSERT_EQ(1, CreateDirectories(folder.dir.Path("x.bin").c_str()));
    folder.Put("abc.bin", 1000);
    // "a?c.bin" must not be taken for abc.bin, nor the folder for a file.
    EXPECT_EQ(10u + 10u, Needed(folder, { { "x.bin", 10 } }));
    EXPECT_EQ(10u + 10u, Needed(folder, { { "a?c.bin", 10 } }));
}

TEST(UpdateSpace, SumsPast32Bits)
{
    InstallFolder folder("space_big");
    EXPECT_EQ(3 * (QWORD)0xFFFFFFFF, Needed(folder, { { "a.bin", 0xFFFFFFFF }, { "b.bin", 0xFFFFFFFF } }));
}

TEST(UpdateSpace, RefusesNullArgumentsAndDestinationsTooLong)
{
    UpdateList list({ { "a.bin", 10 } });
    QWORD qw = 1;
    EXPECT_EQ(0, GetUpdateSpaceNeeded(NULL, "x\\", &qw));
    EXPECT_EQ(0u, qw);
    qw = 1;
    EXPECT_EQ(0, GetUpdateSpaceNeeded(&list.ctx, NULL, &qw));
    EXPECT_EQ(0u, qw);
    EXPECT_EQ(0, GetUpdateSpaceNeeded(&list.ctx, "x\\", NULL));

    std::string root(MAX_PATH - 5, 'd');
    root += "\\";
    qw = 1;
    EXPECT_EQ(0, GetUpdateSpaceNeeded(&list.ctx, root.c_str(), &qw));
    EXPECT_EQ(0u, qw);
}

// Whatever the order, the sizes on disk and repeated paths, the number is
// never below the highest use the copy in list order reaches: at each
// file, what was added so far plus its temporary copy.
TEST(UpdateSpace, NeverBelowThePeakOfTheCopyInListOrder)
{
    static const char* const s_names[] = { "f0", "f1", "f2", "f3", "f4", "f5" };
    InstallFolder folder("space_peak");
    std::mt19937 rng(6);
    std::map<std::string, QWORD> installed;
    // f4 and f5 are new; the others replace installed files.
    for (int i = 0; i < 4; i++) {
        installed[s_names[i]] = rng() % 400;
        folder.Put(s_names[i], (size_t)installed[s_names[i]]);
    }

    for (int round = 0; round < 200; round++) {
        std::vector<Entry> entries;
        size_t nCount = 1 + rng() % 6;
        for (size_t i = 0; i < nCount; i++)
            entries.push_back({ s_names[rng() % 6], (DWORD)(rng() % 400) });

        std::map<std::string, QWORD> current = installed;
        int64_t nUsed = 0, nPeak = 0;
        for (const Entry& e : entries) {
            nPeak = std::max(nPeak, nUsed + (int64_t)e.dwSize);
            nUsed += (int64_t)e.dwSize - (int64_t)current[e.szPath];
            current[e.szPath] = e.dwSize;
        }
        QWORD qwNeeded = Needed(folder, entries);
        ASSERT_GE((int64_t)qwNeeded, nPeak) << "round " << round;
    }
}

// The need is rounded up and the free space down, so a shortfall of one
// byte never shows two equal numbers; thousands get commas.
TEST(FormatNoSpaceMessage, RoundsTheNeedUpAndTheFreeSpaceDown)
{
    const QWORD qwMega = 1 << 20;
    char lpszText[256], lpszExpected[256];
    FormatNoSpaceMessage(lpszText, sizeof(lpszText), 1234 * qwMega + 1, 1234 * qwMega + qwMega - 1);
    snprintf(lpszExpected, sizeof(lpszExpected), g_szFmtNoSpace, "1,235", "1,234");
    EXPECT_STREQ(lpszExpected, lpszText);

    FormatNoSpaceMessage(lpszText, sizeof(lpszText), ~(QWORD)0, 0);
    snprintf(lpszExpected, sizeof(lpszExpected), g_szFmtNoSpace, "17,592,186,044,416", "0");
    EXPECT_STREQ(lpszExpected, lpszText);
}

} // namespace
