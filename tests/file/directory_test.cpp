#include "file/directory.h"

#include "file/cfile.h"
#include "file/path.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <map>
#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

const char SO[] = "\x83\x5C";

bool IsFolder(const std::string& path)
{
    DWORD dwAttr = PlatGetFileAttributes(path.c_str());
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CreateDirectories, MakesEveryLevelAndIsRepeatable)
{
    ScratchDir dir("mkdirs");
    std::string path = dir.Path("a\\b\\c");
    EXPECT_EQ(1, CreateDirectories(path.c_str()));
    EXPECT_TRUE(IsFolder(dir.Path("a")));
    EXPECT_TRUE(IsFolder(dir.Path("a\\b")));
    EXPECT_TRUE(IsFolder(path));
    EXPECT_EQ(1, CreateDirectories(path.c_str()));
    EXPECT_TRUE(IsFolder(path));
}

TEST(CreateDirectories, TrailingSeparatorAndAbsolutePaths)
{
    ScratchDir dir("mkdirs_trailing");
    char full[MAX_PATH];
    ASSERT_NE(0u, PlatGetFullPathName(dir.Root().c_str(), MAX_PATH, full, NULL));
    std::string path = std::string(full) + "\\x\\y\\";
    EXPECT_EQ(1, CreateDirectories(path.c_str()));
    EXPECT_TRUE(IsFolder(dir.Path("x")));
    EXPECT_TRUE(IsFolder(dir.Path("x\\y")));
}

TEST(CreateDirectories, DoubleByteNameEndingInBackslashStaysWhole)
{
    ScratchDir dir("mkdirs_so");
    std::string name = std::string("f") + SO;
    std::string path = dir.Path(name + "\\" + name);
    EXPECT_EQ(1, CreateDirectories(path.c_str()));
    EXPECT_TRUE(IsFolder(dir.Path(name)));
    EXPECT_TRUE(IsFolder(path));
    EXPECT_FALSE(PathExists(dir.Path("f").c_str()));

    // A file inside it opens through the same name.
    CFile clFile;
    std::string file = path + "\\" + SO + ".txt";
    ASSERT_EQ(1, clFile.Open(file.c_str(), 1));
    EXPECT_EQ(2u, clFile.Write("ok", 2));
    clFile.Close();
    EXPECT_TRUE(PathExists(file.c_str()));
#ifndef _WIN32
    // On disk the name is UTF-8, as Wine stores it: f + KATAKANA SO.
    std::string utf8 = "scratch_mkdirs_so/f\xE3\x82\xBD/f\xE3\x82\xBD/\xE3\x82\xBD.txt";
    FILE* fp = fopen(utf8.c_str(), "rb");
    EXPECT_NE(nullptr, fp);
    if (fp)
        fclose(fp);
#endif
}

TEST(RemoveEmptyDirectories, RemovesEmptyLevelsUpwards)
{
    ScratchDir dir("rmdirs");
    ASSERT_EQ(1, CreateDirectories(dir.Path("x\\y").c_str()));
    RemoveEmptyDirectories(dir.Path("x\\y\\f.txt").c_str());
    EXPECT_FALSE(PathExists(dir.Path("x\\y").c_str()));
    EXPECT_FALSE(PathExists(dir.Path("x").c_str()));
}

TEST(RemoveEmptyDirectories, StopsAtAFolderThatIsNotEmpty)
{
    ScratchDir dir("rmdirs_busy");
    ASSERT_EQ(1, CreateDirectories(dir.Path("x\\y").c_str()));
    ASSERT_TRUE(WriteWholeFile(dir.Path("x\\y\\other.txt"), "keep"));
    RemoveEmptyDirectories(dir.Path("x\\y\\f.txt").c_str());
    EXPECT_TRUE(PathExists(dir.Path("x\\y\\other.txt").c_str()));

    // With y emptied, y goes but x, which holds another file, stays.
    ASSERT_TRUE(WriteWholeFile(dir.Path("x\\keep.txt"), "keep"));
    RemoveTree(dir.Path("x\\y\\other.txt"));
    RemoveEmptyDirectories(dir.Path("x\\y\\f.txt").c_str());
    EXPECT_FALSE(PathExists(dir.Path("x\\y").c_str()));
    EXPECT_TRUE(PathExists(dir.Path("x\\keep.txt").c_str()));

    RemoveEmptyDirectories("");
}

TEST(PathExists, FilesFoldersAndDriveRoot)
{
    ScratchDir dir("exists");
    ASSERT_TRUE(WriteWholeFile(dir.Path("file.txt"), "x"));
    EXPECT_EQ(1, PathExists(dir.Path("file.txt").c_str()));
    EXPECT_EQ(1, PathExists(dir.Root().c_str()));
    EXPECT_EQ(0, PathExists(dir.Path("missing").c_str()));
    EXPECT_EQ(0, PathExists(dir.Path("file.txt\\").c_str()));

    char full[MAX_PATH], root[MAX_PATH];
    ASSERT_NE(0u, PlatGetFullPathName(dir.Root().c_str(), MAX_PATH, full, NULL));
    GetDriveRoot(root, full);
    EXPECT_EQ(1, PathExists(root)) << root;
}

#ifdef _WIN32
// The runs as other systems are worth something only if Wine really gave
// the process the code page asked for (932 unless the run says otherwise).
TEST(ForeignNames, RunsInTheCodePageAskedFor)
{
    const char* lpszAsked = getenv("GAMEPATCH_EXPECT_ACP");
    EXPECT_EQ(lpszAsked ? (UINT)atoi(lpszAsked) : 932u, GetACP());
}
#endif

// Names with no code-page-932 form, made around the library (UTF-8): an
// accented letter, and U+301C WAVE DASH, whose best-fit look-alike 0x8160
// names U+FF5E, another file.
TEST(ForeignNames, FlaggedInFindDataAndRefusedAsOnePath)
{
    ScratchDir dir("foreign");
    const std::string jose = "scratch_foreign/Jos\xC3\xA9";
    ASSERT_TRUE(MakeHostEntry("scratch_foreign/caf\xC3\xA9.txt", false));
    ASSERT_TRUE(MakeHostEntry("scratch_foreign/\xE3\x80\x9C.txt", false));
    ASSERT_TRUE(MakeHostEntry(jose, true));
    ASSERT_TRUE(WriteWholeFile(dir.Path("plain.txt"), "x"));
    ASSERT_EQ(1, PlatCreateDirectory(dir.Path(std::string(SO) + "\x83\x74\x83\x67").c_str()));

    std::map<std::string, int> found;
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst(dir.Path("*").c_str(), &fd);
    ASSERT_NE(nullptr, hFind);
    do
        found[fd.cFileName] = fd.bNoCp932Name;
    while (PlatFindNext(hFind, &fd));
    PlatFindClose(hFind);
    found.erase(".");
    found.erase("..");
    std::map<std::string, int> expected = {
        { "caf?.txt", 1 }, { "?.txt", 1 }, { "Jos?", 1 }, { "plain.txt", 0 }, { "\x83\x5C\x83\x74\x83\x67", 0 },
    };
    EXPECT_EQ(expected, found);

    // Inside José the current folder has no library form, yet relative
    // names work: the way a program in such a folder reaches its files.
    char buf[MAX_PATH], before[MAX_PATH];
    ASSERT_NE(0u, PlatGetCurrentDirectory(MAX_PATH, before));
    ASSERT_TRUE(SetHostCurrentDirectory(jose));
    EXPECT_EQ(0u, PlatGetCurrentDirectory(MAX_PATH, buf));
    EXPECT_EQ(0u, PlatGetFullPathName("data", MAX_PATH, buf, NULL));
    EXPECT_NE(0u, PlatGetFullPathName(before, MAX_PATH, buf, NULL)) << "a full path needs no current folder";
    CFile clFile;
    EXPECT_EQ(1, clFile.Open("here.txt", 1));
    clFile.Close();
    EXPECT_EQ(1, PathExists("here.txt"));
    EXPECT_EQ(1, PlatDeleteFile("here.txt"));
    ASSERT_EQ(1, PlatSetCurrentDirectory(before));

    RemoveHostEntry("scratch_foreign/caf\xC3\xA9.txt");
    RemoveHostEntry("scratch_foreign/\xE3\x80\x9C.txt");
    RemoveHostEntry(jose);
}

} // namespace
