// Updateinf.sum: the sizes and SHA-256 digests that let the updater tell
// a damaged or incomplete download from a whole one. It lies beside
// Updateinf.dat and holds one entry per record of that list, in its
// order; a package without it is installed unchecked. Layout
// (little-endian; docs/update-sums.md):
//   0   abMagic[8]   "UPDSUM\r\n"
//   8   dwVersion    1
//   12  dwCount      entries that follow, the list's record count
//   16  entries of 80 bytes:
//       0   qwInstalledSize, 8   abInstalled[32]  the file as installed
//       40  qwSourceSize,    48  abSource[32]     the file in the data folder
// A folder record's entry is all zeros. In version 1 every source is the
// whole file, so both halves of a file's entry are equal; they are kept
// apart for sources that are not (a delta to apply).
#ifndef APP_UPDATESUM_H
#define APP_UPDATESUM_H

#include "file/cfile.h"
#include "platform/hash.h"

#include <string>
#include <vector>

#define UPDATE_SUM_VERSION 1

#pragma pack(push, 1)
struct SumHeader {
    BYTE abMagic[8];
    DWORD dwVersion;
    DWORD dwCount;
};

struct SumEntry {
    QWORD qwInstalledSize;
    BYTE abInstalled[PLAT_SHA256_SIZE];
    QWORD qwSourceSize;
    BYTE abSource[PLAT_SHA256_SIZE];
};
#pragma pack(pop)

static_assert(sizeof(SumHeader) == 16, "sum header layout");
static_assert(sizeof(SumEntry) == 80, "sum entry layout");

extern const BYTE g_abSumMagic[8];

// Parses a whole sum file. Returns 0, *pReason (when not null) saying
// why, when the magic differs, the version is not one this program
// knows, or the size is not the header and exactly dwCount entries.
int ParseUpdateSums(const BYTE* pData, size_t nSize, std::vector<SumEntry>* pEntries, std::string* pReason = NULL);

// Reads and parses lpszFileName; 0 as ParseUpdateSums, or when the file
// cannot be read.
int LoadUpdateSums(const char* lpszFileName, std::vector<SumEntry>* pEntries, std::string* pReason = NULL);

// The file's bytes for these entries, in the current version.
std::vector<BYTE> SerializeUpdateSums(const std::vector<SumEntry>& entries);

// Hashes pFile from its position to its end, reading through pBlock
// (dwBlock bytes). pfnBlock (may be null) is told each block's size and
// stops the hashing by returning 0. Returns 1 with the digest and the
// bytes read; 0 when a read failed, the hash failed or pfnBlock stopped.
int HashFile(CFile* pFile, BYTE* pBlock, DWORD dwBlock, BYTE abDigest[PLAT_SHA256_SIZE], QWORD* pqwSize,
             int (*pfnBlock)(void* pParam, DWORD dwSize) = NULL, void* pParam = NULL);

// A digest as 64 lower-case hexadecimal digits.
std::string DigestText(const BYTE abDigest[PLAT_SHA256_SIZE]);

#endif
