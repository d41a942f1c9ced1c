// The free space an update needs on the install folder's volume. Shared by
// update.exe, which refuses an update that cannot fit before copying
// anything, and by the tools that author updates, so both name the same
// number.
#ifndef APP_UPDATESPACE_H
#define APP_UPDATESPACE_H

#include "updateinfo.h"

// Bytes of free space the update needs on the install folder's volume: the
// highest use the copy pass reaches above today's, followed through the
// list in order.
//
// Each file is copied to a temporary file beside its destination and then
// moved over it. While the copy is written the file it replaces still
// exists; after the move only the new one does. So at each file the use
// first grows by the new file's size, then (for a replaced file) shrinks
// by the old one's. A new file's temporary copy simply becomes the file.
// Once the pass is over, Uninstallinf.dat is written under a temporary
// name beside the old one: that file, at its largest (every update record
// appended), is the last step.
//
// Sizes are those of the files the copy really copies: the source files
// below lpszSrcFileName, not the records' sizes, which the copy never
// reads. What a file replaces is the installed file below
// lpszInstallDirectory, or what an earlier record of the same path (letter
// case and slashes aside) wrote there. Every file counts in whole clusters
// of dwClusterBytes (0 or 1: bytes). A name that does not exist, is a
// folder or holds a wildcard replaces nothing. The pass stops at a file
// whose source is missing, and so does the count. Folder records need
// nothing of their own.
//
// Both folders end in a backslash. Returns 1 with *pqwNeeded set; 0,
// *pqwNeeded 0, when an argument is null, a name does not fit in MAX_PATH
// bytes or memory runs out.
int GetUpdateSpaceNeeded(const UpdateContext* pContext, const char* lpszInstallDirectory,
                         const char* lpszSrcFileName, DWORD dwClusterBytes, QWORD* pqwNeeded);

// The message update.exe shows when an update does not fit, in lpszBuf of
// nSize bytes (256 hold any numbers): the need rounded up and the free
// space rounded down to whole megabytes of 2^20 bytes, with commas, so
// that a shortfall never reads as enough.
void FormatNoSpaceMessage(char* lpszBuf, size_t nSize, QWORD qwNeeded, QWORD qwFree);

#endif
