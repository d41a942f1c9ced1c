#include "file/directory.h"

#include "file/cfile.h"
#include "file/path.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <stdio.h>
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

} // namespace
