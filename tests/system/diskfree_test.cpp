// The free-space query against the prefix's real volumes, and its two
// branches chosen through the lookup of the 64-bit query.
#include "system/diskfree.h"
#include "platform/volume.h"
#include "system/shelldlg.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

struct Space {
    QWORD qwFree, qwTotal;
    bool operator==(const Space& o) const { return qwFree == o.qwFree && qwTotal == o.qwTotal; }
};

std::ostream& operator<<(std::ostream& os, const Space& s)
{
    return os << "free " << s.qwFree << ", total " << s.qwTotal;
}

Space PlatformEx(const char* lpszRoot)
{
    ULARGE_INTEGER liCaller, liTotal, liFree;
    if (!GetDiskFreeSpaceExA(lpszRoot, &liCaller, &liTotal, &liFree))
        return { 0, 0 };
    return { liFree.QuadPart, liTotal.QuadPart };
}

// The cluster-based query's counts, multiplied in 64 bits.
Space PlatformClusters(const char* lpszRoot)
{
    DWORD dwSectors, dwBytes, dwFree, dwClusters;
    if (!GetDiskFreeSpaceA(lpszRoot, &dwSectors, &dwBytes, &dwFree, &dwClusters))
        return { 0, 0 };
    QWORD qwCluster = (QWORD)dwSectors * dwBytes;
    return { qwCluster * dwFree, qwCluster * dwClusters };
}

Space Truncated(const Space& s)
{
    return { (DWORD)s.qwFree, (DWORD)s.qwTotal };
}

// Other programs write to the same disks while the tests run, so a reading
// is compared only when the platform's own readings before and after it
// agree; the comparison is retried until they do.
template <class Ours, class Theirs> void ExpectSameReading(Ours ours, Theirs theirs)
{
    for (int nTry = 0; nTry < 200; nTry++) {
        Space before = theirs();
        Space got = ours();
        if (!(theirs() == before))
            continue;
        EXPECT_EQ(before, got);
        return;
    }
    ADD_FAILURE() << "the free space never held still";
}

Space Query(ProcLookup pfnLookup, const char* lpszRoot)
{
    Space s = { 1, 1 };
    EXPECT_EQ(1, GetDiskFreeBytesVia(pfnLookup, lpszRoot, &s.qwFree, &s.qwTotal));
    return s;
}

FARPROC WINAPI NoExQuery(HMODULE, LPCSTR)
{
    return NULL;
}

// A drive letter that names no volume.
std::string MissingDrive()
{
    DWORD dwDrives = GetLogicalDrives();
    for (char c = 'Y'; c > 'D'; c--)
        if (!(dwDrives & (1u << (c - 'A'))))
            return std::string(1, c) + ":\\";
    return "";
}

TEST(DiskFree, AgreesWithThePlatformAndTheTotalMayBeLeftOut)
{
    char szCurrent[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, szCurrent));
    // A drive's root, and a folder, which the 64-bit query takes too.
    for (const char* lpszRoot : { "C:\\", (const char*)szCurrent }) {
        SCOPED_TRACE(lpszRoot);
        ExpectSameReading([&] { return Query(GetProcAddress, lpszRoot); }, [&] { return PlatformEx(lpszRoot); });
        ExpectSameReading(
            [&] {
                Space s = { 1, 0 };
                EXPECT_EQ(1, GetDiskFreeBytes(lpszRoot, &s.qwFree, NULL));
                return s;
            },
            [&] { return Space{ PlatformEx(lpszRoot).qwFree, 0 }; });
    }
}

// Compared with the platform's counts multiplied in 64 bits and cut to
// their low 32 bits: the cut shows where the volume has 4 GiB or more (free
// or in all); on a smaller one both products agree, and the comparison
// still holds, whatever the volume has.
TEST(DiskFree, WithoutTheExQueryClustersAreMultipliedIn32Bits)
{
    ExpectSameReading([] { return Query(NoExQuery, "C:\\"); }, [] { return Truncated(PlatformClusters("C:\\")); });
    Space got = Query(NoExQuery, "C:\\");
    EXPECT_LE(got.qwFree, 0xFFFFFFFFull);
    EXPECT_LE(got.qwTotal, 0xFFFFFFFFull);
}

// The seam's query that the updater's plan uses.
TEST(DiskFree, ClusterSizeOfTheVolumeHoldingAPath)
{
    DWORD dwSectors, dwBytes, dwFree, dwClusters;
    ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &dwSectors, &dwBytes, &dwFree, &dwClusters));
    // The root itself, and a folder below it, which the platform's
    // cluster-based query would not take.
    for (const char* lpszPath : { "C:\\", "C:\\windows\\system32" }) {
        DWORD dw = 0;
        QWORD qwFree = 0;
        EXPECT_EQ(1, PlatGetDiskSpace(lpszPath, &qwFree, &dw)) << lpszPath;
        EXPECT_EQ(dwSectors * dwBytes, dw) << lpszPath;
        EXPECT_GT(qwFree, 0u);
    }
    DWORD dw = 7;
    QWORD qwFree = 7;
    EXPECT_EQ(0, PlatGetDiskSpace((MissingDrive() + "game").c_str(), &qwFree, &dw));
}

TEST(DiskFree, NoVolumeGivesZerosInBothBranches)
{
    std::string root = MissingDrive();
    ASSERT_NE("", root);
    for (ProcLookup pfnLookup : { (ProcLookup)GetProcAddress, (ProcLookup)NoExQuery }) {
        Space s = { 7, 7 };
        EXPECT_EQ(0, GetDiskFreeBytesVia(pfnLookup, root.c_str(), &s.qwFree, &s.qwTotal));
        EXPECT_EQ((Space{ 0, 0 }), s);
        s.qwFree = 7;
        EXPECT_EQ(0, GetDiskFreeBytesVia(pfnLookup, root.c_str(), &s.qwFree, NULL));
        EXPECT_EQ(0u, s.qwFree);
    }
}

// A stand-in for the 64-bit query whose three results differ, so the test
// sees which one lands where: the free result must be the volume's free
// bytes, not the part a quota leaves to the caller.
struct FakeEx {
    static std::string s_asked, s_root;
    static HMODULE s_hModule;
    static BOOL s_bResult;
    static BOOL WINAPI Query(LPCSTR lpszRoot, PULARGE_INTEGER pliCaller, PULARGE_INTEGER pliTotal,
                             PULARGE_INTEGER pliFree)
    {
        s_root = lpszRoot;
        pliCaller->QuadPart = 0x100000001ull;
        pliTotal->QuadPart = 0x300000003ull;
        pliFree->QuadPart = 0x200000002ull;
        return s_bResult;
    }
    static FARPROC WINAPI Lookup(HMODULE hModule, LPCSTR lpszName)
    {
        s_hModule = hModule;
        s_asked = lpszName;
        return (FARPROC)(void*)Query;
    }
};
std::string FakeEx::s_asked, FakeEx::s_root;
HMODULE FakeEx::s_hModule;
BOOL FakeEx::s_bResult;

TEST(DiskFree, TakesTheVolumesFreeBytesFromTheExQuery)
{
    FakeEx::s_bResult = TRUE;
    Space s = Query(FakeEx::Lookup, "Q:\\game\\");
    EXPECT_EQ((Space{ 0x200000002ull, 0x300000003ull }), s);
    EXPECT_EQ("GetDiskFreeSpaceExA", FakeEx::s_asked);
    EXPECT_EQ(GetModuleHandleA("KERNEL32.DLL"), FakeEx::s_hModule);
    EXPECT_EQ("Q:\\game\\", FakeEx::s_root);

    FakeEx::s_bResult = FALSE;
    s = { 7, 7 };
    EXPECT_EQ(0, GetDiskFreeBytesVia(FakeEx::Lookup, "Q:\\", &s.qwFree, &s.qwTotal));
    EXPECT_EQ((Space{ 0, 0 }), s);
}

} // namespace
