// The operating-system seam. Every call the portable library makes into
// the OS goes through one of these functions; platform_win32.cpp maps them
// onto the Win32 calls of the same name, platform_posix.cpp onto POSIX.
// Nothing else in lib/ (apart from the Windows-only lib/system) knows
// which side it is built for.
//
// Names crossing the seam are code-page-932 strings with backslashes,
// whatever code page the system itself runs in: the Win32 side converts
// them to UTF-16 with code page 932 named explicitly and calls the "W"
// functions, so a name means the same file on every Windows. A name the
// OS holds that has no code-page-932 form is never handed out mangled:
// find data flag it, and a call that returns one path fails. Where the
// POSIX side differs:
//  - Names are converted to UTF-8 and backslashes become slashes, as Wine
//    does for a Windows program under a Japanese locale. The file system
//    appears as drive Z: ("Z:\usr" is /usr); a path starting with a
//    backslash is taken from the root. Other drive letters do not exist.
//  - Names are case-sensitive; Windows would ignore letter case.
//  - Sharing modes are not enforced: a file open for reading can still be
//    written by another handle.
//  - A file without its owner's write permission counts as read-only and
//    cannot be opened for writing, even by root, as on Windows.
//  - Attributes know only folder and read-only; hidden and system are
//    ignored when set and never reported.
//  - Find enumerates in name order, case ignored (NTFS order); Windows'
//    own order depends on the file system.
//  - There are no module resources: every resource lookup finds nothing.
//  - Write times come from the file's modification time, in local time.
//
// Results follow the library's rule: 1 is success, 0 failure, and no OS
// error code is passed on.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "platform/wintypes.h"

// --- Files --------------------------------------------------------------

// Opens an existing file for reading (bWrite 0; others may read too), or
// creates or truncates one for writing (bWrite non-zero). Returns the
// handle, or null when the file cannot be opened. On POSIX a FIFO or a
// device is never opened (it could block forever): null.
HANDLE PlatOpenFile(const char* lpszName, int bWrite);

// Replacing a file whole: the new content goes to a temporary file beside
// the target, created exclusively (never over an existing name, never
// through a link), and is moved over the target only once complete, so the
// target holds the old content or the new one, never a part. An
// interrupted program (see PlatRemoveTempFilesOnInterrupt) deletes the
// temporary files still open.
enum {
    // A read-only target is replaced (its read-only attribute cleared);
    // without it a read-only target is refused before anything is created.
    PLAT_REPLACE_READONLY = 1,
    // With READONLY: the new file keeps the target's read-only attribute.
    PLAT_REPLACE_KEEP_READONLY = 2,
    // The caller flushes the data itself (PlatFlushFile) before
    // PlatEndReplace, e.g. in batches.
    PLAT_REPLACE_NO_FLUSH = 4,
};

// A replacement in progress. Callers use hFile only.
struct PlatReplace {
    HANDLE hFile; // write the new content here
    char szTarget[MAX_PATH];
    char szTemp[MAX_PATH];
    DWORD dwFlags;
    int bDirect;       // the target is written itself (see below)
    void* pTempEntry;  // the interrupt's record of the temporary file
};

// Starts replacing lpszTarget. lpszTemp is the full path of the temporary
// file, named by the caller, in the target's folder. A target that exists
// and is not a regular file (a device, a FIFO; on Windows whatever the
// system calls a character device or a pipe) is never renamed over: the
// target itself is opened for writing, no temporary file is made, and
// nothing is renamed (so writing an output to a null device works). A
// symbolic link at the target is replaced, not written through, unless it
// leads to such a device. A folder at the target is refused.
// Returns 1; 0 on failure (PlatGetLastError then says why: no later call
// of the seam's own overwrites it); -1 when lpszTemp exists already (the
// caller tries another name).
int PlatBeginReplace(PlatReplace* p, const char* lpszTarget, const char* lpszTemp, DWORD dwFlags);

// Flushes a handle's data to the disk (FlushFileBuffers, fsync). Returns 0
// on failure.
int PlatFlushFile(HANDLE hFile);

// Ends a replacement. bCommit 0: the temporary file is closed and deleted
// (whatever its permissions), the target untouched. bCommit 1: the data is
// flushed (unless NO_FLUSH), the file closed, given the target's hidden
// and system attributes (and read-only with KEEP_READONLY) and moved over
// the target with a move that writes through (POSIX: rename, then fsync of
// the folder). Returns 1 when the target now holds the new content; on
// failure the temporary file is gone and PlatGetLastError says why; the
// target is left as it was, unless only the folder's flush failed. hFile
// null (closed already) ends it as a failure. Writing a target directly,
// both just close it; nothing is flushed.
int PlatEndReplace(PlatReplace* p, int bCommit);

// From now on Ctrl+C, a console close (Windows), SIGINT, SIGTERM, SIGHUP
// and SIGPIPE (POSIX) delete the temporary files of replacements still in
// progress, on every thread, before the process ends as it would have. A
// signal the process was started with ignored stays ignored (nohup, an
// ignored SIGPIPE that makes a closed pipe a write error). For programs: a
// library installs no handler by itself.
void PlatRemoveTempFilesOnInterrupt(void);

// Whether the name itself is a symbolic link (a reparse point on Windows),
// whatever it points to, and whether that exists.
int PlatIsLink(const char* lpszPath);

// Whether an existing file is held open by another program so that it
// could not be replaced now: it is opened with no sharing at all and
// closed again. Returns 1 when another handle's sharing refuses that, 0
// when the open succeeds, -1 when it fails for another reason (missing,
// no access). Systems without sharing modes always answer 0 for a file
// that exists.
int PlatIsFileInUse(const char* lpszName);

// Closes a handle from PlatOpenFile. A null handle is ignored.
void PlatCloseFile(HANDLE hFile);

// Reads up to dwSize bytes at the handle's position and stores the count
// read (fewer at the end of the file, 0 past it) in *pdwDone. Returns 0
// on an I/O error, with *pdwDone 0 and the position unchanged.
int PlatReadFile(HANDLE hFile, void* pBuffer, DWORD dwSize, DWORD* pdwDone);

// Writes dwSize bytes at the handle's position and stores the count
// written in *pdwDone. Returns 0 on an I/O error (disk full included).
int PlatWriteFile(HANDLE hFile, const void* pBuffer, DWORD dwSize, DWORD* pdwDone);

enum { PLAT_SEEK_BEGIN = 0, PLAT_SEEK_CURRENT = 1, PLAT_SEEK_END = 2 };

// Moves the handle's position by a signed 64-bit distance from the start,
// the current position or the end. Stores the new absolute position in
// *pqwPos when it is not null. Returns 0, moving nothing, when the target
// would be negative or the handle is bad.
int PlatSetFilePos(HANDLE hFile, int64_t nDistance, int nMethod, QWORD* pqwPos);

// The file's current length in bytes; 0 on failure.
QWORD PlatGetFileSize(HANDLE hFile);

// The file's last-write time in local time. Returns 0 when it cannot be
// read or converted.
int PlatGetWriteTime(HANDLE hFile, SYSTEMTIME* pTime);

// Deletes a file. Returns 0 when it cannot.
int PlatDeleteFile(const char* lpszName);

// Renames a file, replacing an existing file of the new name unless that
// one is read-only (the name itself: a link to a read-only file is not).
// Returns 0 when it cannot.
int PlatMoveFile(const char* lpszFrom, const char* lpszTo);


// --- Folders and names --------------------------------------------------

// Creates one folder (its parent must exist). Returns 0 when it cannot,
// also when it exists already.
int PlatCreateDirectory(const char* lpszPath);

// Removes one empty folder. Returns 0 when it cannot.
int PlatRemoveDirectory(const char* lpszPath);

// The FILE_ATTRIBUTE_* bits of a file or folder; INVALID_FILE_ATTRIBUTES
// when it does not exist or cannot be inspected.
DWORD PlatGetFileAttributes(const char* lpszPath);

// Sets FILE_ATTRIBUTE_* bits. Returns 0 when the name does not exist.
int PlatSetFileAttributes(const char* lpszPath, DWORD dwAttributes);

struct PlatFindData {
    DWORD dwFileAttributes;
    DWORD nFileSizeLow;
    DWORD nFileSizeHigh;
    // 1 when the entry's name has no code-page-932 form (a character such
    // as an accented Latin letter or a hangul syllable, or a name longer
    // than MAX_PATH bytes in code page 932). cFileName then holds the name
    // with '?' for each such character, cut to fit: something to show,
    // never a name to open. Callers skip such entries or report them.
    int bNoCp932Name;
    char cFileName[MAX_PATH];
};

// Starts an enumeration. The pattern's last component may hold the
// wildcards * and ?; "*.*" matches every name. Without wildcards it names
// one file or folder, which matches itself; a pattern ending in a
// backslash matches nothing. Fills *pData with the first match and
// returns a find handle, or null when nothing matches.
HANDLE PlatFindFirst(const char* lpszPattern, PlatFindData* pData);

// Fills *pData with the next match. Returns 0 when there is none.
int PlatFindNext(HANDLE hFind, PlatFindData* pData);

// Ends an enumeration. A null handle is ignored.
void PlatFindClose(HANDLE hFind);

// The absolute form of lpszPath, with "." and ".." resolved, in a buffer
// of dwBufSize bytes; *ppFilePart (when not null) is set to its last
// component. Returns the length, or 0 on failure (result too long or
// without a code-page-932 form included).
DWORD PlatGetFullPathName(const char* lpszPath, DWORD dwBufSize, char* lpszBuf, char** ppFilePart);

// The current folder, without a trailing backslash except at a root.
// Returns its length, or 0 on failure (also when the path has no
// code-page-932 form).
DWORD PlatGetCurrentDirectory(DWORD dwBufSize, char* lpszBuf);

// Changes the current folder. Returns 0 when it cannot.
int PlatSetCurrentDirectory(const char* lpszPath);

// The full path of the running program. Returns its length, 0 on failure
// (also when the path has no code-page-932 form).
DWORD PlatGetModuleFileName(char* lpszBuf, DWORD dwBufSize);

// --- Resources of a module (null: the program itself) -------------------

HRSRC PlatFindResource(HMODULE hModule, const char* lpszName, const char* lpszType);
HGLOBAL PlatLoadResource(HMODULE hModule, HRSRC hRsrc);
DWORD PlatSizeofResource(HMODULE hModule, HRSRC hRsrc);
void* PlatLockResource(HGLOBAL hResData);
void PlatFreeResource(HGLOBAL hResData);

// --- Code page 932 ------------------------------------------------------

enum { PLAT_MBC_SINGLE = 0, PLAT_MBC_LEAD = 1, PLAT_MBC_TRAIL = 2, PLAT_MBC_ILLEGAL = -1 };

// The type of the byte at index nPos of lpszStr in code page 932, worked
// out from the start of the string as the runtime library's _mbsbtype
// does under that code page; the same on every system, whatever its own
// code page.
int PlatMbsByteType(const char* lpszStr, size_t nPos);

// Whether c is a lead byte of code page 932 (as _ismbblead says there): a
// scan that walks a string from its start knows the byte after it is the
// second byte of the character.
int PlatIsLeadByte(unsigned char c);

// --- Command-line programs ----------------------------------------------

// A path as the command line gives it (UTF-8 on every side, with slashes
// on POSIX) as a library path. Returns 0 when it has no code-page-932 form
// or does not fit.
int PlatPathFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize);

// Command-line text (UTF-8) as library text, unchanged otherwise (a slash
// stays a slash), by the same rule as PlatPathFromNative: only text that
// converts back to itself has a form (U+00A5, U+301C or U+2212 have none).
// Returns 0 when a character has none or the result does not fit.
int PlatTextFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize);

// Library text (code page 932) as the tools print it (UTF-8 on every
// side); bytes with no such form become '?'.
int PlatTextToNative(const char* lpszText, char* lpszBuf, DWORD dwBufSize);

// Whether a standard stream (0, 1 or 2) is a terminal.
int PlatIsTerminal(int nStream);

// Switches standard output to binary, so bytes pass unchanged.
void PlatSetStdoutBinary(void);

#endif
