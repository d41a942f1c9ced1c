#include "file/path.h"

#include "platform/platform.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

// Code page 932: the katakana SO is 0x83 0x5C, a backslash as second byte.
const char SO[] = "\x83\x5C";

typedef char* (*TwoArg)(char*, const char*);
typedef char* (*InPlace)(char*);

// Runs both forms of a helper and checks that they agree.
std::string Both(TwoArg pfnTwo, InPlace pfnInPlace, const std::string& in)
{
    char dst[MAX_PATH], buf[MAX_PATH];
    strcpy(buf, in.c_str());
    EXPECT_EQ(dst, pfnTwo(dst, in.c_str()));
    EXPECT_EQ(buf, pfnInPlace(buf));
    EXPECT_STREQ(dst, buf) << "in-place form differs for " << in;
    return dst;
}

std::string FileName(const std::string& s)
{
    return Both(GetFileName, GetFileName, s);
}

std::string CutName(const std::string& s)
{
    return Both(CutFileName, CutFileName, s);
}

TEST(PathSplit, GetFileName)
{
    EXPECT_EQ("file.txt", FileName("D:\\dir\\file.txt"));
    EXPECT_EQ("file.txt", FileName("file.txt"));
    EXPECT_EQ("", FileName("D:\\dir\\"));
    EXPECT_EQ("\\file", FileName("\\file")); // index 0 is never a separator
    EXPECT_EQ("", FileName(""));
}

TEST(PathSplit, CutFileName)
{
    EXPECT_EQ("D:\\dir", CutName("D:\\dir\\file.txt"));
    EXPECT_EQ("D:", CutName("D:\\file.txt"));
    EXPECT_EQ("", CutName("file.txt"));
    EXPECT_EQ("D:\\dir", CutName("D:\\dir\\"));
    EXPECT_EQ("", CutName("\\file"));
}

// Every separator scan must pass over a 0x5C that ends a double-byte
// character.
TEST(PathSplit, TrailByteBackslashIsNoSeparator)
{
    std::string name = std::string("a") + SO + "b.txt";
    EXPECT_EQ(name, FileName("D:\\dir\\" + name));
    EXPECT_EQ("D:\\dir", CutName("D:\\dir\\" + name));
    EXPECT_EQ(std::string(SO), FileName(SO));
    EXPECT_EQ("", CutName(std::string("x") + SO));

    // A folder whose name ends in SO: the last separator is the real one.
    std::string folder = std::string("D:\\") + SO;
    EXPECT_EQ("f", FileName(folder + "\\f"));
    EXPECT_EQ(folder, CutName(folder + "\\f"));

    // After a single-byte katakana (0xB0..0xDF are not lead bytes) a
    // backslash is a separator again.
    EXPECT_EQ("z", FileName("\xB1\\z"));

    EXPECT_EQ(0, IsSeparatorAt(SO, 1));
    EXPECT_EQ(1, IsSeparatorAt("a\\", 1));
    EXPECT_EQ(PLAT_MBC_LEAD, PlatMbsByteType(SO, 0));
    EXPECT_EQ(PLAT_MBC_TRAIL, PlatMbsByteType(SO, 1));
    EXPECT_EQ(PLAT_MBC_SINGLE, PlatMbsByteType("\xB1\\", 1));
}

TEST(PathExtension, GetExtensionAndGetLastExtension)
{
    char dst[MAX_PATH];
    EXPECT_STREQ("b.", GetExtension(dst, "a.b."));
    EXPECT_STREQ("", GetLastExtension(dst, "a.b."));
    EXPECT_STREQ("gz", GetExtension(dst, "a.tar.gz"));
    EXPECT_STREQ("gz", GetLastExtension(dst, "a.tar.gz"));
    EXPECT_STREQ("", GetExtension(dst, "noext"));
    EXPECT_STREQ("", GetLastExtension(dst, "noext"));
    EXPECT_STREQ("dir\\file", GetExtension(dst, "D:\\my.dir\\file"));
    EXPECT_EQ("gz", Both(GetExtension, GetExtension, "a.tar.gz"));
}

TEST(PathExtension, CutExtension)
{
    char dst[MAX_PATH];
    EXPECT_STREQ("D:\\my", CutExtension(dst, "D:\\my.dir\\file"));
    EXPECT_STREQ("a.tar", CutExtension(dst, "a.tar.gz"));
    EXPECT_STREQ("noext", CutExtension(dst, "noext"));
}

TEST(PathExtension, ChangeExtension)
{
    char dst[MAX_PATH], buf[MAX_PATH];
    EXPECT_STREQ("a.dat", ChangeExtension(dst, "a.txt", "dat"));
    EXPECT_STREQ("a", ChangeExtension(dst, "a.txt", ""));
    EXPECT_STREQ("noext.dat", ChangeExtension(dst, "noext", "dat"));
    EXPECT_STREQ("noext", ChangeExtension(dst, "noext", ""));
    strcpy(buf, "x.y.z");
    EXPECT_STREQ("x.y.w", ChangeExtension(buf, "w"));
}

TEST(PathExtension, AddExtension)
{
    char dst[MAX_PATH], buf[MAX_PATH];
    EXPECT_STREQ("a.TXT", AddExtension(dst, "a.TXT", "txt"));
    EXPECT_STREQ("a.txt.dat", AddExtension(dst, "a.txt", "dat"));
    EXPECT_STREQ(".dat", AddExtension(dst, "", "dat"));
    strcpy(buf, "save");
    EXPECT_STREQ("save.bin", AddExtension(buf, "bin"));
    EXPECT_STREQ("save.bin", AddExtension(buf, "BIN"));
}

TEST(PathBuild, AddBackslash)
{
    char buf[MAX_PATH];
    strcpy(buf, "");
    EXPECT_STREQ("", AddBackslash(buf));
    strcpy(buf, "D");
    EXPECT_STREQ("D", AddBackslash(buf));
    strcpy(buf, "D:");
    EXPECT_STREQ("D:\\", AddBackslash(buf));
    EXPECT_STREQ("D:\\", AddBackslash(buf));
    // A path ending in SO gets a real separator after it.
    std::string so = std::string("D:\\") + SO;
    strcpy(buf, so.c_str());
    EXPECT_EQ(so + "\\", AddBackslash(buf));
}

TEST(PathBuild, GetDriveRoot)
{
    EXPECT_EQ("D:\\", Both(GetDriveRoot, GetDriveRoot, "D:\\dir\\file"));
    EXPECT_EQ("D:", Both(GetDriveRoot, GetDriveRoot, "D:"));
}

TEST(PathBuild, CutBasePath)
{
    char dst[MAX_PATH];
    EXPECT_STREQ("\\x", CutBasePath(dst, "d:\\game\\x", "D:\\GAME"));
    EXPECT_STREQ("r\\x", CutBasePath(dst, "D:\\Gamer\\x", "D:\\Game"));
    EXPECT_STREQ("D:\\Other\\x", CutBasePath(dst, "D:\\Other\\x", "D:\\Game"));
    // A path shorter than the base never matches, not even where the
    // base has a space and the path has ended.
    EXPECT_STREQ("ab", CutBasePath(dst, "ab", "ab "));
    EXPECT_STREQ("", CutBasePath(dst, "ab", "AB"));
}

TEST(PathBuild, CurrentAndProgramFolders)
{
    char cwd[MAX_PATH], dst[MAX_PATH], exe[MAX_PATH];
    ASSERT_NE(0u, PlatGetCurrentDirectory(MAX_PATH, cwd));
    AddBackslash(cwd);
    EXPECT_EQ(std::string(cwd) + "name.txt", MakeCurrentDirectoryPath(dst, "name.txt"));
    strcpy(dst, "n2");
    EXPECT_EQ(std::string(cwd) + "n2", MakeCurrentDirectoryPath(dst));

    ASSERT_NE(0u, PlatGetModuleFileName(exe, MAX_PATH));
    char folder[MAX_PATH];
    CutFileName(folder, exe);
    std::string inside = std::string(folder) + "\\data\\a.dat";
    EXPECT_STREQ("\\data\\a.dat", CutExeDirectory(dst, inside.c_str()));
    strcpy(dst, inside.c_str());
    EXPECT_STREQ("\\data\\a.dat", CutExeDirectory(dst));
    EXPECT_STREQ("Q:\\elsewhere", CutExeDirectory(dst, "Q:\\elsewhere"));
}

TEST(PathNumbers, AddCommaAndDeleteComma)
{
    EXPECT_EQ("1,234,567", Both(AddComma, AddComma, "1234567"));
    EXPECT_EQ("123", Both(AddComma, AddComma, "123"));
    EXPECT_EQ("1,234", Both(AddComma, AddComma, "1234"));
    EXPECT_EQ("", Both(AddComma, AddComma, ""));
    EXPECT_EQ("1234567", Both(DeleteComma, DeleteComma, "1,234,567"));
}

TEST(PathNumbers, CompareNoCaseFoldsOnlyLettersOfSingleByteCharacters)
{
    struct {
        const char* a;
        const char* b;
        int nSign;
    } aCases[] = {
        { "Data.PAC", "data.pac", 0 },
        { "a", "ab", -1 },
        { "a", "B", -1 },
        { "[", "{", -1 }, // 32 apart, but not letters
        // Katakana A (83 41) and DI (83 61): a second byte is no letter.
        { "\x83\x41.txt", "\x83\x61.txt", -1 },
        { "X\x83\x41", "x\x83\x41", 0 },
        // Full-width A and a (82 60, 82 81) are different characters.
        { "\x82\x60", "\x82\x81", -1 },
        // After a single-byte katakana (not a lead byte) a letter is folded.
        { "\xB1" "A", "\xB1" "a", 0 },
        // The byte after a second byte starts a character again.
        { "\x83\x41Z", "\x83\x41z", 0 },
    };
    for (const auto& c : aCases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        int n = CompareNoCase(c.a, c.b), nBack = CompareNoCase(c.b, c.a);
        EXPECT_EQ(c.nSign, (n > 0) - (n < 0));
        EXPECT_EQ(-c.nSign, (nBack > 0) - (nBack < 0));
        // The key agrees with the comparison.
        char szA[64], szB[64];
        EXPECT_EQ(c.nSign == 0, strcmp(FoldNameCase(szA, c.a), FoldNameCase(szB, c.b)) == 0);
    }
    char szBuf[] = "ABC\x83\x41" "D";
    EXPECT_STREQ("abc\x83\x41" "d", FoldNameCase(szBuf, szBuf));
}

} // namespace
