// The update and uninstall information files and the update context.
//
// Both files are a fixed-size header followed by 268-byte file records,
// little-endian, with code-page-932 strings NUL-terminated inside their
// fields. Neither has a magic number or checksum, so everything a loader
// can check is that the sizes agree and that the strings are terminated
// and harmless; a file that fails is refused whole before anything is
// written.
//
// Updateinf.dat (beside update.exe, read only):
//   0    szTitle[128]     product title
//   128  szRegKey[128]    key under HKEY_CURRENT_USER
//   256  szRegValue[128]  string value there: the install folder
//   384  dwCount          records that follow the 396-byte header
//   388  dwReserved1, dwReserved2
// Uninstallinf.dat (in the install folder, read and rewritten whole):
//   0    abHead[128]      carried through untouched
//   128  dwCount, dwFileCount, dwTotalSize
//   140  abTail[4928]     carried through untouched
// File record: szPath[260] relative path (a trailing backslash marks a
// folder), dwFileSize, dwExtra (copied, never interpreted).
//
// Results follow the library's rule: 1 for success, 0 for failure.
#ifndef APP_UPDATEINFO_H
#define APP_UPDATEINFO_H

#include "platform/wintypes.h"

#include <string>
#include <unordered_map>

// The structures are the file layouts: read and written as blocks on the
// little-endian machines the program runs on.
#pragma pack(push, 1)
struct FileRecord {
    char szPath[MAX_PATH];
    DWORD dwFileSize;
    DWORD dwExtra;
};

struct UpdateHeader {
    char szTitle[128];
    char szRegKey[128];
    char szRegValue[128];
    DWORD dwCount;
    DWORD dwReserved1;
    DWORD dwReserved2;
};

struct UninstallHeader {
    BYTE abHead[128];
    DWORD dwCount;
    DWORD dwFileCount;
    DWORD dwTotalSize;
    BYTE abTail[4928];
};
#pragma pack(pop)

static_assert(sizeof(FileRecord) == 268, "file record layout");
static_assert(sizeof(UpdateHeader) == 396, "update header layout");
static_assert(sizeof(UninstallHeader) == 5068, "uninstall header layout");

// Longest title used in messages: the not-installed text has room for
// 60 bytes of it in its 128-byte buffer.
#define MAX_TITLE_LENGTH 60
// Longest install folder: "Uninstallinf.dat" must still fit behind it.
#define MAX_INSTALL_DIRECTORY_LENGTH 243
// A file is written as a temporary file beside its destination first; the
// OS's unique temporary names need this much room behind their folder.
#define TEMP_NAME_ROOM 14

// Both files in memory, shared by the run, the copy pass and the dialogs.
struct UpdateContext {
    UpdateHeader update;
    FileRecord* pUpdateRecords;
    UninstallHeader uninstall;
    // Room for the old uninstall records plus every update record.
    FileRecord* pUninstallRecords;
    DWORD dwUninstallCapacity;
    // Set by the progress dialog's Cancel, polled by the copy pass.
    int bCancel;
};

// Empties a context (no arrays, counts 0, bCancel 0).
void InitContext(UpdateContext* pContext);
// Frees both record arrays and sets their pointers to null.
void FreeContext(UpdateContext* pContext);

// Reads Updateinf.dat into the context's update header and records.
// Returns 0, with no array allocated, when the file cannot be opened, is
// shorter than its header and count claim, has an unterminated key or
// value name, or holds a record whose path IsSafeRecordPath refuses or
// IsUpdaterFileRecord names; *pReason (when not null) then says which
// check refused it, naming the record. A title longer than
// MAX_TITLE_LENGTH bytes is cut there, on a character boundary;
// *pnStoredTitle (when not null) gets the length the file stores.
int LoadUpdateInfo(UpdateContext* pContext, const char* lpszFileName, std::string* pReason = NULL,
                   size_t* pnStoredTitle = NULL);

// Reads Uninstallinf.dat into the context's uninstall header and records,
// with room behind them for every update record; LoadUpdateInfo must have
// succeeded first. Returns 0, with no array allocated, when the file
// cannot be opened, is shorter than its header and count claim, holds a
// path without a terminator, or the lists together are too large;
// *pReason (when not null) then says which.
int LoadUninstallInfo(UpdateContext* pContext, const char* lpszFileName, std::string* pReason = NULL);

// Rewrites Uninstallinf.dat from the context: the complete file is
// written under a temporary name beside it (UninstallTempName), flushed to
// the disk and then moved over the old one with a move that writes
// through, so that a power cut leaves the old list or the new one, never
// an empty one; its read-only, hidden and system attributes are kept.
// Returns 0 when any step fails; the old file is then left as it was
// (unless only the last sync failed) and the temporary file removed.
int WriteUninstallInfo(const UpdateContext* pContext, const char* lpszFileName);

// The temporary name of the list's rewrite in lpszTemp (MAX_PATH bytes):
// the extension replaced by "tmp", so it is no longer than the name
// itself. Returns 0 when there is no such distinct name.
int UninstallTempName(char* lpszTemp, const char* lpszFileName);

// Whether a record path can be used below the install folder and the
// source root: terminated within its field, not empty, relative (no
// leading separator, no drive or other colon), no control bytes, no
// component made only of dots and spaces ("..", "."), no empty component
// before the last, no incomplete double-byte character at the end, and
// not ending in a double-byte character whose second byte is a backslash
// (such a name would be taken for a folder). Slashes count as separators
// here because the OS treats them as such.
int IsSafeRecordPath(const char* szPath);

// Whether a record names one of the updater's own files: directly in the
// install folder Uninstallinf.dat or its temporary Uninstallinf.tmp, and
// in any folder a name IsUpdaterTempName takes for a copy's temporary
// file; as a file or a folder, in any letter case and with any trailing
// dots and spaces (which the OS drops). The rewrite of the list would
// overwrite such a file, and a later run would delete a temporary name.
// LoadUpdateInfo refuses them.
int IsUpdaterFileRecord(const char* szPath);

// Whether a file name (no folder) is one the copy pass gives its
// temporary copies: g_szTempPrefix, one to four hexadecimal digits and
// ".tmp", letters in any case, as the OS makes unique temporary names. A
// run that was killed leaves such files behind; the next run removes them.
int IsUpdaterTempName(const char* lpszName);

// Whether lpszRoot followed by szPath (and, for a file, a temporary name
// in the file's folder) stays below MAX_PATH bytes with its terminator.
int RecordFitsBehind(const char* lpszRoot, const char* szPath);

// A folder record: the last byte of its path is a backslash.
int IsFolderRecord(const FileRecord* pRecord);

// The key under which two record paths name the same entry, for the
// merge, the plan and the space count alike: the letters A to Z of
// single-byte characters taken as a to z (FoldNameCase) and a slash as a
// backslash, as the OS reads it (0x2F is never a second byte).
std::string RecordKey(const char* szPath);

// The first-listed uninstall record of each key, so that a merge finds
// its entry in constant time. Built over a loaded list; MergeRecord keeps
// it up to date.
typedef std::unordered_map<std::string, DWORD> UninstallIndex;
void BuildUninstallIndex(const UpdateContext* pContext, UninstallIndex* pIndex);

// The first uninstall record whose path has szPath's RecordKey; null when
// there is none. With an index, looked up there; without, the list is
// scanned.
FileRecord* FindUninstallRecord(UpdateContext* pContext, const char* szPath, const UninstallIndex* pIndex = NULL);

// Merges an installed update record into the uninstall list: a new entry
// is appended (a file also counts in dwFileCount and dwTotalSize), a
// listed folder is left alone, and a listed file takes the new size and
// extra value, dwTotalSize moving by the difference (modulo 2^32). The
// listed path keeps its letter case. Returns 0 only when the list has no
// room left, which cannot happen for records of the loaded update list.
int MergeRecord(UpdateContext* pContext, const FileRecord* pRecord, UninstallIndex* pIndex = NULL);

#endif
