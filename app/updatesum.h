// Updateinf.sum: the sizes and SHA-256 digests that let the updater tell
// a damaged or incomplete download from a whole one, and name the deltas
// of a patch made against an older release. It lies beside Updateinf.dat
// and holds one entry per record of that list, in its order; a package
// without it is installed unchecked. Layout (little-endian;
// docs/update-sums.md):
//   0   abMagic[8]   "UPDSUM\r\n"
//   8   dwVersion    1, or 2 when a source is a delta
//   12  dwCount      entries that follow, the list's record count
//   16  entries of 80 bytes (version 1) or 392 bytes (version 2):
//       0   qwInstalledSize, 8   abInstalled[32]  the file as installed
//       40  qwSourceSize,    48  abSource[32]     the file in the data folder
//     version 2 only:
//       80  dwKind  SUM_WHOLE, SUM_DELTA or SUM_ARCHIVE_DELTA;  84  dwReserved 0
//       88  qwBaseSize, 96 abBase[32]  the installed file a delta applies to
//       128 szSource[260]  a delta's path below the data folder
//       388 dwPadding 0
// A folder record's entry is all zeros. A whole file's source is the file
// as installed, so both halves of its entry are equal.
#ifndef APP_UPDATESUM_H
#define APP_UPDATESUM_H

#include "file/cfile.h"
#include "platform/hash.h"

#include <string>
#include <vector>

// The version written when no source is a delta, and the one with deltas.
#define UPDATE_SUM_VERSION 1
#define UPDATE_SUM_VERSION_DELTAS 2

// A source is the whole file, a delta of the installed file's bytes, or a
// delta of an installed pack archive's members, from which the new
// archive is written again.
enum { SUM_WHOLE = 0, SUM_DELTA = 1, SUM_ARCHIVE_DELTA = 2 };

#pragma pack(push, 1)
struct SumHeader {
    BYTE abMagic[8];
    DWORD dwVersion;
    DWORD dwCount;
};

// A version 2 entry; a version 1 entry is its first 80 bytes, the rest
// zero.
struct SumEntry {
    QWORD qwInstalledSize;
    BYTE abInstalled[PLAT_SHA256_SIZE];
    QWORD qwSourceSize;
    BYTE abSource[PLAT_SHA256_SIZE];
    DWORD dwKind;
    DWORD dwReserved;
    QWORD qwBaseSize;
    BYTE abBase[PLAT_SHA256_SIZE];
    char szSource[MAX_PATH];
    // Keeps entries in an array 8-byte aligned.
    DWORD dwPadding;
};
#pragma pack(pop)

#define SUM_ENTRY_V1_SIZE 80

static_assert(sizeof(SumHeader) == 16, "sum header layout");
static_assert(sizeof(SumEntry) == 392, "sum entry layout");

extern const BYTE g_abSumMagic[8];

// Parses a whole sum file. Returns 0, *pReason (when not null) saying
// why, when the magic differs, the version is not one this program
// knows, the size is not the header and exactly dwCount entries, or a
// version 2 entry is of an unknown kind or names its delta without an end.
// *pdwVersion (when not null) receives the version.
int ParseUpdateSums(const BYTE* pData, size_t nSize, std::vector<SumEntry>* pEntries, std::string* pReason = NULL,
                    DWORD* pdwVersion = NULL);

// Reads and parses lpszFileName; 0 as ParseUpdateSums, or when the file
// cannot be read.
int LoadUpdateSums(const char* lpszFileName, std::vector<SumEntry>* pEntries, std::string* pReason = NULL,
                   DWORD* pdwVersion = NULL);

// The file's bytes for these entries: version 2 when one is a delta (or
// when dwVersion asks for it), else version 1, which older updaters read.
std::vector<BYTE> SerializeUpdateSums(const std::vector<SumEntry>& entries, DWORD dwVersion = UPDATE_SUM_VERSION);

// Hashes pFile from its position to its end, reading through pBlock
// (dwBlock bytes). pfnBlock (may be null) is told each block's size and
// stops the hashing by returning 0. Returns 1 with the digest and the
// bytes read; 0 when a read failed, the hash failed or pfnBlock stopped.
int HashFile(CFile* pFile, BYTE* pBlock, DWORD dwBlock, BYTE abDigest[PLAT_SHA256_SIZE], QWORD* pqwSize,
             int (*pfnBlock)(void* pParam, DWORD dwSize) = NULL, void* pParam = NULL);

// A digest as 64 lower-case hexadecimal digits.
std::string DigestText(const BYTE abDigest[PLAT_SHA256_SIZE]);

#endif
