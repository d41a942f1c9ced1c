#include "engine/engine.h"
#include "updatespace.h"

#include "file/cfile.h"
#include "file/directory.h"
#include "messages.h"
#include "platform/platform.h"
#include "platform/volume.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif
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

// A context holding an update list and an empty uninstall list;
// FreeContext releases it.
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

// An install folder and a source root, both with a trailing backslash as
// the updater passes them.
struct Folders {
    ScratchDir dir;
    std::string install, source;
    explicit Folders(const char* name) : dir(name), install(dir.Path("inst") + "\\"), source(dir.Path("src") + "\\")
    {
        for (const char* sub : { "inst\\d", "src\\d" })
            EXPECT_EQ(1, CreateDirectories(dir.Path(sub).c_str()));
    }
    static void Put(const std::string& path, size_t nSize)
    {
        ASSERT_TRUE(WriteWholeFile(path, std::string(nSize, 'x')));
    }
    void Installed(const std::string& rel, size_t nSize) { Put(install + rel, nSize); }
    void Source(const std::string& rel, size_t nSize) { Put(source + rel, nSize); }

    // The engine's plan of the list over an empty uninstall list: what
    // the volume of the install folder needs.
    QWORD Needed(const std::vector<Entry>& entries) const
    {
        UpdateEngine engine;
        UpdateList list(entries);
        std::swap(engine.context, list.ctx);
        engine.context.pUninstallRecords = new FileRecord[entries.size() + 1];
        engine.context.dwUninstallCapacity = (DWORD)entries.size() + 1;
        engine.installFolder = install;
        engine.sourceFolder = source;
        engine.uninstallFile = install + "Uninstallinf.dat";
        EXPECT_EQ(1, EnginePlan(&engine));
        EXPECT_EQ(1u, engine.volumes.size());
        return engine.volumes.empty() ? 0 : engine.volumes[0].qwNeeded;
    }
    // The volume's allocation unit, in which every file counts.
    DWORD Cluster() const
    {
        QWORD qwFree;
        DWORD dwCluster = 0;
        EXPECT_EQ(1, PlatGetDiskSpace(install.c_str(), &qwFree, &dwCluster));
        return dwCluster;
    }
};

// A second name for a file (ASCII names below the current folder).
bool HardLink(std::string from, std::string to)
{
#ifdef _WIN32
    return CreateHardLinkA(to.c_str(), from.c_str(), NULL) != 0;
#else
    std::replace(from.begin(), from.end(), '\\', '/');
    std::replace(to.begin(), to.end(), '\\', '/');
    return link(from.c_str(), to.c_str()) == 0;
#endif
}

QWORD Clusters(QWORD qwBytes, QWORD qwCluster)
{
    return (qwBytes + qwCluster - 1) / qwCluster * qwCluster;
}

// The rewritten Uninstallinf.dat beside the old one, with no uninstall
// records before and every update record appended.
QWORD ListFile(size_t nRecords, QWORD qwCluster = 1)
{
    return Clusters(5068 + 268 * (QWORD)nRecords, qwCluster);
}

// The records' own sizes are wrong on purpose: only the source files count.
TEST(EnginePlan, SpaceFollowsTheCopyInListOrder)
{
    Folders f("space_order");
    const QWORD c = f.Cluster();
    auto C = [c](QWORD n) { return Clusters(n, c); };
    f.Installed("old.bin", 500000);
    f.Installed("same.bin", 300000);
    f.Installed("d\\dir.bin", 10);
    ASSERT_EQ(1, CreateDirectories((f.install + "dir.bin").c_str()));
    f.Source("new.bin", 300000);
    f.Source("old.bin", 100000);
    f.Source("same.bin", 300000);
    f.Source("one.bin", 1);
    f.Source("dir.bin", 20000);
    f.Source("d\\dir.bin", 50000);

    // A new file is counted once: its temporary copy becomes the file.
    EXPECT_EQ(C(300000) + ListFile(1, c), f.Needed({ { "new.bin", 7 } }));
    // A replaced file of the same size needs room for its copy only
    // while the copy is written.
    EXPECT_EQ(C(300000), f.Needed({ { "same.bin", 0 }, { "d\\", 0 }, { "one.bin", 0 } }));
    // Shrinking first frees room for what comes after; the other way
    // round the new file is still there when the copy of the old one is
    // written.
    EXPECT_EQ(C(100000), f.Needed({ { "old.bin", 1 }, { "new.bin", 1 } }));
    EXPECT_EQ(C(300000) + C(100000), f.Needed({ { "new.bin", 1 }, { "old.bin", 1 } }));
    // A folder in the way replaces nothing. The same path listed again
    // replaces what the first record wrote, whatever its separators.
    EXPECT_EQ(C(20000) + ListFile(1, c), f.Needed({ { "dir.bin", 0 } }));
    EXPECT_EQ(C(50000) - C(10) + C(300000) + C(50000),
              f.Needed({ { "d/dir.bin", 0 }, { "new.bin", 0 }, { "d\\dir.bin", 0 } }));
    // Names that differ only in a second byte (two katakana) are two files.
    for (const char* lpszName : { "\x83\x41.bin", "\x83\x61.bin" }) {
        CFile clFile;
        ASSERT_EQ(1, clFile.Open((f.source + lpszName).c_str(), 1));
        ASSERT_EQ(1000u, clFile.WriteZero(1000));
    }
    EXPECT_EQ(2 * C(1000) + ListFile(2, c), f.Needed({ { "\x83\x41.bin", 0 }, { "\x83\x61.bin", 0 } }));
    // A file with a second hard link frees nothing when it is replaced.
    f.Installed("linked.bin", 200000);
    f.Source("linked.bin", 1);
    ASSERT_TRUE(HardLink(f.install + "linked.bin", f.install + "other.bin"));
    EXPECT_EQ(C(1) + C(300000) + ListFile(2, c), f.Needed({ { "linked.bin", 0 }, { "new.bin", 0 } }));
    // Sizes past 32 bits: sources of 4 GiB - 1 bytes, sparse where the
    // file system allows.
    for (const char* lpszName : { "big1.bin", "big2.bin" }) {
        CFile clFile;
        ASSERT_EQ(1, clFile.Open((f.source + lpszName).c_str(), 1));
        ASSERT_EQ(1, clFile.Seek64(0xFFFFFFFE, 0));
        ASSERT_EQ(1u, clFile.WriteByte(0));
    }
    EXPECT_EQ(2 * C(0xFFFFFFFF) + ListFile(2, c), f.Needed({ { "big1.bin", 1 }, { "big2.bin", 1 } }));
    EXPECT_EQ(ListFile(0, c), f.Needed({}));
}

// Random lists against the pass played out on a model volume: every file
// on it and every temporary copy at its size in clusters, the use summed
// anew at each step. Names come in letter-case and separator variants;
// only names not installed vary in case, since the native build's file
// system tells case apart and Windows does not.
TEST(EnginePlan, SpaceEqualsThePeakOfThePassPlayedOut)
{
    static const char* const s_names[] = { "f0", "d\\f1", "d/f1", "f2", "f3", "n4", "N4", "d\\n5", "d/N5" };
    // The file each name is on Windows (and, for these names, here too).
    static const char* const s_files[] = { "f0", "d\\f1", "d\\f1", "f2", "f3", "n4", "n4", "d\\n5", "d\\n5" };
    const size_t nNames = sizeof(s_names) / sizeof(s_names[0]);
    Folders f("space_peak");
    std::mt19937 rng(6);
    std::map<std::string, QWORD> installed;
    for (const char* lpszFile : { "f0", "d\\f1", "f2", "f3" }) {
        installed[lpszFile] = rng() % 30000;
        f.Installed(lpszFile, (size_t)installed[lpszFile]);
    }

    const QWORD qwCluster = f.Cluster();
    for (int round = 0; round < 150; round++) {
        // This round's sources, one size per file and the same under each
        // of its names. (A missing source is refused by the check; what
        // the count makes of it does not matter.)
        std::map<std::string, QWORD> source;
        for (const char* lpszName : s_names)
            PlatDeleteFile((f.source + lpszName).c_str());
        const char* lpszMissing = "";
        for (size_t i = 0; i < nNames; i++) {
            if (!source.count(s_files[i]))
                source[s_files[i]] = rng() % 30000;
            if (strcmp(s_files[i], lpszMissing) != 0)
                Folders::Put(f.source + s_names[i], (size_t)source[s_files[i]]);
        }
        std::vector<Entry> entries;
        for (size_t n = rng() % 7; n > 0; n--) {
            size_t i = rng() % (nNames + 1);
            entries.push_back({ i == nNames ? "d\\" : s_names[i], (DWORD)rng() });
        }

        std::map<std::string, QWORD> volume;
        for (const auto& file : installed)
            volume[file.first] = Clusters(file.second, qwCluster);
        auto use = [&](QWORD qwTemporary) {
            QWORD qw = qwTemporary;
            for (const auto& file : volume)
                qw += file.second;
            return qw;
        };
        const QWORD qwBefore = use(0);
        QWORD qwPeak = qwBefore;
        for (const Entry& e : entries) {
            if (e.szPath[strlen(e.szPath) - 1] == '\\')
                continue;
            size_t i = std::find_if(s_names, s_names + nNames, [&](const char* n) { return !strcmp(n, e.szPath); }) -
                       s_names;
            if (!strcmp(s_files[i], lpszMissing))
                break;
            QWORD qwCopy = Clusters(source[s_files[i]], qwCluster);
            qwPeak = std::max(qwPeak, use(qwCopy));
            volume[s_files[i]] = qwCopy;
        }
        qwPeak = std::max(qwPeak, use(ListFile(entries.size(), qwCluster)));
        ASSERT_EQ(qwPeak - qwBefore, f.Needed(entries)) << "round " << round;
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
