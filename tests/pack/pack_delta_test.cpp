#include "pack/pack_delta.h"

#include "file/cfile.h"
#include "pack/cpack.h"
#include "pack_test_util.h"
#include "platform/hash.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>
#include <zlib.h>

namespace {

typedef std::vector<std::pair<std::string, std::string>> Members;

std::string Text(int nLines, int nEdit)
{
    std::string s;
    for (int i = 0; i < nLines; i++)
        s += "line " + std::to_string(i == nEdit ? -i : i) + ": the member's text, a little changed per release\n";
    return s;
}

// An archive of the members in this order, written by Save.
std::string Saved(const ScratchDir& dir, const Members& members, int nMethod)
{
    CPack clPack;
    for (const auto& m : members) {
        std::string path = dir.Path(m.first);
        EXPECT_TRUE(WriteWholeFile(path, m.second));
        EXPECT_EQ(1, clPack.AddFile(path.c_str()));
    }
    std::string out = dir.Path("saved.pac"), bytes;
    EXPECT_EQ(1, clPack.Save(out.c_str(), nMethod, NULL, NULL));
    EXPECT_TRUE(ReadWholeFile(out, &bytes));
    return bytes;
}

struct Reader {
    const std::string* pDelta;
    size_t nAt;
    static int Read(void* p, void* pBuf, size_t nSize, size_t* pnRead)
    {
        Reader* r = (Reader*)p;
        *pnRead = std::min(nSize, r->pDelta->size() - r->nAt);
        memcpy(pBuf, r->pDelta->data() + r->nAt, *pnRead);
        r->nAt += *pnRead;
        return 1;
    }
};

struct Progress {
    QWORD qwLast, qwTotal, qwStopAt;
    static int Continue(void* p, QWORD qwDone, QWORD qwTotal)
    {
        Progress* pr = (Progress*)p;
        pr->qwLast = qwDone;
        pr->qwTotal = qwTotal;
        return qwDone < pr->qwStopAt;
    }
};

// Applies a delta to the old archive file; the archive written, or "" on failure.
std::string Applied(const ScratchDir& dir, const std::string& old, const std::string& delta, Progress* pProgress = NULL)
{
    std::string oldPath = dir.Path("old.pac"), outPath = dir.Path("out.pac"), out;
    EXPECT_TRUE(WriteWholeFile(oldPath, old));
    CFile clOut;
    EXPECT_EQ(1, clOut.Open(outPath.c_str(), 1));
    Reader reader = {&delta, 0};
    int nResult = PackDeltaApply(oldPath.c_str(), Reader::Read, &reader, &clOut,
                                 pProgress ? Progress::Continue : NULL, pProgress);
    clOut.Close();
    EXPECT_TRUE(ReadWholeFile(outPath, &out));
    return nResult ? out : std::string();
}

std::string Made(const std::string& old, const std::string& neu)
{
    std::vector<BYTE> delta;
    EXPECT_EQ(1, PackDeltaMake((const BYTE*)old.data(), old.size(), (const BYTE*)neu.data(), neu.size(), &delta));
    return std::string(delta.begin(), delta.end());
}

// A member changed, one added, one removed, one renamed, one empty, in
// every method; and an archive of another coder's blocks (zlib at level 9,
// a name field with bytes after its NUL), which travel as blocks.
TEST(PackDelta, MakeThenApplyGivesTheNewArchive)
{
    ScratchDir dir("pack_delta_round");
    std::string noise(50000, '\0');
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = (char)(i * 2654435761u >> 13);
    Members oldMembers = {{"a.txt", Text(3000, -1)}, {"gone.dat", "removed in the new release"},
                          {"old-name.txt", Text(500, 7)}, {"empty.bin", ""}, {"noise.bin", noise}};
    std::string noise2 = noise;
    noise2.replace(1000, 5, "CHANGE");
    Members newMembers = {{"a.txt", Text(3001, 1500)}, {"new-name.txt", Text(500, 7)}, {"empty.bin", ""},
                          {"added.bin", "a member the old release did not have"}, {"noise.bin", noise2}};
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string old = Saved(dir, oldMembers, nMethod), neu = Saved(dir, newMembers, nMethod);
        std::string delta = Made(old, neu);
        EXPECT_LT(delta.size(), 2000u) << nMethod;
        Progress progress = {0, 0, ~(QWORD)0};
        EXPECT_TRUE(Applied(dir, old, delta, &progress) == neu) << nMethod;
        EXPECT_EQ(neu.size(), progress.qwLast);
        EXPECT_EQ(neu.size(), progress.qwTotal);
        PackDeltaHeader header;
        ASSERT_EQ(1, PackDeltaReadHeader(delta.data(), delta.size(), &header));
        EXPECT_EQ(old.size(), header.qwOldSize);
        EXPECT_EQ(neu.size(), header.qwNewSize);
        EXPECT_EQ(5u, header.dwMembers);
        EXPECT_EQ(newMembers[0].second.size(), header.dwLargestContent);
        // A stop from the caller fails the apply.
        progress.qwStopAt = neu.size() / 2;
        EXPECT_EQ("", Applied(dir, old, delta, &progress)) << nMethod;
    }

    auto level9 = [](const std::string& s) {
        std::string block(compressBound(s.size()), '\0');
        uLongf n = block.size();
        EXPECT_EQ(Z_OK, compress2((Bytef*)&block[0], &n, (const Bytef*)s.data(), s.size(), 9));
        return block.substr(0, n);
    };
    std::string text = Text(2000, -1), text2 = Text(2000, 99);
    std::string old = BuildArchive(PACK_ZLIB, {{std::string("odd.txt\0tail", 12), (DWORD)text.size(), level9(text)}});
    std::string neu = BuildArchive(PACK_ZLIB, {{std::string("odd.txt\0tail", 12), (DWORD)text2.size(), level9(text2)},
                                              {"new.txt", (DWORD)text.size(), level9(text)}});
    EXPECT_TRUE(Applied(dir, old, Made(old, neu)) == neu);
}

// A changed byte never gives another archive: it is refused, unless it
// changes nothing (a deflate stream's padding bits). A cut or a byte more
// is refused, and so is an old archive other than the one it was made from.
TEST(PackDelta, DamagedDeltaAndOtherOldArchiveAreRefused)
{
    ScratchDir dir("pack_delta_damage");
    Members oldMembers = {{"a.txt", Text(300, -1)}, {"b.txt", Text(100, 3)}};
    Members newMembers = {{"a.txt", Text(300, 20)}, {"c.txt", "new"}, {"b.txt", Text(100, 4)}};
    for (int nMethod : {PACK_SLIDE, PACK_ZLIB}) {
        std::string old = Saved(dir, oldMembers, nMethod), neu = Saved(dir, newMembers, nMethod);
        std::string delta = Made(old, neu);
        size_t nRefused = 0;
        for (size_t i = 0; i < delta.size(); i++) {
            std::string bad = delta;
            bad[i] ^= (char)(1 << (i % 8));
            std::string out = Applied(dir, old, bad);
            EXPECT_TRUE(out.empty() || out == neu) << "byte " << i;
            nRefused += out.empty();
        }
        EXPECT_GT(nRefused, delta.size() * 9 / 10);
        for (size_t n : {(size_t)0, (size_t)50, (size_t)PACK_DELTA_HEADER_SIZE, delta.size() / 2, delta.size() - 1})
            EXPECT_EQ("", Applied(dir, old, delta.substr(0, n))) << "cut at " << n;
        EXPECT_EQ("", Applied(dir, old, delta + '\0'));
        EXPECT_EQ("", Applied(dir, neu, delta));
        Members otherMembers = oldMembers;
        otherMembers[1].second[10] ^= 1; // same sizes, other bytes
        std::string other = Saved(dir, otherMembers, nMethod);
        EXPECT_EQ("", Applied(dir, other, delta));
    }
    // Files that are no archives are no case for an archive delta.
    std::vector<BYTE> delta;
    std::string text = Text(10, -1), archive = Saved(dir, oldMembers, PACK_ZLIB);
    EXPECT_EQ(0, PackDeltaMake((const BYTE*)text.data(), text.size(), (const BYTE*)archive.data(), archive.size(), &delta));
    EXPECT_EQ(0, PackDeltaMake((const BYTE*)archive.data(), archive.size() - 1, (const BYTE*)archive.data(), archive.size(), &delta));
}

// The updater rebuilds archives that the tool made on another system, so
// every build must code alike: these digests are the same in the Windows
// and the native build.
TEST(PackDelta, EveryBuildCodesAlike)
{
    ScratchDir dir("pack_delta_golden");
    std::string mixed;
    for (int i = 0; i < 20000; i++)
        mixed += (char)("abcabd  xyz\n\x01\xfe"[(i * 7 + i / 13) % 14]);
    Members members = {{"text.txt", Text(400, -1)}, {"mixed.bin", mixed}, {"zeros.bin", std::string(5000, '\0')}};
    const char* digests[] = {
        "c39cd8913768c25b0f68b251279fdcb3c7b261cdb4bd4afb9cb2539b1fd449db",
        "c5c7830bc2f4bb873b930134d865cfb647e69c3713b238290454d0b8fd50d1a0",
        "73a939166c0b5d2cf0d7ab8f4518540ba4d1f334269b2e707fcd4851864e65d5",
        "fdaefe4ced8b1d9371854b41159b91fe66417353b86197b5f24e88d6124b4fe8",
    };
    for (int nMethod = PACK_STORE; nMethod <= PACK_ZLIB; nMethod++) {
        std::string archive = Saved(dir, members, nMethod);
        PlatSha256 sha;
        BYTE abDigest[PLAT_SHA256_SIZE];
        ASSERT_EQ(1, sha.Begin());
        sha.Add(archive.data(), archive.size());
        ASSERT_EQ(1, sha.End(abDigest));
        std::string hex;
        for (BYTE b : abDigest)
            hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
        EXPECT_EQ(digests[nMethod], hex) << "method " << nMethod;
    }
}

} // namespace
