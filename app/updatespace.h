// The free space an update needs on the install folder's volume. Shared by
// update.exe, which refuses an update that cannot fit before copying
// anything, and by the tools that author updates, so both name the same
// number.
#ifndef APP_UPDATESPACE_H
#define APP_UPDATESPACE_H

#include "updateinfo.h"

// Bytes of free space the update needs on the install folder's volume.
//
// Each file record is copied to a temporary file beside its destination
// and then moved over the installed file, in list order. The need is
//   the growth: for every file record, its size minus the size of the
//     installed file it replaces (0 when there is none), counted only
//     when positive, plus
//   the largest single file record, the most that one temporary copy
//     holds while the file it replaces still exists.
// A file that shrinks does not offset one that grows: a shrinking file
// late in the list frees its space only after the growing ones before it
// were written, so the net change can be less than the peak on the way.
// Counting growth only gives an upper bound of the peak whatever the
// order, also when one path is listed twice. A new file's temporary copy
// is counted twice (as growth and as the largest file) when it is the
// largest; that margin of at most one file stands for what is not counted
// on its own: cluster rounding and the rewrite of Uninstallinf.dat. Folder
// records need nothing.
//
// The installed sizes are read from lpszInstallDirectory (ending in a
// backslash) followed by each record's path; a name that does not exist,
// is a folder or holds a wildcard replaces nothing.
// Returns 1 with *pqwNeeded set; 0, *pqwNeeded 0, when an argument is null
// or a destination name does not fit in MAX_PATH bytes.
int GetUpdateSpaceNeeded(const UpdateContext* pContext, const char* lpszInstallDirectory, QWORD* pqwNeeded);

// The message update.exe shows when an update does not fit, in lpszBuf of
// nSize bytes (256 hold any numbers): the need rounded up and the free
// space rounded down to whole megabytes of 2^20 bytes, with commas, so
// that a shortfall never reads as enough.
void FormatNoSpaceMessage(char* lpszBuf, size_t nSize, QWORD qwNeeded, QWORD qwFree);

#endif
