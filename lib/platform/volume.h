// What the file system says about where files live: which volume and
// which file a name reaches, how much the caller may still write there,
// and whether a file could be replaced now. Kept apart from the file
// calls: only code that plans writes (the updater's checks, a walk that
// must not loop) asks these.
//
// Results follow the library's rule: 1 is success, 0 failure.
#ifndef PLATFORM_VOLUME_H
#define PLATFORM_VOLUME_H

#include "platform/wintypes.h"

// A file or folder as the file system identifies it, whatever name
// reached it (another letter case, a link, a second hard link).
struct PlatFileId {
    // The volume: equal for two names on one volume.
    QWORD qwVolume;
    QWORD qwFile;
    // How many names (hard links) the file has: replacing one of several
    // frees no space.
    DWORD dwLinks;
    QWORD qwSize;
    // FILE_ATTRIBUTE_* as PlatGetFileAttributes reports them.
    DWORD dwAttributes;
};

// Fills *pId for what the path names, links followed. Returns 0 when
// nothing is there or it cannot be asked.
int PlatGetFileId(const char* lpszPath, PlatFileId* pId);

// Whether two ids name the same file.
int PlatSameFile(const PlatFileId* pA, const PlatFileId* pB);

// The bytes this user may still write on the volume that holds the folder
// (a disk quota leaves less than the volume's free space, and the copy
// runs as this user), and the volume's allocation unit, in which every
// file's size is counted. Returns 0 when the volume cannot be asked.
int PlatGetDiskSpace(const char* lpszFolder, QWORD* pqwFree, DWORD* pdwClusterBytes);

// Whether the existing file could be replaced now by another file moved
// over it, with its read-only attribute cleared first: opened with no
// sharing for deleting and changing attributes, and closed again. Returns
// 1 when it could; 0 otherwise, PlatGetLastError() saying why
// (PLAT_ERROR_IN_USE: another program holds it; PLAT_ERROR_ACCESS: the
// system refuses, e.g. an immutable file). A read-only file passes.
int PlatProbeReplace(const char* lpszPath);

#endif
