#include "pack/cpack.h"

#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "file/path.h"
#include "pack/pack_util.h"
#include "pack_test_util.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <algorithm>
#include <ctype.h>
#include <gtest/gtest.h>
#include <map>
#include <string.h>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::string Pattern(size_t n, unsigned nSeed)
{
    std::string s(n, '\0');
    unsigned x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1103515245u + 12345u;
        s[i] = (char)(x >> 16);
    }
    return s;
}

std::string AllBytes()
{
    std::string s;
    for (int i = 0; i < 256; i++)
        s.push_back((char)i);
    return s;
}

std::string Full(const std::string& path)
{
    char full[MAX_PATH];
    EXPECT_NE(0u, PlatGetFullPathName(path.c_str(), MAX_PATH, full, NULL));
    return full;
}

// Contents where the encoders have edges: empty, tiny (a zlib stream of a
// few bytes is longer than twice its input), 256 distinct bytes (576 bytes
// of Huffman), text, and incompressible data.
struct Source {
    const char* name;
    std::string data;
};

std::vector<Source> Sources()
{
    std::string text;
    for (int i = 0; i < 200; i++)
        text += "The quick brown fox jumps over the lazy dog. ";
    return { { "empty.bin", "" },     { "one.bin", "A" },          { "four.bin", "abcd" },
             { "all256.bin", AllBytes() }, { "text.txt", text }, { "noise.bin", Pattern(70000, 3) } };
}

void WriteSources(const ScratchDir& dir, const std::vector<Source>& sources)
{
    for (const Source& s : sources) {
        std::string path = dir.Path(std::string("src\\") + s.name);
        char folder[MAX_PATH];
        CreateDirectories(CutFileName(folder, path.c_str()));
        ASSERT_TRUE(WriteWholeFile(path, s.data));
    }
}

// Folder walks enumerate in the file system's order.
std::vector<std::string> Sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// --- Name hash ----------------------------------------------------------

TEST(PackHash, KnownValues)
{
    EXPECT_EQ(768, CPack::Hash("abc"));
    EXPECT_EQ(768, CPack::Hash("ABC"));
    EXPECT_EQ(768, CPack::Hash("bca"));
    EXPECT_EQ(776, CPack::Hash("a"));
    EXPECT_EQ(0, CPack::Hash("aa"));
    EXPECT_EQ(0, CPack::Hash(""));
    EXPECT_EQ(24, CPack::Hash("ab"));
    EXPECT_EQ(608, CPack::Hash("data.pac"));
    EXPECT_EQ(320, CPack::Hash("BGM01.OGG"));
    EXPECT_EQ(320, CPack::Hash("bgm01.ogg"));
    // Bytes of 0x80 and up count as negative terms.
    EXPECT_EQ(0, CPack::Hash("\x83\x5C") % 8);
    EXPECT_EQ(CPack::Hash("\x83\x5C"), CPack::Hash("\x5C\x83"));
}

// --- Building archives --------------------------------------------------

TEST(PackSave, EmptyCatalogueGivesSixteenBytes)
{
    ScratchDir dir("save_empty");
    CPack clPack;
    ASSERT_EQ(1, clPack.Save(dir.Path("empty.pac").c_str(), PACK_ZLIB, NULL, NULL));
    std::string archive;
    ASSERT_TRUE(ReadWholeFile(dir.Path("empty.pac"), &archive));
    EXPECT_EQ(std::string("PAC\0\0\0\0\0\3\0\0\0\0\0\0\0", 16), archive);

    CPack clRead;
    EXPECT_EQ(1, clRead.OpenArchive(dir.Path("empty.pac").c_str()));
    EXPECT_EQ(0, clRead.m_pAllList->GetCount());
}

TEST(PackSave, StoredLayoutChainsOffsetsAndCopiesBytes)
{
    ScratchDir dir("save_layout");
    std::vector<Source> sources = { { "a.bin", "first" }, { "b.bin", Pattern(1000, 1) }, { "c.bin", "x" } };
    WriteSources(dir, sources);
    CPack clPack;
    for (const Source& s : sources)
        ASSERT_EQ(1, clPack.AddFile(dir.Path(std::string("src\\") + s.name).c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("out.pac").c_str(), PACK_STORE, NULL, NULL));

    std::string archive;
    ASSERT_TRUE(ReadWholeFile(dir.Path("out.pac"), &archive));
    std::vector<PackDirEntry> entries = ReadDirectory(archive);
    ASSERT_EQ(3u, entries.size());
    DWORD dwOffset = 12;
    for (size_t i = 0; i < entries.size(); i++) {
        EXPECT_STREQ(sources[i].name, entries[i].szName);
        EXPECT_EQ(dwOffset, entries[i].dwOffset);
        EXPECT_EQ(sources[i].data.size(), entries[i].dwOrgSize);
        EXPECT_EQ(entries[i].dwOrgSize, entries[i].dwPackSize);
        EXPECT_EQ(sources[i].data, archive.substr(entries[i].dwOffset, entries[i].dwPackSize));
        // Name fields are zero after the terminator.
        for (size_t k = strlen(entries[i].szName); k < 64; k++)
            EXPECT_EQ(0, entries[i].szName[k]);
        dwOffset += entries[i].dwPackSize;
    }
    DWORD dwDirSize = (BYTE)archive[archive.size() - 4] | (BYTE)archive[archive.size() - 3] << 8;
    EXPECT_EQ(12 + 1006 + dwDirSize + 4, archive.size());
    EXPECT_EQ(dwOffset + dwDirSize + 4, archive.size());
}

struct Call {
    std::string name;
    DWORD dwDone, dwTotal, dwPackSize;
    void* pUser;
    std::thread::id thread = std::this_thread::get_id();
};

void RecordCall(const PackDirEntry* pEntry, DWORD dwDone, DWORD dwTotal, DWORD dwPackSize, void* pUser)
{
    ((std::vector<Call>*)pUser)->push_back({ pEntry->szName, dwDone, dwTotal, dwPackSize, pUser });
}

TEST(PackSave, ProgressBracketsEachMember)
{
    ScratchDir dir("save_progress");
    WriteSources(dir, { { "a.txt", std::string(3000, 'a') }, { "b.txt", "bbbb" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.AddFile(dir.Path("src\\a.txt").c_str()));
    ASSERT_EQ(1, clPack.AddFile(dir.Path("src\\b.txt").c_str()));
    std::vector<Call> calls;
    ASSERT_EQ(1, clPack.Save(dir.Path("p.pac").c_str(), PACK_SLIDE, RecordCall, &calls));

    std::string archive;
    ASSERT_TRUE(ReadWholeFile(dir.Path("p.pac"), &archive));
    std::vector<PackDirEntry> entries = ReadDirectory(archive);
    ASSERT_EQ(2u, entries.size());
    ASSERT_EQ(4u, calls.size());
    DWORD p1 = entries[0].dwPackSize, p2 = entries[1].dwPackSize;
    EXPECT_LT(p1, 3000u);
    const Call expected[4] = { { "a.txt", 0, 3000, 0, &calls },
                               { "a.txt", 3000, 3000, p1, &calls },
                               { "b.txt", 0, 4, 0, &calls },
                               { "b.txt", 4, 4, p2, &calls } };
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(expected[i].name, calls[i].name) << i;
        EXPECT_EQ(expected[i].dwDone, calls[i].dwDone) << i;
        EXPECT_EQ(expected[i].dwTotal, calls[i].dwTotal) << i;
        EXPECT_EQ(expected[i].dwPackSize, calls[i].dwPackSize) << i;
        EXPECT_EQ(expected[i].pUser, calls[i].pUser) << i;
    }
}

TEST(PackSave, EveryMethodRoundTripsEdgeContents)
{
    ScratchDir dir("save_roundtrip");
    std::vector<Source> sources = Sources();
    // Contents the encoders shrink most, which the reader's size bounds
    // must still accept: zeros (sliding-window matches of 18 from the
    // fresh ring, at its bound exactly; a one-leaf Huffman tree; zlib near
    // its limit) and two byte values (Huffman codes of one bit).
    sources.push_back({ "zeros.bin", std::string(1 << 20, '\0') });
    sources.push_back({ "two.bin", "B" + std::string(1 << 20, 'A') });
    WriteSources(dir, sources);
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        CPack clPack;
        ASSERT_EQ(1, clPack.AddFolder(dir.Path("src\\").c_str()));
        std::string out = dir.Path("m" + std::to_string(nMethod) + ".pac");
        ASSERT_EQ(1, clPack.Save(out.c_str(), nMethod, NULL, NULL)) << nMethod;

        CPack clRead;
        ASSERT_EQ(1, clRead.OpenArchive(out.c_str())) << nMethod;
        std::vector<std::string> names = MemberNames(&clRead);
        ASSERT_EQ(MemberNames(&clPack), names);
        for (const Source& s : sources) {
            PackMember* pMember = clRead.Find(s.name);
            ASSERT_NE(nullptr, pMember);
            EXPECT_EQ(nMethod, pMember->nMethod);
            EXPECT_EQ(s.data.size(), pMember->dwOrgSize);
            std::string data;
            ASSERT_TRUE(ReadWholeMember(&clRead, pMember, &data)) << s.name << " method " << nMethod;
            EXPECT_TRUE(data == s.data) << s.name << " method " << nMethod;
            if (s.data.empty()) {
                EXPECT_EQ(0u, pMember->dwPackSize) << "an empty member gets no block";
            }
        }
    }
}

TEST(PackSave, RepacksArchiveMembersIntoAnotherMethod)
{
    ScratchDir dir("save_repack");
    std::vector<Source> sources = Sources();
    WriteSources(dir, sources);
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("huff.pac").c_str(), PACK_HUFFMAN, NULL, NULL));

    CPack clHuff;
    ASSERT_EQ(1, clHuff.Open(dir.Path("huff.pac").c_str()));
    ASSERT_EQ(1, clHuff.Save(dir.Path("zlib.pac").c_str(), PACK_ZLIB, NULL, NULL));
    ASSERT_EQ(1, clHuff.Save(dir.Path("store.pac").c_str(), PACK_STORE, NULL, NULL));
    CPack clZlib;
    ASSERT_EQ(1, clZlib.Open(dir.Path("zlib.pac").c_str()));
    CPack clStore;
    ASSERT_EQ(1, clStore.Open(dir.Path("store.pac").c_str()));
    // And back again from an archive file of stored members, then preloaded.
    clStore.Preload();
    ASSERT_EQ(1, clStore.Save(dir.Path("slide.pac").c_str(), PACK_SLIDE, NULL, NULL));
    CPack clSlide;
    ASSERT_EQ(1, clSlide.Open(dir.Path("slide.pac").c_str()));

    for (CPack* pPack : { &clZlib, &clStore, &clSlide }) {
        ASSERT_EQ((int)sources.size(), pPack->m_pAllList->GetCount());
        for (const Source& s : sources) {
            std::string data;
            PackMember* pMember = pPack->Find(s.name);
            ASSERT_NE(nullptr, pMember);
            ASSERT_TRUE(ReadWholeMember(pPack, pMember, &data));
            EXPECT_TRUE(data == s.data) << s.name;
        }
    }
}

TEST(PackSave, MissingSourceIsLeftOutAndCounted)
{
    ScratchDir dir("save_missing");
    WriteSources(dir, { { "a.bin", "aaa" }, { "b.bin", "bbb" }, { "c.bin", "ccc" } });
    CPack clPack;
    for (const char* name : { "a.bin", "b.bin", "c.bin" })
        ASSERT_EQ(1, clPack.AddFile(dir.Path(std::string("src\\") + name).c_str()));
    RemoveTree(dir.Path("src\\b.bin"));
    ASSERT_EQ(1, clPack.Save(dir.Path("out.pac").c_str(), PACK_STORE, NULL, NULL));

    CPack clRead;
    ASSERT_EQ(1, clRead.OpenArchive(dir.Path("out.pac").c_str()));
    EXPECT_EQ((std::vector<std::string>{ "a.bin", "c.bin" }), MemberNames(&clRead));
}

TEST(PackSave, DuplicateNamesAreKeptAndTheFirstIsFound)
{
    ScratchDir dir("save_dup");
    WriteSources(dir, { { "one\\same.txt", "from one" }, { "two\\same.txt", "from two" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.AddFolder(dir.Path("src\\one").c_str()));
    ASSERT_EQ(1, clPack.AddFolder(dir.Path("src\\two\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("dup.pac").c_str(), PACK_ZLIB, NULL, NULL));
    CPack clRead;
    ASSERT_EQ(1, clRead.Open(dir.Path("dup.pac").c_str()));
    EXPECT_EQ((std::vector<std::string>{ "same.txt", "same.txt" }), MemberNames(&clRead));
    std::string data;
    ASSERT_TRUE(ReadWholeMember(&clRead, clRead.Find("SAME.TXT"), &data));
    EXPECT_EQ("from one", data);
}

// Many members of every kind Save meets (loose files of many sizes, a
// source gone, a repeated name, members of an archive file to repack) and
// more threads than cores: the archive and the progress calls must be the
// single thread's, the calls made on the caller's thread. A member that
// cannot be read fails the whole Save and leaves nothing behind.
TEST(PackSave, ThreadsWriteTheSingleThreadArchive)
{
    ScratchDir dir("save_threads");
    std::vector<Source> sources = Sources();
    std::vector<std::string> names;
    for (int i = 0; i < 40; i++)
        names.push_back("f" + std::to_string(i) + (i % 2 ? ".txt" : ".bin"));
    for (int i = 0; i < 40; i++)
        sources.push_back({ names[i].c_str(), i % 3 ? Pattern(i * 997 % 20000, i) : std::string(i * 3001, 'x') });
    sources.push_back({ "dup\\text.txt", "a second text.txt" });
    WriteSources(dir, sources);
    CPack clSource;
    ASSERT_EQ(1, clSource.AddFolder(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clSource.Save(dir.Path("in.pac").c_str(), PACK_HUFFMAN, NULL, NULL));

    CPack clPack;
    ASSERT_EQ(1, clPack.AddFolder(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.OpenArchive(dir.Path("in.pac").c_str()));
    ASSERT_EQ(1, clPack.AddFile(dir.Path("src\\f1.txt").c_str()));
    RemoveTree(dir.Path("src\\f1.txt"));
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string archives[2];
        std::vector<Call> calls[2];
        for (int k = 0; k < 2; k++) {
            clPack.SetThreads(k ? 3 : 1);
            std::string out = dir.Path("out" + std::to_string(k) + ".pac");
            ASSERT_EQ(1, clPack.Save(out.c_str(), nMethod, RecordCall, &calls[k])) << nMethod;
            ASSERT_TRUE(ReadWholeFile(out, &archives[k]));
        }
        EXPECT_TRUE(archives[0] == archives[1]) << "method " << nMethod;
        ASSERT_EQ(calls[0].size(), calls[1].size()) << nMethod;
        for (size_t i = 0; i < calls[0].size(); i++) {
            const Call &a = calls[0][i], &b = calls[1][i];
            EXPECT_TRUE(a.name == b.name && a.dwDone == b.dwDone && a.dwTotal == b.dwTotal &&
                        a.dwPackSize == b.dwPackSize)
                << "call " << i << " method " << nMethod;
            EXPECT_EQ(std::this_thread::get_id(), b.thread);
        }
    }

    std::vector<RawMember> bad = { { "bad.bin", 100, std::string(10, 'x') } };
    ASSERT_TRUE(WriteWholeFile(dir.Path("bad.pac"), BuildArchive(PACK_ZLIB, bad)));
    ASSERT_EQ(1, clPack.OpenArchive(dir.Path("bad.pac").c_str()));
    clPack.SetThreads(3);
    EXPECT_EQ(0, clPack.Save(dir.Path("failed.pac").c_str(), PACK_ZLIB, NULL, NULL));
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst(dir.Path("failed.pac*").c_str(), &fd);
    EXPECT_EQ(nullptr, hFind);
    PlatFindClose(hFind);
}

TEST(PackSave, NamesDifferingOnlyInASecondByteAreTwoMembers)
{
    // Katakana A (83 41) and DI (83 61): the second bytes are 0x20 apart,
    // as A and a are, yet they are two characters; both share a bucket.
    ScratchDir dir("save_kana");
    WriteSources(dir, { { "a", "a" }, { "di", "di" } }); // its writer takes ASCII names
    ASSERT_EQ(1, PlatMoveFile(dir.Path("src\\a").c_str(), dir.Path("src\\\x83\x41.txt").c_str()));
    ASSERT_EQ(1, PlatMoveFile(dir.Path("src\\di").c_str(), dir.Path("src\\\x83\x61.txt").c_str()));
    CPack clPack;
    ASSERT_EQ(1, clPack.AddFolder(dir.Path("src").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("kana.pac").c_str(), PACK_STORE, NULL, NULL));
    CPack clRead;
    ASSERT_EQ(1, clRead.Open(dir.Path("kana.pac").c_str()));
    EXPECT_EQ(CPack::Hash("\x83\x41.txt"), CPack::Hash("\x83\x61.txt"));
    EXPECT_EQ((std::vector<std::string>{ "\x83\x41.txt", "\x83\x61.txt" }), MemberNames(&clRead));
    std::string a, di;
    ASSERT_TRUE(ReadWholeMember(&clRead, clRead.Find("\x83\x41.TXT"), &a));
    ASSERT_TRUE(ReadWholeMember(&clRead, clRead.Find("\x83\x61.txt"), &di));
    EXPECT_EQ("a", a);
    EXPECT_EQ("di", di);
}

TEST(PackSave, ReplacesAnExistingFileAndFailsWithoutHarm)
{
    ScratchDir dir("save_replace");
    WriteSources(dir, { { "a.bin", "content" } });
    ASSERT_TRUE(WriteWholeFile(dir.Path("out.pac"), "old archive"));
    CPack clPack;
    ASSERT_EQ(1, clPack.AddFile(dir.Path("src\\a.bin").c_str()));

    // An undefined method is refused; the old file stays as it was.
    EXPECT_EQ(0, clPack.Save(dir.Path("out.pac").c_str(), 4, NULL, NULL));
    EXPECT_EQ(0, clPack.Save(dir.Path("out.pac").c_str(), -1, NULL, NULL));
    std::string data;
    ASSERT_TRUE(ReadWholeFile(dir.Path("out.pac"), &data));
    EXPECT_EQ("old archive", data);

    // A target folder that does not exist: nothing is written anywhere.
    EXPECT_EQ(0, clPack.Save(dir.Path("nofolder\\out.pac").c_str(), PACK_STORE, NULL, NULL));

    // A read-only archive is not replaced.
    ASSERT_EQ(1, PlatSetFileAttributes(dir.Path("out.pac").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0, clPack.Save(dir.Path("out.pac").c_str(), PACK_STORE, NULL, NULL));
    ASSERT_TRUE(ReadWholeFile(dir.Path("out.pac"), &data));
    EXPECT_EQ("old archive", data);
    ASSERT_EQ(1, PlatSetFileAttributes(dir.Path("out.pac").c_str(), FILE_ATTRIBUTE_NORMAL));

    ASSERT_EQ(1, clPack.Save(dir.Path("out.pac").c_str(), PACK_STORE, NULL, NULL));
    ASSERT_TRUE(ReadWholeFile(dir.Path("out.pac"), &data));
    EXPECT_EQ("PAC", data.substr(0, 3));

    // No temporary file is left beside the target.
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst(dir.Path("*.~*").c_str(), &fd);
    EXPECT_EQ(nullptr, hFind);
    PlatFindClose(hFind);
}

TEST(PackSave, NamesTheFormatOrWindowsCannotHold)
{
    ScratchDir dir("save_names");
    std::string name63(59, 'n'), name64(60, 'n');
    name63 += ".bin";
    name64 += ".bin";
    WriteSources(dir, { { name63.c_str(), "63" }, { name64.c_str(), "64" } });
    CPack clPack;
    EXPECT_EQ(1, clPack.AddFile(dir.Path("src\\" + name63).c_str()));
    EXPECT_EQ(0, clPack.AddFile(dir.Path("src\\" + name64).c_str()));
    EXPECT_EQ(1, clPack.m_pAllList->GetCount());
    // Names Windows cannot create as files (only a POSIX file system holds
    // them) are refused like names that do not fit.
    if (!RunningUnderWine()) {
        ASSERT_EQ(1, CreateDirectories(dir.Path("bad").c_str()));
        for (const char* name : { "aux.txt", "a|b", "trail." }) {
            ASSERT_TRUE(WriteWholeFile(dir.Path(std::string("bad\\") + name), "x"));
            EXPECT_EQ(0, clPack.AddFile(dir.Path(std::string("bad\\") + name).c_str())) << name;
        }
        EXPECT_EQ(1, clPack.m_pAllList->GetCount());
    }
    // A folder walk that meets an unstorable name reports it after
    // entering the rest.
    CPack clWalk;
    EXPECT_EQ(0, clWalk.AddFolder(dir.Path("src").c_str()));
    EXPECT_EQ((std::vector<std::string>{ name63 }), MemberNames(&clWalk));

    ASSERT_EQ(1, clPack.Save(dir.Path("n.pac").c_str(), PACK_STORE, NULL, NULL));
    std::string archive;
    ASSERT_TRUE(ReadWholeFile(dir.Path("n.pac"), &archive));
    std::vector<PackDirEntry> entries = ReadDirectory(archive);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(name63, std::string(entries[0].szName, 63));
    EXPECT_EQ(0, entries[0].szName[63]);
}

// --- Entering sources ---------------------------------------------------

TEST(PackOpen, ArchiveFileAndFolderSources)
{
    ScratchDir dir("open_sources");
    WriteSources(dir, { { "x.txt", "x" }, { "sub\\y.txt", "yy" }, { ".hidden\\z.txt", "z" }, { ".dot", "d" } });
    // Names with no code-page-932 form (José, café.txt) are no members.
    ASSERT_TRUE(MakeHostEntry("scratch_open_sources/src/Jos\xC3\xA9", true));
    ASSERT_TRUE(MakeHostEntry("scratch_open_sources/src/Jos\xC3\xA9/in.txt", false));
    ASSERT_TRUE(MakeHostEntry("scratch_open_sources/src/caf\xC3\xA9.txt", false));
    CPack clPack;
    // A folder with a trailing backslash: every file below it, depth first,
    // files whose names begin with '.' included, folders beginning with '.'
    // skipped.
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    RemoveHostEntry("scratch_open_sources/src/Jos\xC3\xA9/in.txt");
    RemoveHostEntry("scratch_open_sources/src/Jos\xC3\xA9");
    RemoveHostEntry("scratch_open_sources/src/caf\xC3\xA9.txt");
    EXPECT_EQ((std::vector<std::string>{ ".dot", "x.txt", "y.txt" }), Sorted(MemberNames(&clPack)));
    PackMember* pMember = clPack.Find("y.txt");
    ASSERT_NE(nullptr, pMember);
    EXPECT_EQ(Full(dir.Path("src\\sub\\y.txt")), pMember->szPackPath);
    EXPECT_EQ(2u, pMember->dwOrgSize);
    EXPECT_EQ(0u, pMember->dwOffset);

    // An empty folder path is the current folder.
    char cwd[MAX_PATH];
    ASSERT_NE(0u, PlatGetCurrentDirectory(MAX_PATH, cwd));
    ASSERT_EQ(1, PlatSetCurrentDirectory(dir.Path("src").c_str()));
    CPack clHere;
    int nHere = clHere.AddFolder("");
    ASSERT_EQ(1, PlatSetCurrentDirectory(cwd));
    EXPECT_EQ(1, nHere);
    EXPECT_EQ((std::vector<std::string>{ ".dot", "x.txt", "y.txt" }), Sorted(MemberNames(&clHere)));
    EXPECT_EQ(Full(dir.Path("src\\sub\\y.txt")), clHere.Find("y.txt")->szPackPath);

    // Without the backslash the folder itself is one member of size 0.
    ASSERT_EQ(1, clPack.Open(dir.Path("src").c_str()));
    EXPECT_EQ((std::vector<std::string>{ "src" }), MemberNames(&clPack));
    EXPECT_EQ(0u, clPack.Find("SRC")->dwOrgSize);

    // A plain file is one member at offset 0, readable in place.
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\x.txt").c_str()));
    pMember = clPack.Find("x.txt");
    ASSERT_NE(nullptr, pMember);
    EXPECT_EQ(1u, pMember->dwOrgSize);
    HANDLE hFile = NULL;
    ASSERT_EQ(1, clPack.OpenMemberFile("X.TXT", &hFile));
    QWORD qwPos = 99;
    EXPECT_EQ(1, PlatSetFilePos(hFile, 0, PLAT_SEEK_CURRENT, &qwPos));
    EXPECT_EQ(0u, qwPos);
    PlatCloseFile(hFile);

    // An archive enters its members, not itself.
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("all.pac").c_str(), PACK_STORE, NULL, NULL));
    std::vector<std::string> written = MemberNames(&clPack);
    ASSERT_EQ(1, clPack.Open(dir.Path("all.pac").c_str()));
    EXPECT_EQ(written, MemberNames(&clPack));

    EXPECT_EQ(0, clPack.Open(dir.Path("missing").c_str()));
    EXPECT_EQ(0, clPack.m_pAllList->GetCount());
}

TEST(PackOpen, LookupIgnoresLetterCaseAndFindsTheFirstArchive)
{
    ScratchDir dir("open_two");
    WriteSources(dir, { { "a\\abc.txt", "first" }, { "b\\x.bin", "second" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.AddFolder(dir.Path("src\\a").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("one.pac").c_str(), PACK_HUFFMAN, NULL, NULL));
    ASSERT_TRUE(WriteWholeFile(dir.Path("src\\a\\x.bin"), "from one"));
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\a\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("one.pac").c_str(), PACK_HUFFMAN, NULL, NULL));
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\b\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("two.pac").c_str(), PACK_STORE, NULL, NULL));

    CPack clRead;
    ASSERT_EQ(1, clRead.OpenArchive(dir.Path("one.pac").c_str()));
    ASSERT_EQ(1, clRead.OpenArchive(dir.Path("two.pac").c_str()));
    EXPECT_EQ(nullptr, clRead.Find("missing"));
    PackMember* pMember = clRead.Find("ABC.TXT");
    ASSERT_NE(nullptr, pMember);
    EXPECT_STREQ("abc.txt", pMember->szName);
    std::string data;
    ASSERT_TRUE(ReadWholeMember(&clRead, clRead.Find("x.bin"), &data));
    EXPECT_EQ("from one", data);

    // GetSourcePath passes over the encoded member and finds the stored one.
    char path[MAX_PATH];
    EXPECT_EQ(1, clRead.GetSourcePath(path, "X.BIN"));
    EXPECT_EQ(Full(dir.Path("two.pac")), path);
    EXPECT_EQ(0, clRead.GetSourcePath(path, "abc.txt"));
}

// What a lookup must answer: the first member of the name's bucket equal
// to it under the case rule, and for GetSourcePath the first such member
// that is stored.
static PackMember* WalkBucket(CPack* pPack, const char* lpszName, bool bStoredOnly)
{
    CList* pBucket = pPack->m_pHashList[CPack::Hash(lpszName)];
    for (PackMember* p = (PackMember*)pBucket->GetFirst(); p; p = (PackMember*)pBucket->GetNext())
        if ((!bStoredOnly || p->nMethod == PACK_STORE) && CompareNoCase(p->szName, lpszName) == 0)
            return p;
    return nullptr;
}

// Random catalogues of many archives, every method, names drawn from a
// small pool of pieces so that duplicates, letter-case variants and
// double-byte characters whose trail bytes are letters (ア 83 41 and
// ヂ 83 61, ソ 83 5C) abound; then every name and case variants of it are
// looked up both ways.
TEST(PackOpen, IndexAnswersAsTheBucketWalk)
{
    static const char* const PIECES[] = { "a", "A", "b", "B", "z", "\x83\x41", "\x83\x61", "\x83\x5c", "1", "_" };
    ScratchDir dir("index_walk");
    unsigned x = 12345;
    auto Next = [&x](unsigned n) { return (x = x * 1103515245u + 12345u) / 65536 % n; };
    for (int nRound = 0; nRound < 3; nRound++) {
        CPack clPack;
        std::vector<std::string> queries;
        for (int a = 0; a < 12; a++) {
            std::vector<RawMember> members;
            for (int m = 0, nCount = 1 + (int)Next(80); m < nCount; m++) {
                std::string name;
                for (int k = 0, nPieces = 1 + (int)Next(3); k < nPieces; k++)
                    name += PIECES[Next(10)];
                members.push_back({ name, 0, "" });
                queries.push_back(name);
            }
            std::string path = dir.Path("a" + std::to_string(nRound * 100 + a) + ".pac");
            ASSERT_TRUE(WriteWholeFile(path, BuildArchive(Next(4), members)));
            ASSERT_EQ(1, clPack.OpenArchive(path.c_str()));
        }
        for (size_t i = 0, n = queries.size(); i < n; i++) {
            std::string variant = queries[i];
            for (char& c : variant)
                if (isalpha((unsigned char)c) && Next(2))
                    c ^= 0x20;
            queries.push_back(variant);
            queries.push_back(variant + "b");
        }
        for (const std::string& name : queries) {
            const char* q = name.c_str();
            ASSERT_EQ(WalkBucket(&clPack, q, false), clPack.Find(q)) << name;
            PackMember* pStored = WalkBucket(&clPack, q, true);
            char path[MAX_PATH] = "";
            ASSERT_EQ(pStored ? 1 : 0, clPack.GetSourcePath(path, q)) << name;
            if (pStored) {
                ASSERT_STREQ(pStored->szPackPath, path) << name;
            }
        }
    }
}

TEST(PackRead, InPlaceOnlyForStoredMembersOfFiles)
{
    ScratchDir dir("read_inplace");
    WriteSources(dir, { { "a.bin", "aaaa" }, { "empty.bin", "" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string out = dir.Path("m" + std::to_string(nMethod) + ".pac");
        ASSERT_EQ(1, clPack.Save(out.c_str(), nMethod, NULL, NULL));
        CPack clRead;
        ASSERT_EQ(1, clRead.Open(out.c_str()));
        HANDLE hFile = (HANDLE)&clRead; // must stay untouched on refusal
        if (nMethod == PACK_STORE) {
            ASSERT_EQ(1, clRead.OpenMemberFile("a.bin", &hFile));
            QWORD qwPos = 0;
            PlatSetFilePos(hFile, 0, PLAT_SEEK_CURRENT, &qwPos);
            EXPECT_EQ(clRead.Find("a.bin")->dwOffset, qwPos);
            PlatCloseFile(hFile);
            std::string data = "unchanged";
            EXPECT_TRUE(ReadWholeMember(&clRead, clRead.Find("empty.bin"), &data));
            EXPECT_EQ("", data);
        } else {
            EXPECT_EQ(0, clRead.OpenMemberFile("a.bin", &hFile));
            EXPECT_EQ((HANDLE)&clRead, hFile);
        }
        clRead.Preload();
        EXPECT_EQ(0, clRead.OpenMemberFile("a.bin", &hFile));
        std::string data;
        ASSERT_TRUE(ReadWholeMember(&clRead, clRead.Find("a.bin"), &data));
        EXPECT_EQ("aaaa", data);
    }
    HANDLE hFile = NULL;
    EXPECT_EQ(0, clPack.OpenMemberFile("nothing", &hFile));
}

// Archives longer than a signed 32-bit seek reaches, up to the format's
// limit of 2^32 - 1 bytes, which Save keeps to by the same rule. Sparse
// files: only the few bytes written take room.
TEST(PackRead, ArchivesPastTwoGigabytesUpToTheLimit)
{
    ScratchDir dir("read_4g");
    std::string path = dir.Path("big.pac");
    const DWORD dwFar = 0x7FFFFFF0;
    const std::string strFar = "a member across the 2 GiB mark!!";
    std::string head = std::string("PAC\0\4\0\0\0\0\0\0\0", 12) + "hello";
    // Members of zeros fill the sparse gaps: the blocks fill the data area.
    auto Records = [&](DWORD dwDataEnd) {
        return DirectoryTail(DirRecord("low.bin", 12, 5, 5) + DirRecord("gap1.bin", 17, dwFar - 17, dwFar - 17) +
                             DirRecord("far.bin", dwFar, 32, 32) +
                             DirRecord("gap2.bin", dwFar + 32, dwDataEnd - dwFar - 32, dwDataEnd - dwFar - 32));
    };
    const std::string tailLow = Records(dwFar + 32);
    // The directory's own length moves where the data area ends.
    auto Tail = [&](QWORD qwLength) {
        std::string tail = tailLow;
        for (int i = 0; i < 8 && Records((DWORD)(qwLength - tail.size())).size() != tail.size(); i++)
            tail = Records((DWORD)(qwLength - tail.size()));
        return Records((DWORD)(qwLength - tail.size()));
    };
    struct {
        QWORD qwLength;
        int nOpens;
    } const rows[] = { { 0x80000010 + tailLow.size(), 1 }, { 0xFFFFFFFF, 1 }, { 0x100000000, 0 } };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.qwLength);
        std::string tail = Tail(row.qwLength);
        CFile clFile;
        ASSERT_EQ(1, clFile.Open(path.c_str(), 1));
        ASSERT_EQ(head.size(), clFile.Write(head.data(), (DWORD)head.size()));
        ASSERT_EQ(1, clFile.Seek64(dwFar, 0));
        ASSERT_EQ(strFar.size(), clFile.Write(strFar.data(), (DWORD)strFar.size()));
        ASSERT_EQ(1, clFile.Seek64(row.qwLength - tail.size(), 0));
        ASSERT_EQ(tail.size(), clFile.Write(tail.data(), (DWORD)tail.size()));
        ASSERT_EQ(row.qwLength, clFile.GetPos64());
        clFile.Close();

        EXPECT_EQ(row.nOpens == 1, ArchiveLengthFits(row.qwLength));
        CPack clPack;
        ASSERT_EQ(row.nOpens, clPack.OpenArchive(path.c_str()));
        if (!row.nOpens) {
            EXPECT_EQ(0, clPack.m_pAllList->GetCount());
            continue;
        }
        std::string data;
        ASSERT_TRUE(ReadWholeMember(&clPack, clPack.Find("far.bin"), &data));
        EXPECT_EQ(strFar, data);
        ASSERT_TRUE(ReadWholeMember(&clPack, clPack.Find("low.bin"), &data));
        EXPECT_EQ("hello", data);
        CFile clMember;
        ASSERT_EQ(1, clMember.OpenPack(&clPack, "far.bin", 0));
        EXPECT_EQ(CFILE_HANDLE, clMember.m_nType);
        char buf[64] = {};
        EXPECT_EQ(strFar.size(), clMember.Read(buf, sizeof(buf)));
        EXPECT_EQ(strFar, buf);
    }
}

TEST(PackFile, StoredMemberReadInPlaceStaysInsideItsWindow)
{
    ScratchDir dir("file_window");
    WriteSources(dir, { { "1.bin", "HEAD" }, { "2.bin", "member" }, { "3.bin", "NEXT" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("w.pac").c_str(), PACK_STORE, NULL, NULL));
    ASSERT_EQ(1, clPack.Open(dir.Path("w.pac").c_str()));

    CFile clFile(&clPack, "2.BIN", 0);
    ASSERT_EQ(CFILE_HANDLE, clFile.m_nType);
    EXPECT_EQ(6u, clFile.GetSize());
    EXPECT_EQ(0u, clFile.GetPos());
    char buf[32] = {};
    EXPECT_EQ(6u, clFile.Read(buf, sizeof(buf)));
    EXPECT_STREQ("member", buf);
    EXPECT_EQ(0u, clFile.Read(buf, sizeof(buf)));
    ASSERT_EQ(1, clFile.Seek(0, 2));
    EXPECT_EQ(6u, clFile.GetPos());
    ASSERT_EQ(1, clFile.Seek(-2, 2));
    memset(buf, 0, sizeof(buf));
    EXPECT_EQ(2u, clFile.Read(buf, 10));
    EXPECT_STREQ("er", buf);

    // Two members open at once, each with its own position.
    CFile clOther;
    ASSERT_EQ(1, clOther.OpenPack(&clPack, "3.bin", 0));
    EXPECT_EQ('N', clOther.ReadByte());
    EXPECT_EQ(0, clOther.OpenPack(&clPack, "4.bin", 0));
    EXPECT_EQ(CFILE_NONE, clOther.m_nType);
}

TEST(PackFile, EncodedMemberIsDecodedIntoAnOwnedBuffer)
{
    ScratchDir dir("file_decoded");
    std::string text(5000, 'q');
    WriteSources(dir, { { "t.txt", text } });
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("z.pac").c_str(), PACK_ZLIB, NULL, NULL));
    ASSERT_EQ(1, clPack.Open(dir.Path("z.pac").c_str()));
    CFile clFile;
    ASSERT_EQ(1, clFile.OpenPack(&clPack, "t.txt", 0));
    EXPECT_EQ(CFILE_MEMORY, clFile.m_nType);
    EXPECT_EQ(1, clFile.m_bAlloc);
    EXPECT_EQ(5000u, clFile.GetSize());
    std::string data(5000, '\0');
    EXPECT_EQ(5000u, clFile.Read(&data[0], 6000));
    EXPECT_EQ(text, data);
}

TEST(PackFile, ExtractAllWithOrWithoutTrailingSeparator)
{
    ScratchDir dir("file_extract");
    std::vector<Source> sources = Sources();
    WriteSources(dir, sources);
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("e.pac").c_str(), PACK_SLIDE, NULL, NULL));
    ASSERT_EQ(1, clPack.Open(dir.Path("e.pac").c_str()));
    for (const char* folder : { "out1", "out2\\" }) {
        ASSERT_EQ(1, CreateDirectories(dir.Path(folder).c_str()));
        ASSERT_EQ(1, clPack.ExtractAll(dir.Path(folder).c_str()));
        for (const Source& s : sources) {
            std::string data;
            ASSERT_TRUE(ReadWholeFile(dir.Path(std::string(folder) + (folder[4] ? "" : "\\") + s.name), &data))
                << folder << s.name;
            EXPECT_TRUE(data == s.data) << s.name;
        }
    }
    // A folder that cannot be written to stops at once.
    EXPECT_EQ(0, clPack.ExtractAll(dir.Path("missing").c_str()));

    // Loose members extracted into the folder they are read from: each one
    // is its own destination, and comes out whole, with nothing else left.
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.ExtractAll(dir.Path("src").c_str()));
    for (const Source& s : sources) {
        std::string data;
        ASSERT_TRUE(ReadWholeFile(dir.Path(std::string("src\\") + s.name), &data)) << s.name;
        EXPECT_TRUE(data == s.data) << s.name;
    }
    CPack clAfter;
    ASSERT_EQ(1, clAfter.Open(dir.Path("src\\").c_str()));
    EXPECT_EQ(sources.size(), (size_t)clAfter.m_pAllList->GetCount());
}

// The files of a folder and their contents.
static std::map<std::string, std::string> FolderFiles(const std::string& folder)
{
    std::map<std::string, std::string> files;
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst((folder + "\\*").c_str(), &fd);
    for (bool bMore = hFind != nullptr; bMore; bMore = PlatFindNext(hFind, &fd) != 0) {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            EXPECT_TRUE(ReadWholeFile(folder + "\\" + fd.cFileName, &files[fd.cFileName])) << fd.cFileName;
        }
    }
    PlatFindClose(hFind);
    return files;
}

// Many members, names repeated exactly and in another letter case, and
// damaged members: several threads write the files one thread writes and
// give the same result.
TEST(PackFile, ExtractAllOnThreadsWritesWhatOneThreadWrites)
{
    ScratchDir dir("file_extract_threads");
    std::vector<Source> sources = Sources();
    std::vector<std::string> names;
    for (int i = 0; i < 30; i++)
        names.push_back("g" + std::to_string(i) + ".dat");
    for (int i = 0; i < 30; i++)
        sources.push_back({ names[i].c_str(), Pattern(i * 1777 % 30000, i) });
    WriteSources(dir, sources);
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("a.pac").c_str(), PACK_ZLIB, NULL, NULL));
    std::vector<RawMember> later = { { "TEXT.TXT", 4, "TEXT" }, { "g3.dat", 5, "again" }, { "G4.DAT", 3, "new" } };
    ASSERT_TRUE(WriteWholeFile(dir.Path("b.pac"), BuildArchive(PACK_STORE, later)));
    std::vector<RawMember> bad = { { "bad.bin", 100, std::string(10, 'x') } };
    ASSERT_TRUE(WriteWholeFile(dir.Path("c.pac"), BuildArchive(PACK_ZLIB, bad)));
    for (const char* archive : { "a.pac", "b.pac", "c.pac", "a.pac" })
        ASSERT_EQ(1, clPack.OpenArchive(dir.Path(archive).c_str()));

    std::map<std::string, std::string> files[2];
    for (int k = 0; k < 2; k++) {
        std::string out = dir.Path("out" + std::to_string(k));
        ASSERT_EQ(1, CreateDirectories(out.c_str()));
        clPack.SetThreads(k ? 3 : 1);
        EXPECT_EQ(0, clPack.ExtractAll(out.c_str())) << "bad.bin cannot be read";
        files[k] = FolderFiles(out);
    }
    EXPECT_TRUE(files[0] == files[1]);
    EXPECT_EQ(0u, files[1].count("bad.bin"));
    EXPECT_TRUE(files[1]["g3.dat"] == Pattern(3 * 1777, 3)) << "the first g3.dat";
}

#ifndef _WIN32
// Host name of a path inside the scratch folder (relative, ASCII).
std::string HostName(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}
#endif

TEST(PackFile, TemporaryFilesNeverMeetAnotherFile)
{
    // Beside each target: a user's file under the old temporary name and,
    // where links can be made, a dangling link under the next one that
    // points out of the folder. Neither may be written to or through.
    ScratchDir dir("file_temp");
    WriteSources(dir, { { "a.bin", "member" } });
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, CreateDirectories(dir.Path("out").c_str()));
    std::vector<std::string> planted;
    for (const char* target : { "out\\a.bin", "new.pac" }) {
        ASSERT_TRUE(WriteWholeFile(dir.Path(target) + ".~0", "mine"));
        planted.push_back(dir.Path(target) + ".~0");
#ifndef _WIN32
        std::string link = HostName(dir.Path(target) + ".~1");
        ASSERT_EQ(0, symlink("../outside", link.c_str()));
#endif
    }
    ASSERT_EQ(1, clPack.Save(dir.Path("new.pac").c_str(), PACK_STORE, NULL, NULL));
    ASSERT_EQ(1, clPack.ExtractAll(dir.Path("out").c_str()));
    std::string data;
    ASSERT_TRUE(ReadWholeFile(dir.Path("out\\a.bin"), &data));
    EXPECT_EQ("member", data);
    for (const std::string& name : planted) {
        ASSERT_TRUE(ReadWholeFile(name, &data));
        EXPECT_EQ("mine", data);
    }
    EXPECT_EQ(0, PlatIsLink(dir.Path("out\\a.bin").c_str()));
    EXPECT_EQ(0, PlatIsLink(dir.Path("new.pac").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, PlatGetFileAttributes(dir.Path("outside").c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, PlatGetFileAttributes("outside"));
#ifndef _WIN32
    for (const char* target : { "out\\a.bin", "new.pac" })
        unlink(HostName(dir.Path(target) + ".~1").c_str());
#endif
}

TEST(PackFile, PreloadServesEverythingFromMemory)
{
    ScratchDir dir("file_preload");
    std::vector<Source> sources = Sources();
    WriteSources(dir, sources);
    CPack clPack;
    ASSERT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    ASSERT_EQ(1, clPack.Save(dir.Path("p.pac").c_str(), PACK_HUFFMAN, NULL, NULL));
    ASSERT_EQ(1, clPack.Open(dir.Path("p.pac").c_str()));
    clPack.Preload();
    clPack.Preload(); // a second call reads nothing and changes nothing
    RemoveTree(dir.Path("p.pac"));
    ASSERT_EQ(1, CreateDirectories(dir.Path("out").c_str()));
    ASSERT_EQ(1, clPack.ExtractAll(dir.Path("out").c_str()));
    for (const Source& s : sources) {
        std::string data;
        ASSERT_TRUE(ReadWholeFile(dir.Path("out\\") + s.name, &data));
        EXPECT_TRUE(data == s.data) << s.name;
        EXPECT_EQ(0u, clPack.Find(s.name)->dwOffset);
    }
}

// --- Damaged archives ---------------------------------------------------

// Whatever was accepted must read without crashing or reading outside
// its blocks (the sanitizers watch); the result may be 0.
void ReadEverything(CPack* pPack)
{
    for (PackMember* p = (PackMember*)pPack->m_pAllList->GetFirst(); p;
         p = (PackMember*)pPack->m_pAllList->GetNext()) {
        std::string data;
        ReadWholeMember(pPack, p, &data);
    }
}

std::string SmallArchive(int nMethod, const ScratchDir& dir)
{
    WriteSources(dir, { { "a.txt", "alpha alpha alpha" }, { "b.bin", Pattern(300, 9) }, { "c", "" } });
    CPack clPack;
    EXPECT_EQ(1, clPack.Open(dir.Path("src\\").c_str()));
    EXPECT_EQ(1, clPack.Save(dir.Path("small.pac").c_str(), nMethod, NULL, NULL));
    std::string archive;
    EXPECT_TRUE(ReadWholeFile(dir.Path("small.pac"), &archive));
    return archive;
}

TEST(PackDamage, EveryCutIsRefused)
{
    ScratchDir dir("damage_cut");
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string archive = SmallArchive(nMethod, dir);
        for (size_t n = 0; n < archive.size(); n++) {
            ASSERT_TRUE(WriteWholeFile(dir.Path("cut.pac"), archive.substr(0, n)));
            CPack clPack;
            int nResult = clPack.OpenArchive(dir.Path("cut.pac").c_str());
            if (nResult)
                ReadEverything(&clPack);
            else
                EXPECT_EQ(0, clPack.m_pAllList->GetCount()) << "cut at " << n;
        }
    }
}

TEST(PackDamage, FlippedBytesNeverCrash)
{
    ScratchDir dir("damage_flip");
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string archive = SmallArchive(nMethod, dir);
        for (size_t i = 0; i < archive.size(); i++) {
            std::string bad = archive;
            bad[i] ^= (char)(0x41 + i % 7);
            ASSERT_TRUE(WriteWholeFile(dir.Path("flip.pac"), bad));
            CPack clPack;
            if (clPack.OpenArchive(dir.Path("flip.pac").c_str()))
                ReadEverything(&clPack);
            else
                EXPECT_EQ(0, clPack.m_pAllList->GetCount());
        }
    }
}

// Names one file system takes for one file: Windows ignores letter case in
// every script; everywhere two codes of one character are one name, and
// extraction folds A to Z as the catalogue does. Of such members the first
// is written whatever the thread count; the others are not, and say so.
TEST(PackNames, MembersThatNameOneFile)
{
    struct {
        const char *a, *b;
        bool bWindows, bPosix; // one file when extracted there
    } const rows[] = {
        { "A.bin", "a.bin", true, true },
        { "\x82\x60.bin", "\x82\x81.bin", true, false }, // full-width A, a
        { "\x83\x9F", "\x83\xBF", true, false },         // Greek alpha
        { "\x84\x40", "\x84\x70", true, false },         // Cyrillic a
        { "\x87\x54", "\xFA\x4A", true, true },          // Roman numeral one, NEC and IBM
        { "\x81\xE0", "\x87\x90", true, true },          // nearly equal, two codes
        { "\x83\x41", "\x83\x61", false, false },        // two katakana
    };
    ScratchDir dir("names_one_file");
#ifdef _WIN32
    const bool bWindows = true;
#else
    const bool bWindows = false;
#endif
    for (const auto& row : rows) {
        SCOPED_TRACE(row.a);
        bool bHere = bWindows ? row.bWindows : row.bPosix;
        EXPECT_EQ(row.bWindows, PlatCompareFileNames(row.a, row.b, PLAT_NAMES_WINDOWS) == 0);
        std::string path = dir.Path("a.pac");
        ASSERT_TRUE(WriteWholeFile(path, BuildArchive(PACK_STORE, { { row.a, 5, "first" }, { row.b, 6, "second" } })));
        for (int nThreads : { 1, 2 }) {
            CPack clPack;
            ASSERT_EQ(1, clPack.OpenArchive(path.c_str()));
            clPack.SetThreads(nThreads);
            std::string out = dir.Path("out" + std::to_string(nThreads));
            ASSERT_EQ(1, CreateDirectories(out.c_str()));
            EXPECT_EQ(bHere ? 0 : 1, clPack.ExtractAll(out.c_str()));
            // Names that are not ASCII: read through the library.
            std::vector<std::string> contents;
            PlatFindData fd;
            HANDLE hFind = PlatFindFirst((out + "\\*").c_str(), &fd);
            for (bool bMore = hFind != nullptr; bMore; bMore = PlatFindNext(hFind, &fd) != 0) {
                CFile clFile;
                if (fd.cFileName[0] == '.' || !clFile.Open((out + "\\" + fd.cFileName).c_str(), 0))
                    continue;
                contents.push_back(std::string(clFile.GetSize(), '\0'));
                clFile.Read(&contents.back()[0], clFile.GetSize());
            }
            PlatFindClose(hFind);
            std::vector<std::string> expected = { "first", "second" };
            expected.resize(bHere ? 1 : 2);
            EXPECT_EQ(expected, Sorted(contents));
            RemoveTree(out);
        }
    }
}

// Loose files of 4 GiB or more, and files that change between entering
// and packing: refused, named, nothing left behind. Sparse files: only
// the bytes written take room.
TEST(PackSave, SizesAndChangingInputs)
{
    ScratchDir dir("save_sizes");
    std::string big = dir.Path("big.bin"), small = dir.Path("small.bin");
    ASSERT_TRUE(WriteWholeFile(small, "1234"));
    auto Resize = [](const std::string& path, QWORD qwSize) {
        CFile clFile;
        return clFile.Open(path.c_str(), 1) && (!qwSize || (clFile.Seek64(qwSize - 1, 0) && clFile.WriteByte(0)));
    };
    ASSERT_TRUE(Resize(big, ((QWORD)4 << 30) + (1 << 20)));
    CPack clPack;
    EXPECT_EQ(0, clPack.AddFile(big.c_str())) << "4 GiB + 1 MiB";
    struct {
        const char* lpszChange;
        QWORD qwSize; // the small file's size when packed; ~0: removed
        int nSaved, nProblem;
    } const rows[] = {
        { "grows", 9, 0, PACK_SAVE_CHANGED },
        { "shrinks", 2, 0, PACK_SAVE_CHANGED },
        { "passes 4 GiB", ((QWORD)4 << 30) + 4, 0, PACK_SAVE_CHANGED },
        { "is gone", ~(QWORD)0, 1, PACK_SAVE_OK },
    };
    for (const auto& row : rows) {
        for (int nMethod : { PACK_STORE, PACK_ZLIB }) {
            SCOPED_TRACE(std::string(row.lpszChange) + " " + std::to_string(nMethod));
            ASSERT_TRUE(Resize(small, 4) && WriteWholeFile(small, "1234"));
            ASSERT_EQ(1, clPack.Init());
            ASSERT_EQ(1, clPack.AddFile(small.c_str()));
            if (row.qwSize == ~(QWORD)0)
                RemoveTree(small);
            else
                ASSERT_TRUE(Resize(small, row.qwSize));
            std::string out = dir.Path("out.pac");
            EXPECT_EQ(row.nSaved, clPack.Save(out.c_str(), nMethod, NULL, NULL));
            const PackMember* pCause = NULL;
            EXPECT_EQ(row.nProblem, clPack.GetSaveProblem(&pCause));
            EXPECT_EQ(row.nSaved ? NULL : (PackMember*)clPack.m_pAllList->GetFirst(), pCause);
            PlatFindData fd;
            HANDLE hFind = PlatFindFirst(dir.Path("out.pac*").c_str(), &fd);
            EXPECT_EQ(row.nSaved ? 1 : 0, hFind ? 1 : 0) << "leftovers";
            PlatFindClose(hFind);
            RemoveTree(out);
        }
    }
}

TEST(PackDamage, HeaderAndDirectoryChecks)
{
    ScratchDir dir("damage_fields");
    std::string path = dir.Path("bad.pac");
    auto Refused = [&](const std::string& bytes) {
        EXPECT_TRUE(WriteWholeFile(path, bytes));
        CPack clPack;
        int nResult = clPack.OpenArchive(path.c_str());
        // Open takes whatever begins with "PAC" as an archive: refused
        // there too, never entered as a loose file.
        CPack clOpen;
        bool bOpenRefused = bytes.compare(0, 3, "PAC") != 0 ||
                            (clOpen.Open(path.c_str()) == 0 && clOpen.m_pAllList->GetCount() == 0);
        return nResult == 0 && clPack.m_pAllList->GetCount() == 0 && bOpenRefused;
    };
    std::vector<RawMember> good = { { "a.bin", 3, "abc" }, { "b.bin", 2, "de" } };
    ASSERT_FALSE(Refused(BuildArchive(PACK_STORE, good)));

    EXPECT_TRUE(Refused(BuildArchive(4, good))) << "unknown method";
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, good, 0x7FFFFFFF))) << "count beyond the directory";
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, good, 3))) << "count one too many";
    // The directory accounts for its whole block, the members for the data
    // area: a lowered count would hide the last member.
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, good, 1))) << "count one too few";
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, good, 0))) << "count 0 before a directory";
    std::string gap = BuildArchive(PACK_STORE, good);
    EXPECT_TRUE(Refused(gap.insert(12 + 5, 1, 'x'))) << "a byte of no member";
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, { { "a.bin", 4, "abc" } }))) << "stored size mismatch";
    // A stated size more than the block can decode to is refused before
    // anything of that size is allocated; the largest one is accepted.
    struct {
        DWORD dwMethod;
        std::string block;
        DWORD dwLargest;
    } const bounds[] = {
        { PACK_SLIDE, std::string(17, '\0'), 144 },     // a group of 8 matches of 18
        { PACK_SLIDE, std::string(20, '\0'), 144 + 18 }, // and a cut group with one
        { PACK_SLIDE, std::string(21, '\0'), 144 + 19 }, // and a literal
        { PACK_HUFFMAN, "", 0 },
        { PACK_HUFFMAN, std::string("\x80\0\0", 3), 5 }, // 24 bits: a tree of 19, 5 codes
        { PACK_ZLIB, std::string(10, 'z'), 4 * 1032 },
    };
    for (const auto& b : bounds) {
        EXPECT_FALSE(Refused(BuildArchive(b.dwMethod, { { "m", b.dwLargest, b.block } }))) << b.dwMethod;
        EXPECT_TRUE(Refused(BuildArchive(b.dwMethod, { { "m", b.dwLargest + 1, b.block } }))) << b.dwMethod;
    }
    // A one-leaf Huffman tree codes any length in a few bytes.
    EXPECT_FALSE(Refused(BuildArchive(PACK_HUFFMAN, { { "m", 0xFFFFFFFF, std::string("\x00\x80", 2) } })));
    EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, { { std::string(64, 'n'), 1, "a" } }))) << "unterminated";
    // Names that would write outside the folder, to a device, or to a name
    // other than the member's; '\\' and '|' as second bytes of a character
    // (SO, PO) are part of the name.
    for (const char* name : { "..", "..\\evil.bin", "d/evil.bin", "C:evil.bin", "", "CON", "con.txt",
                              "Nul.tar.gz", "aux .txt", "PRN", "COM1", "lpt9.log", "CONIN$", "a.", "a ",
                              "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "\x7F\x01",
                              // Not well-formed code page 932.
                              "a\x81.txt", "a\x81", "\x85\x40", "\x80.bin", "\xA0", "\xFD" })
        EXPECT_TRUE(Refused(BuildArchive(PACK_STORE, { { name, 1, "a" } }))) << name;
    for (const char* name : { "\x83\x5C.bin", "\x83\x7C.bin", "COM10", "com0", "console.txt", "LPT.txt",
                              "nullx", ".dot", "a.b.c", "a b", "\x87\x54", "\xFA\x4A", "\xF0\x40" })
        EXPECT_FALSE(Refused(BuildArchive(PACK_STORE, { { name, 1, "a" } }))) << name;

    // Offsets pointing outside the data area.
    std::string archive = BuildArchive(PACK_STORE, good);
    std::vector<PackDirEntry> entries = ReadDirectory(archive);
    std::string trailer = archive;
    trailer[trailer.size() - 4] = (char)0xF0;
    EXPECT_TRUE(Refused(trailer)) << "directory larger than the file";
    EXPECT_TRUE(Refused(std::string("PAC\0\0\0\0\0\0\0\0\0\0\0\0", 15)));
    EXPECT_TRUE(Refused("PAD" + archive.substr(3)));
}

TEST(PackDamage, DamagedBlocksReadAsFailures)
{
    ScratchDir dir("damage_blocks");
    std::string path = dir.Path("bad.pac");
    std::string content = Pattern(2000, 5) + std::string(2000, 'z');

    // A sliding-window stream cut short yields fewer bytes than recorded
    // (cut where its bytes could still hold them, so the open accepts it).
    std::string slide(content.size() * 2, '\0');
    CSlide clSlide;
    slide.resize(clSlide.Compress(&slide[0], (DWORD)slide.size(), content.data(), (DWORD)content.size()));
    ASSERT_TRUE(WriteWholeFile(path, BuildArchive(PACK_SLIDE, { { "s", (DWORD)content.size(), slide.substr(0, 500) } })));
    CPack clPack;
    ASSERT_EQ(1, clPack.OpenArchive(path.c_str()));
    std::string data;
    EXPECT_FALSE(ReadWholeMember(&clPack, clPack.Find("s"), &data));
    CFile clFile;
    EXPECT_EQ(0, clFile.OpenPack(&clPack, "s", 0));
    EXPECT_EQ(CFILE_NONE, clFile.m_nType);

    // A zlib stream with a damaged byte is rejected by zlib's own check,
    // even though it still fills the buffer.
    std::string zlib(content.size() + 100, '\0');
    CZlib clZlib;
    zlib.resize(clZlib.Compress(&zlib[0], (DWORD)zlib.size(), content.data(), (DWORD)content.size()));
    zlib[zlib.size() - 2] ^= 0x55; // the Adler-32 check
    ASSERT_TRUE(WriteWholeFile(path, BuildArchive(PACK_ZLIB, { { "z", (DWORD)content.size(), zlib } })));
    ASSERT_EQ(1, clPack.Open(path.c_str()));
    EXPECT_FALSE(ReadWholeMember(&clPack, clPack.Find("z"), &data));

    // An empty member reads as empty whatever its block holds.
    ASSERT_TRUE(WriteWholeFile(path, BuildArchive(PACK_ZLIB, { { "e", 0, "junk" } })));
    ASSERT_EQ(1, clPack.Open(path.c_str()));
    EXPECT_TRUE(ReadWholeMember(&clPack, clPack.Find("e"), &data));
    EXPECT_EQ("", data);
}

// --- An archive made by another copy of the library ---------------------

// tests/pack/golden.pac was written once by the pack tool and is kept as
// it is: it must keep reading, and the Windows build also links it in as a
// resource.
void CheckGolden(CPack* pPack)
{
    std::vector<std::string> names = MemberNames(pPack);
    ASSERT_EQ((std::vector<std::string>{ "readme.txt", "zeros.bin", "\x83\x5C.txt" }), names);
    std::string data;
    ASSERT_TRUE(ReadWholeMember(pPack, pPack->Find("README.TXT"), &data));
    EXPECT_EQ("golden archive, zlib members\n", data);
    ASSERT_TRUE(ReadWholeMember(pPack, pPack->Find("zeros.bin"), &data));
    EXPECT_EQ(std::string(10000, '\0'), data);
    ASSERT_TRUE(ReadWholeMember(pPack, pPack->Find("\x83\x5C.txt"), &data));
    EXPECT_EQ("katakana so\n", data);
}

TEST(PackGolden, ArchiveFromAnotherCopyReads)
{
    CPack clPack;
    ASSERT_EQ(1, clPack.OpenArchive(GAMEPATCH_GOLDEN_PAC));
    CheckGolden(&clPack);
}

#ifdef _WIN32
TEST(PackGolden, ArchiveResourceOfTheProgram)
{
    CPack clPack;
    ASSERT_EQ(1, clPack.OpenResourceArchive("GOLDEN", "PACKDATA"));
    CheckGolden(&clPack);
    PackMember* pMember = clPack.Find("zeros.bin");
    EXPECT_STREQ("", pMember->szPackPath);
    EXPECT_STREQ("GOLDEN", pMember->szResName);
    HANDLE hFile = NULL;
    EXPECT_EQ(0, clPack.OpenMemberFile(pMember, &hFile));
    char path[MAX_PATH] = "x";
    EXPECT_EQ(0, clPack.GetSourcePath(path, "zeros.bin")); // zlib members

    CFile clFile(&clPack, "readme.txt", 0);
    EXPECT_EQ(CFILE_MEMORY, clFile.m_nType);
    EXPECT_EQ('g', clFile.ReadByte());
    EXPECT_EQ(0, clPack.OpenResourceArchive("MISSING", "PACKDATA"));
}
#endif

} // namespace
