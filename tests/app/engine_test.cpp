// The engine's checks against what the copy will meet: one row per
// refusal, and the copy itself on a plan that passed.
#include "engine/engine.h"

#include "codec/cdelta.h"
#include "copyblocks.h"
#include "file/directory.h"
#include "messages.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

std::string Dword(DWORD dw)
{
    return std::string({ (char)dw, (char)(dw >> 8), (char)(dw >> 16), (char)(dw >> 24) });
}

std::string Field(const std::string& text, size_t nSize)
{
    std::string s = text.substr(0, nSize);
    s.resize(nSize, '\0');
    return s;
}

std::string Records(const std::vector<std::string>& paths)
{
    std::string out;
    for (const std::string& p : paths)
        out += Field(p, MAX_PATH) + Dword(p.back() == '\\' ? 0 : 3) + Dword(0);
    return out;
}

// A package (patch\Updateinf.dat, patch\data\...) and a game (inst\ with
// Uninstallinf.dat) below a scratch folder.
struct Game {
    ScratchDir dir;
    std::string patch, inst;
    explicit Game(const char* name, const std::vector<std::string>& records)
        : dir(name), patch(dir.Path("patch") + "\\"), inst(dir.Path("inst") + "\\")
    {
        EXPECT_EQ(1, CreateDirectories((patch + "data\\").c_str()));
        EXPECT_EQ(1, CreateDirectories(inst.c_str()));
        EXPECT_TRUE(WriteWholeFile(patch + "Updateinf.dat",
                                   Field("T", 128) + Field("K", 128) + Field("V", 128) + Dword((DWORD)records.size()) +
                                       Dword(0) + Dword(0) + Records(records)));
        EXPECT_TRUE(WriteWholeFile(inst + "Uninstallinf.dat", std::string(128, 'h') + Dword(0) + Dword(0) + Dword(0) +
                                                                  std::string(4928, 't')));
        for (const std::string& r : records) {
            size_t nSep = r.rfind('\\');
            if (nSep != std::string::npos) {
                EXPECT_EQ(1, CreateDirectories((patch + "data\\" + r.substr(0, nSep)).c_str()));
            }
            if (r.back() != '\\') {
                EXPECT_TRUE(WriteWholeFile(patch + "data\\" + r, "new"));
            }
        }
    }
    // Updateinf.sum for the sources as they are now.
    bool WriteSums(const std::vector<std::string>& records)
    {
        std::vector<SumEntry> sums(records.size());
        std::vector<BYTE> block(COPY_BLOCK_SIZE);
        for (size_t i = 0; i < records.size(); i++) {
            CFile clSource;
            SumEntry& e = sums[i];
            if (records[i].back() != '\\' &&
                !(clSource.Open((patch + "data\\" + records[i]).c_str(), 0) &&
                  HashFile(&clSource, block.data(), COPY_BLOCK_SIZE, e.abInstalled, &e.qwInstalledSize)))
                return false;
            e.qwSourceSize = e.qwInstalledSize;
            memcpy(e.abSource, e.abInstalled, sizeof(e.abSource));
        }
        std::vector<BYTE> file = SerializeUpdateSums(sums);
        return WriteWholeFile(patch + g_szUpdateSumName, std::string(file.begin(), file.end()));
    }
    // Makes records[i] a delta that rebuilds `now` from the installed
    // `base`; its sum entry claims the result `claimed` (records are 3
    // bytes long).
    bool MakeDelta(const std::vector<std::string>& records, size_t i, const std::string& base, const std::string& now,
                   const std::string& claimed)
    {
        std::vector<BYTE> delta;
        std::vector<SumEntry> sums;
        CDelta codec;
        std::string name = records[i] + ".dlt";
        if (!WriteSums(records) || !WriteWholeFile(inst + records[i], base) ||
            !codec.Make((const BYTE*)base.data(), base.size(), (const BYTE*)now.data(), now.size(), &delta) ||
            !WriteWholeFile(patch + "data\\" + name, std::string(delta.begin(), delta.end())) ||
            !LoadUpdateSums((patch + g_szUpdateSumName).c_str(), &sums))
            return false;
        SumEntry& e = sums[i];
        e.dwKind = SUM_DELTA;
        e.qwSourceSize = delta.size();
        e.qwBaseSize = base.size();
        strcpy(e.szSource, name.c_str());
        if (!Digest(claimed.data(), claimed.size(), e.abInstalled) || !Digest(delta.data(), delta.size(), e.abSource) ||
            !Digest(base.data(), base.size(), e.abBase))
            return false;
        std::vector<BYTE> file = SerializeUpdateSums(sums);
        return WriteWholeFile(patch + g_szUpdateSumName, std::string(file.begin(), file.end()));
    }
    static bool Digest(const void* pData, size_t nSize, BYTE abDigest[PLAT_SHA256_SIZE])
    {
        PlatSha256 hash;
        if (!hash.Begin())
            return false;
        hash.Add(pData, nSize);
        return hash.End(abDigest) == 1;
    }
    // The kernel's name of a path below the scratch folder.
    static std::string Host(std::string path)
    {
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
};

const EngineCallbacks s_callbacks = { [](void*, const char*) {}, [](void*, DWORD) {}, [](void*) { return 1; },
                                     NULL };

// The steps before the copy; the check's result, -1 when an earlier step
// failed.
int LoadAndCheck(UpdateEngine* pEngine, const Game& g)
{
    if (!EngineLoadUpdate(pEngine, g.patch.c_str()) || !EngineLoadInstalled(pEngine, g.inst.c_str()) ||
        !EnginePlan(pEngine, &s_callbacks))
        return -1;
    return EngineCheck(pEngine, &s_callbacks);
}

struct Row {
    const char* lpszName;
    std::vector<std::string> records;
    // Prepares the refusal; false skips the row (the system refused).
    std::function<bool(Game&)> spoil;
    int nCheck;
    // The path shown, "" for the install folder.
    const char* lpszPath;
    // The path is the patch folder's.
    bool bInPatch = false;
};

bool Shell(const std::string& command)
{
    return system(command.c_str()) == 0;
}

#ifndef _WIN32
// Undoes what the rows made immutable, so the scratch folder can go.
void Release(Game& g)
{
    Shell("chattr -R -i '" + Game::Host(g.dir.Root()) + "' 2>/dev/null");
}
#endif

TEST(EngineCheck, RefusesBeforeAnythingChanges)
{
    std::vector<Row> rows = {
        { "missing-source", { "a.txt", "b.txt" },
          [](Game& g) { return remove(Game::Host(g.patch + "data\\b.txt").c_str()) == 0; }, ENGINE_SOURCE, "b.txt" },
        // A download damaged or cut short, named before anything else.
        { "damaged-source", { "a.txt", "b.txt", "c.txt" },
          [](Game& g) {
              return g.WriteSums({ "a.txt", "b.txt", "c.txt" }) && WriteWholeFile(g.patch + "data\\b.txt", "NEW") &&
                     remove(Game::Host(g.patch + "data\\c.txt").c_str()) == 0;
          },
          ENGINE_DAMAGED, "b.txt" },
        { "truncated-source", { "d\\", "d\\b.txt" },
          [](Game& g) { return g.WriteSums({ "d\\", "d\\b.txt" }) && WriteWholeFile(g.patch + "data\\d\\b.txt", "ne"); },
          ENGINE_DAMAGED, "d\\b.txt" },
        { "sums-of-another-list", { "a.txt", "b.txt" }, [](Game& g) { return g.WriteSums({ "a.txt" }); },
          ENGINE_UPDATE_INFO, "Updateinf.sum", true },
        { "sums-of-another-version", { "a.txt" },
          [](Game& g) {
              return g.WriteSums({ "a.txt" }) &&
                     WriteWholeFile(g.patch + "Updateinf.sum", "UPDSUM\r\n" + Dword(3) + Dword(0));
          },
          ENGINE_UPDATE_INFO, "Updateinf.sum", true },
        // The installed file a delta applies to is another one, or gone.
        { "base-differs", { "a.bin" },
          [](Game& g) {
              return g.MakeDelta({ "a.bin" }, 0, "old-base", "new", "new") && WriteWholeFile(g.inst + "a.bin", "old-BASE");
          },
          ENGINE_BASE_DIFFERS, "a.bin" },
        { "base-missing", { "b.txt", "a.bin" },
          [](Game& g) {
              return g.MakeDelta({ "b.txt", "a.bin" }, 1, "old-base", "new", "new") &&
                     remove(Game::Host(g.inst + "a.bin").c_str()) == 0;
          },
          ENGINE_BASE_DIFFERS, "a.bin" },
        { "file-in-folder-place", { "d\\" }, [](Game& g) { return WriteWholeFile(g.inst + "d", "x"); },
          ENGINE_PATH_TYPE, "d\\" },
        { "folder-in-file-place", { "f.txt" }, [](Game& g) { return CreateDirectories((g.inst + "f.txt").c_str()) == 1; },
          ENGINE_PATH_TYPE, "f.txt" },
        { "folder-nothing-makes", { "sub\\f.txt" }, [](Game&) { return true; }, ENGINE_PATH_TYPE, "sub\\f.txt" },
#ifndef _WIN32
        // What a player's rights or the file system refuse, found by trying.
        { "folder-refuses-files", { "sub\\", "sub\\f.txt" },
          [](Game& g) {
              return CreateDirectories((g.inst + "sub").c_str()) && Shell("chattr +i '" + Game::Host(g.inst) + "sub'");
          },
          ENGINE_CANNOT_WRITE, "sub\\" },
        { "file-cannot-be-replaced", { "f.txt" },
          [](Game& g) { return WriteWholeFile(g.inst + "f.txt", "old") && Shell("chattr +i '" + Game::Host(g.inst) + "f.txt'"); },
          ENGINE_CANNOT_WRITE, "f.txt" },
        { "install-folder-refuses", { "f.txt" },
          [](Game& g) { return Shell("chattr +i '" + Game::Host(g.inst) + "'"); }, ENGINE_CANNOT_WRITE, "" },
#endif
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.lpszName);
        Game g(row.lpszName, row.records);
        if (!row.spoil(g)) {
            printf("[ SKIPPED ] %s: the system refused to set it up (chattr needs root and a file system that "
                   "takes it)\n",
                   row.lpszName);
            continue;
        }
        UpdateEngine engine;
        EXPECT_NE(1, LoadAndCheck(&engine, g));
        ASSERT_FALSE(engine.problems.empty());
        EXPECT_EQ(row.nCheck, engine.problems[0].nCheck);
        EXPECT_EQ(row.bInPatch ? g.patch + row.lpszPath : *row.lpszPath ? std::string(row.lpszPath) : g.inst,
                  engine.problems[0].path);
#ifndef _WIN32
        Release(g);
#endif
    }
}

// A read-only installed file is replaced, and a folder deeper than any
// record allows is named before anything else is looked at.
TEST(EngineCheck, ReadOnlyPassesAndTooDeepIsNamed)
{
    Game g("engine_ro", { "ro.txt", "a-rather-long-name.txt" });
    ASSERT_TRUE(WriteWholeFile(g.inst + "ro.txt", "old"));
    ASSERT_EQ(1, PlatSetFileAttributes((g.inst + "ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    UpdateEngine engine;
    EXPECT_EQ(1, LoadAndCheck(&engine, g));
    EXPECT_EQ(1, EngineCarryOut(&engine, &s_callbacks));
    EXPECT_EQ(1, EngineRewriteList(&engine));
    std::string data;
    ASSERT_TRUE(ReadWholeFile(g.inst + "ro.txt", &data));
    EXPECT_EQ("new", data);
    EXPECT_EQ(2u, engine.context.uninstall.dwCount);

    UpdateEngine deep;
    ASSERT_EQ(1, EngineLoadUpdate(&deep, g.patch.c_str()));
    std::string folder = g.inst + std::string(MAX_INSTALL_DIRECTORY_LENGTH - g.inst.size() - 1, 'd') + "\\";
    EXPECT_EQ(0, EngineLoadInstalled(&deep, folder.c_str()));
    ASSERT_EQ(1u, deep.problems.size());
    EXPECT_EQ(ENGINE_TOO_DEEP, deep.problems[0].nCheck);
    EXPECT_EQ(folder, deep.problems[0].path);
}

// A source that changes after the check is caught by the copy's own hash,
// before the installed file is replaced; the hash is SHA-256.
TEST(EngineCarryOut, HashesWhatItCopies)
{
    Game g("engine_sums", { "a.txt" });
    ASSERT_TRUE(WriteWholeFile(g.inst + "a.txt", "old"));
    ASSERT_TRUE(g.WriteSums({ "a.txt" }));
    UpdateEngine engine;
    ASSERT_EQ(1, LoadAndCheck(&engine, g));
    ASSERT_TRUE(WriteWholeFile(g.patch + "data\\a.txt", "NEW"));
    EXPECT_EQ(0, EngineCarryOut(&engine, &s_callbacks));
    ASSERT_EQ(1u, engine.problems.size());
    EXPECT_EQ(ENGINE_DAMAGED, engine.problems[0].nCheck);
    std::string data;
    ASSERT_TRUE(ReadWholeFile(g.inst + "a.txt", &data));
    EXPECT_EQ("old", data);
    // The published digest of "abc".
    PlatSha256 hash;
    BYTE abDigest[PLAT_SHA256_SIZE];
    ASSERT_EQ(1, hash.Begin());
    hash.Add("a", 1);
    hash.Add("bc", 2);
    ASSERT_EQ(1, hash.End(abDigest));
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestText(abDigest));
}

// Every delta is rebuilt and checked before the first file moves: a result
// that is not the recorded one changes nothing. A run after a good one
// finds the result installed and only lists it.
TEST(EngineCarryOut, DeltasRebuiltBeforeAnyMove)
{
    const std::vector<std::string> records = { "b.txt", "a.bin" };
    for (const char* lpszClaimed : { "NEW", "new" }) {
        SCOPED_TRACE(lpszClaimed);
        Game g("engine_delta", records);
        ASSERT_TRUE(g.MakeDelta(records, 1, std::string(5000, 'b') + "old", "new", lpszClaimed));
        UpdateEngine engine;
        ASSERT_EQ(1, LoadAndCheck(&engine, g));
        bool bGood = strcmp(lpszClaimed, "new") == 0;
        EXPECT_EQ(bGood ? 1 : 0, EngineCarryOut(&engine, &s_callbacks));
        std::string a, b;
        ASSERT_TRUE(ReadWholeFile(g.inst + "a.bin", &a));
        EXPECT_EQ(bGood ? "new" : std::string(5000, 'b') + "old", a);
        EXPECT_EQ(bGood, ReadWholeFile(g.inst + "b.txt", &b));
        if (!bGood) {
            ASSERT_FALSE(engine.problems.empty());
            EXPECT_EQ(ENGINE_DAMAGED, engine.problems[0].nCheck);
            continue;
        }
        UpdateEngine again;
        ASSERT_EQ(1, LoadAndCheck(&again, g));
        EXPECT_EQ(1, again.plan[1].bDone);
        EXPECT_EQ(1, EngineCarryOut(&again, &s_callbacks));
        ASSERT_TRUE(ReadWholeFile(g.inst + "a.bin", &a));
        EXPECT_EQ("new", a);
    }
}

#ifndef _WIN32
// What a killed run left is removed inside the install folder only: a
// link below it may lead to another program's files of such a name.
TEST(EngineLeftovers, OnlyInsideTheInstallFolder)
{
    Game g("engine_left", { "sub\\", "sub\\f.txt", "linked\\g.txt" });
    ASSERT_EQ(1, CreateDirectories((g.inst + "sub").c_str()));
    ASSERT_EQ(1, CreateDirectories(g.dir.Path("outside").c_str()));
    std::string link = Game::Host(g.inst + "linked");
    ASSERT_EQ(0, symlink("../outside", link.c_str()));
    for (const char* lpszLeft : { "sub\\upd1.tmp", "sub\\UPDff.TMP", "Uninstallinf.tmp" })
        ASSERT_TRUE(WriteWholeFile(g.inst + lpszLeft, "left"));
    ASSERT_TRUE(WriteWholeFile(g.dir.Path("outside\\upd2.tmp"), "another program's"));
    UpdateEngine engine;
    ASSERT_EQ(1, EngineLoadUpdate(&engine, g.patch.c_str()));
    ASSERT_EQ(1, EngineLoadInstalled(&engine, g.inst.c_str()));
    EngineRemoveLeftovers(&engine);
    std::string data;
    for (const char* lpszLeft : { "sub\\upd1.tmp", "sub\\UPDff.TMP", "Uninstallinf.tmp" })
        EXPECT_FALSE(ReadWholeFile(g.inst + lpszLeft, &data)) << lpszLeft;
    EXPECT_TRUE(ReadWholeFile(g.dir.Path("outside\\upd2.tmp"), &data));
    // The scratch folder's removal would follow the link.
    unlink(link.c_str());
}
#endif

} // namespace
