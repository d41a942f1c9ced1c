// The shell's file dialogs, its folder browser and the free-space query of
// a volume. None keeps state between calls or shows a message of its own.
// Strings are code-page-932, NUL-terminated.
#ifndef SYSTEM_SHELLDLG_H
#define SYSTEM_SHELLDLG_H

#include "platform/wintypes.h"

// Shows the Open dialog (bSave 0) or the Save dialog (bSave non-zero), in
// the older request form without the places bar, and returns its result:
// non-zero when the user chose a file, 0 on Cancel or error.
//
// lpszFileName (260 bytes) receives the chosen file's name and extension
// without its folder. Since the current folder is restored on return, a
// caller that opens the file needs its folder too: lpszFullPath, when not
// null, receives the full path (260 bytes). Neither is read on entry.
//
// hWnd owns the dialog (may be null). lpszInitialDir is the folder shown
// first (null: the platform's choice). lpszDefExt is appended to a name
// typed without an extension (null: nothing). lpszFilter is pairs of
// strings, a description and a pattern, ending in an empty string;
// dwFilterIndex picks one of them, counted from 1.
//
// A chosen file whose name or path has no code-page-932 form cannot be
// named by the library: the result is then 0, as for Cancel, with both
// outputs empty.
//
// The Open dialog accepts only existing files; the Save dialog asks before
// a chosen file that exists is overwritten. Read-only choice is hidden.
// The current folder, which the dialog moves while the user browses, is
// the one from before the call whatever the result.
int SelectFileDialog(char* lpszFileName, HWND hWnd, int bSave, const char* lpszInitialDir, const char* lpszDefExt,
                     const char* lpszFilter, DWORD dwFilterIndex, char* lpszFullPath = NULL);

// Shows the folder browser, opened with lpszInitialDir selected, where
// only file-system folders can be chosen. Returns 1 with the chosen
// folder's path (no trailing backslash except at a drive's root) in
// lpszPath, which holds at least 260 bytes; 0 when the user cancelled,
// the shell's allocator is not available or the chosen folder's path has
// no code-page-932 form, lpszPath then untouched.
// lpszInitialDir null or empty leaves the browser on its own start (the
// top of the namespace).
int BrowseFolderDialog(char* lpszPath, HWND hWnd, const char* lpszInitialDir);

// The browser's callback: on BFFM_INITIALIZED it selects the folder named
// by lpData (a path; null or empty selects nothing). Always returns 0.
int CALLBACK BrowseFolderCallback(HWND hWnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

// The free and the total bytes of the volume holding lpszRootPath (a
// volume's root such as "C:\"; the 64-bit query also takes any folder on
// it). The free result is the volume's free space as a whole, not what a
// per-user quota leaves to the caller. pqwTotal may be null.
//
// Uses the 64-bit query when the system has it; otherwise the
// cluster-based one, whose products are formed in 32 bits (modulo 2^32,
// high word 0), as systems without the 64-bit query had no larger
// volumes. Returns 1 on success; 0 on failure, with the results set to 0.
int GetDiskFreeBytes(const char* lpszRootPath, QWORD* pqwFree, QWORD* pqwTotal);

#endif
