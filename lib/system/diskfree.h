// The free-space query with its lookup of the 64-bit query passed in, so
// that tests can take the branch of a system without it. Not for callers
// of the library: they use GetDiskFreeBytes (system/shelldlg.h).
#ifndef SYSTEM_DISKFREE_H
#define SYSTEM_DISKFREE_H

#include "platform/wintypes.h"

// Has the shape of GetProcAddress, which GetDiskFreeBytes passes.
typedef FARPROC(WINAPI* ProcLookup)(HMODULE hModule, LPCSTR lpszName);

// GetDiskFreeBytes, with pfnLookup asked for "GetDiskFreeSpaceExA" in the
// loaded KERNEL32.DLL.
int GetDiskFreeBytesVia(ProcLookup pfnLookup, const char* lpszRootPath, QWORD* pqwFree, QWORD* pqwTotal);

#endif
