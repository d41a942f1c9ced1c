// The seam on Win32: each function is the Win32 call of the same name in
// its "W" form, with the result turned into the library's 1/0. Names are
// converted between code page 932 and UTF-16 here, with the code page
// named, never through the "A" functions: those read the bytes in the
// system's own code page, which turns a Japanese name into other
// characters (or splits it at a second byte 0x5C) on any other system.
#ifdef _WIN32

#include "platform/platform.h"
#include "platform/tempfiles.h"
#include "platform/wide.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <string>

static const UINT CP_LIBRARY = 932;

std::wstring PlatWide(const char* lpszText)
{
    std::wstring wide;
    int nLen = MultiByteToWideChar(CP_LIBRARY, 0, lpszText, -1, NULL, 0);
    if (nLen > 1) {
        wide.resize(nLen);
        MultiByteToWideChar(CP_LIBRARY, 0, lpszText, -1, &wide[0], nLen);
        wide.resize(nLen - 1);
    }
    return wide;
}

bool PlatNarrow(const wchar_t* lpszWide, size_t nLen, std::string* pOut)
{
    pOut->clear();
    if (nLen == 0)
        return true;
    // No best fit: the shown form of José is "Jos?", never "Jose", a name
    // that would mean another file.
    int nBytes = WideCharToMultiByte(CP_LIBRARY, WC_NO_BEST_FIT_CHARS, lpszWide, (int)nLen, NULL, 0, NULL, NULL);
    if (nBytes <= 0)
        return false;
    pOut->resize(nBytes);
    WideCharToMultiByte(CP_LIBRARY, WC_NO_BEST_FIT_CHARS, lpszWide, (int)nLen, &(*pOut)[0], nBytes, NULL, NULL);
    // A character without a form came out as '?' (or, should the flag be
    // ignored, as a look-alike such as 0x8160 for U+301C, which reads back
    // as U+FF5E): only a text that reads back as itself is its own form.
    std::wstring back(nLen, L'\0');
    return MultiByteToWideChar(CP_LIBRARY, 0, pOut->data(), nBytes, &back[0], (int)nLen) == (int)nLen &&
           back.compare(0, nLen, lpszWide, nLen) == 0;
}

DWORD PlatNarrowTo(const wchar_t* lpszWide, char* lpszBuf, DWORD dwBufSize)
{
    std::string narrow;
    if (!PlatNarrow(lpszWide, wcslen(lpszWide), &narrow) || narrow.size() + 1 > dwBufSize)
        return 0;
    memcpy(lpszBuf, narrow.c_str(), narrow.size() + 1);
    return (DWORD)narrow.size();
}

HANDLE PlatOpenFile(const char* lpszName, int bWrite)
{
    HANDLE hFile;
    if (bWrite)
        hFile = CreateFileW(PlatWide(lpszName).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    else
        hFile = CreateFileW(PlatWide(lpszName).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    return hFile == INVALID_HANDLE_VALUE ? NULL : hFile;
}

static void DeleteWideName(const void* pName)
{
    DeleteFileW((const WCHAR*)pName);
}

static BOOL WINAPI OnConsoleEvent(DWORD dwEvent)
{
    (void)dwEvent;
    // The temporary files are open with FILE_SHARE_DELETE, so they go
    // while open: removed when the process ends and closes them.
    DeleteTempEntries(DeleteWideName);
    return FALSE; // the default handler then ends the process
}

// Keeps the reason of a failure while the cleanup after it makes calls of
// its own.
struct KeepLastError {
    DWORD dwError = GetLastError();
    ~KeepLastError() { SetLastError(dwError); }
};

// The one move of the seam. Windows refuses to replace a read-only file;
// some emulations of it do not, so the rule is kept here, once: unless
// the caller means to replace it, when the attribute is cleared for the
// move and given back should the move fail.
static BOOL MoveOver(const std::wstring& from, const std::wstring& to, bool bReadOnlyToo, DWORD dwMoveFlags)
{
    DWORD dwAttr = GetFileAttributesW(to.c_str());
    bool bReadOnly = dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY);
    if (bReadOnly && !bReadOnlyToo) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    DWORD dwCleared = dwAttr & ~(DWORD)FILE_ATTRIBUTE_READONLY;
    if (bReadOnly && !SetFileAttributesW(to.c_str(), dwCleared ? dwCleared : FILE_ATTRIBUTE_NORMAL))
        return FALSE;
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | dwMoveFlags))
        return TRUE;
    KeepLastError keep;
    if (bReadOnly)
        SetFileAttributesW(to.c_str(), dwAttr);
    return FALSE;
}

// Whether an existing name is a character device or a pipe (a console,
// NUL, a named pipe): something to write into, never to rename over. The
// open asks for no access, so it neither waits for nor disturbs a file
// another program holds.
static bool IsDeviceOrPipe(const std::wstring& name)
{
    HANDLE hFile = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    DWORD dwType = GetFileType(hFile);
    CloseHandle(hFile);
    return dwType == FILE_TYPE_CHAR || dwType == FILE_TYPE_PIPE;
}

int PlatBeginReplace(PlatReplace* p, const char* lpszTarget, const char* lpszTemp, DWORD dwFlags)
{
    memset(p, 0, sizeof(*p));
    if (strlen(lpszTarget) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    strcpy(p->szTarget, lpszTarget);
    p->dwFlags = dwFlags;
    std::wstring target = PlatWide(lpszTarget);
    DWORD dwAttr = GetFileAttributesW(target.c_str());
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    // Asked whatever the attributes say: a device may have none (Wine).
    if (IsDeviceOrPipe(target)) {
        HANDLE hFile = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (hFile == INVALID_HANDLE_VALUE)
            return 0;
        p->bDirect = 1;
        p->hFile = hFile;
        return 1;
    }
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY) &&
        !(dwFlags & PLAT_REPLACE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (strlen(lpszTemp) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    strcpy(p->szTemp, lpszTemp);
    std::wstring temp = PlatWide(lpszTemp);
    TempEntry* pEntry = ClaimTempEntry(temp.c_str(), (temp.size() + 1) * sizeof(WCHAR));
    if (!pEntry) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (!EnterTempCreation()) {
        ForgetTempEntry(pEntry);
        SetLastError(ERROR_OPERATION_ABORTED);
        return 0;
    }
    // CREATE_NEW fails for any existing name, a symbolic link included.
    // Shared for deletion, so an interrupt can remove it while open.
    HANDLE hFile = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    KeepLastError keep;
    LeaveTempCreation(pEntry, hFile != INVALID_HANDLE_VALUE);
    if (hFile == INVALID_HANDLE_VALUE)
        return keep.dwError == ERROR_FILE_EXISTS || keep.dwError == ERROR_ALREADY_EXISTS ? -1 : 0;
    p->hFile = hFile;
    p->pTempEntry = pEntry;
    return 1;
}

int PlatFlushFile(HANDLE hFile)
{
    return FlushFileBuffers(hFile) ? 1 : 0;
}

int PlatEndReplace(PlatReplace* p, int bCommit)
{
    HANDLE hFile = p->hFile;
    p->hFile = NULL;
    bool bOk = bCommit && hFile;
    if (p->bDirect) {
        // A device or a pipe keeps nothing to flush.
        if (hFile)
            CloseHandle(hFile);
        return bOk;
    }
    std::wstring target = PlatWide(p->szTarget), temp = PlatWide(p->szTemp);
    if (bOk && !(p->dwFlags & PLAT_REPLACE_NO_FLUSH))
        bOk = FlushFileBuffers(hFile) != 0;
    if (hFile) {
        KeepLastError keep;
        CloseHandle(hFile);
    }
    if (bOk) {
        DWORD dwAttr = GetFileAttributesW(target.c_str());
        DWORD dwKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (p->dwFlags & PLAT_REPLACE_KEEP_READONLY)
            dwKept |= FILE_ATTRIBUTE_READONLY;
        dwKept = dwAttr == INVALID_FILE_ATTRIBUTES ? 0 : dwAttr & dwKept;
        if (dwKept)
            bOk = SetFileAttributesW(temp.c_str(), dwKept) != 0;
    }
    bOk = bOk && MoveOver(temp, target, (p->dwFlags & PLAT_REPLACE_READONLY) != 0, MOVEFILE_WRITE_THROUGH);
    if (!bOk) {
        KeepLastError keep;
        // A file made read-only (by the attributes above) is deleted too.
        if (!DeleteFileW(temp.c_str()) && SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL))
            DeleteFileW(temp.c_str());
    }
    ForgetTempEntry((TempEntry*)p->pTempEntry);
    p->pTempEntry = NULL;
    return bOk;
}

void PlatRemoveTempFilesOnInterrupt(void)
{
    // Ctrl+C that the process was started with ignored never reaches a
    // handler.
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int PlatIsLink(const char* lpszPath)
{
    DWORD dwAttributes = GetFileAttributesW(PlatWide(lpszPath).c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int PlatIsFileInUse(const char* lpszName)
{
    // Read access only: a read-only file is no obstacle to its replacement.
    HANDLE hFile = CreateFileW(PlatWide(lpszName).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        return 0;
    }
    DWORD dwError = GetLastError();
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION ? 1 : -1;
}

void PlatCloseFile(HANDLE hFile)
{
    if (hFile)
        CloseHandle(hFile);
}

int PlatReadFile(HANDLE hFile, void* pBuffer, DWORD dwSize, DWORD* pdwDone)
{
    *pdwDone = 0;
    return ReadFile(hFile, pBuffer, dwSize, pdwDone, NULL) ? 1 : 0;
}

int PlatWriteFile(HANDLE hFile, const void* pBuffer, DWORD dwSize, DWORD* pdwDone)
{
    *pdwDone = 0;
    return WriteFile(hFile, pBuffer, dwSize, pdwDone, NULL) ? 1 : 0;
}

int PlatSetFilePos(HANDLE hFile, int64_t nDistance, int nMethod, QWORD* pqwPos)
{
    static const DWORD adwMethod[3] = { FILE_BEGIN, FILE_CURRENT, FILE_END };
    LARGE_INTEGER liDistance, liNew;
    liDistance.QuadPart = nDistance;
    if (!SetFilePointerEx(hFile, liDistance, &liNew, adwMethod[nMethod]))
        return 0;
    if (pqwPos)
        *pqwPos = (QWORD)liNew.QuadPart;
    return 1;
}

QWORD PlatGetFileSize(HANDLE hFile)
{
    DWORD dwHigh = 0;
    DWORD dwLow = GetFileSize(hFile, &dwHigh);
    if (dwLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return 0;
    return ((QWORD)dwHigh << 32) + dwLow;
}

int PlatGetWriteTime(HANDLE hFile, SYSTEMTIME* pTime)
{
    FILETIME ftWrite, ftLocal;
    if (!GetFileTime(hFile, NULL, NULL, &ftWrite))
        return 0;
    if (!FileTimeToLocalFileTime(&ftWrite, &ftLocal))
        return 0;
    return FileTimeToSystemTime(&ftLocal, pTime) ? 1 : 0;
}

int PlatDeleteFile(const char* lpszName)
{
    return DeleteFileW(PlatWide(lpszName).c_str()) ? 1 : 0;
}

int PlatMoveFile(const char* lpszFrom, const char* lpszTo)
{
    return MoveOver(PlatWide(lpszFrom), PlatWide(lpszTo), false, 0) ? 1 : 0;
}

int PlatCreateDirectory(const char* lpszPath)
{
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = NULL;
    sa.bInheritHandle = FALSE;
    return CreateDirectoryW(PlatWide(lpszPath).c_str(), &sa) ? 1 : 0;
}

int PlatRemoveDirectory(const char* lpszPath)
{
    return RemoveDirectoryW(PlatWide(lpszPath).c_str()) ? 1 : 0;
}

DWORD PlatGetFileAttributes(const char* lpszPath)
{
    return GetFileAttributesW(PlatWide(lpszPath).c_str());
}

int PlatSetFileAttributes(const char* lpszPath, DWORD dwAttributes)
{
    return SetFileAttributesW(PlatWide(lpszPath).c_str(), dwAttributes) ? 1 : 0;
}

static void CopyFindData(PlatFindData* pData, const WIN32_FIND_DATAW* pFound)
{
    pData->dwFileAttributes = pFound->dwFileAttributes;
    pData->nFileSizeLow = pFound->nFileSizeLow;
    pData->nFileSizeHigh = pFound->nFileSizeHigh;
    std::string name;
    bool bExact = PlatNarrow(pFound->cFileName, wcslen(pFound->cFileName), &name);
    pData->bNoCp932Name = !bExact || name.size() >= MAX_PATH;
    // Cut at a character's end, so the shown form stays whole characters.
    size_t nLen = name.size();
    if (nLen >= MAX_PATH) {
        nLen = 0;
        for (size_t n; nLen < name.size(); nLen += n) {
            n = PlatIsLeadByte((unsigned char)name[nLen]) ? 2 : 1;
            if (nLen + n >= MAX_PATH)
                break;
        }
    }
    memcpy(pData->cFileName, name.c_str(), nLen);
    pData->cFileName[nLen] = 0;
}

HANDLE PlatFindFirst(const char* lpszPattern, PlatFindData* pData)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(PlatWide(lpszPattern).c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return NULL;
    CopyFindData(pData, &fd);
    return hFind;
}

int PlatFindNext(HANDLE hFind, PlatFindData* pData)
{
    WIN32_FIND_DATAW fd;
    if (!FindNextFileW(hFind, &fd))
        return 0;
    CopyFindData(pData, &fd);
    return 1;
}

void PlatFindClose(HANDLE hFind)
{
    if (hFind)
        FindClose(hFind);
}

DWORD PlatGetFullPathName(const char* lpszPath, DWORD dwBufSize, char* lpszBuf, char** ppFilePart)
{
    std::wstring path = PlatWide(lpszPath);
    DWORD dwLen = GetFullPathNameW(path.c_str(), 0, NULL, NULL);
    if (dwLen == 0)
        return 0;
    std::wstring full(dwLen, L'\0');
    WCHAR* pFilePart = NULL;
    dwLen = GetFullPathNameW(path.c_str(), dwLen, &full[0], &pFilePart);
    if (dwLen == 0 || dwLen >= full.size())
        return 0;
    full.resize(dwLen);
    DWORD dwBytes = PlatNarrowTo(full.c_str(), lpszBuf, dwBufSize);
    if (dwBytes == 0)
        return 0;
    if (ppFilePart) {
        // Characters convert one by one, so the folder part's own length in
        // code page 932 is where the last component starts.
        std::string folder;
        *ppFilePart = NULL;
        if (pFilePart && *pFilePart) {
            PlatNarrow(full.c_str(), (size_t)(pFilePart - full.c_str()), &folder);
            *ppFilePart = lpszBuf + folder.size();
        }
    }
    return dwBytes;
}

DWORD PlatGetCurrentDirectory(DWORD dwBufSize, char* lpszBuf)
{
    DWORD dwLen = GetCurrentDirectoryW(0, NULL);
    if (dwLen == 0)
        return 0;
    std::wstring current(dwLen, L'\0');
    dwLen = GetCurrentDirectoryW(dwLen, &current[0]);
    if (dwLen == 0 || dwLen >= current.size())
        return 0;
    current.resize(dwLen);
    return PlatNarrowTo(current.c_str(), lpszBuf, dwBufSize);
}

int PlatSetCurrentDirectory(const char* lpszPath)
{
    return SetCurrentDirectoryW(PlatWide(lpszPath).c_str()) ? 1 : 0;
}

DWORD PlatGetModuleFileName(char* lpszBuf, DWORD dwBufSize)
{
    // The longest path Windows has, so no truncated name passes for whole.
    std::wstring module(32768, L'\0');
    DWORD dwLen = GetModuleFileNameW(NULL, &module[0], (DWORD)module.size());
    if (dwLen == 0 || dwLen >= module.size())
        return 0;
    module.resize(dwLen);
    return PlatNarrowTo(module.c_str(), lpszBuf, dwBufSize);
}

// A resource name or type: an integer identifier passes as it is.
static const WCHAR* ResourceId(const char* lpszId, std::wstring* pText)
{
    if (IS_INTRESOURCE(lpszId))
        return (const WCHAR*)lpszId;
    *pText = PlatWide(lpszId);
    return pText->c_str();
}

HRSRC PlatFindResource(HMODULE hModule, const char* lpszName, const char* lpszType)
{
    std::wstring name, type;
    return FindResourceW(hModule, ResourceId(lpszName, &name), ResourceId(lpszType, &type));
}
HGLOBAL PlatLoadResource(HMODULE hModule, HRSRC hRsrc)
{
    return LoadResource(hModule, hRsrc);
}

DWORD PlatSizeofResource(HMODULE hModule, HRSRC hRsrc)
{
    return SizeofResource(hModule, hRsrc);
}

void* PlatLockResource(HGLOBAL hResData)
{
    return LockResource(hResData);
}

void PlatFreeResource(HGLOBAL hResData)
{
    FreeResource(hResData);
}

// The command line and the console are UTF-8 to the tools on every side
// (their Windows start takes the wide command line in UTF-8).
int PlatTextFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize)
{
    int nLen = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpszNative, -1, NULL, 0);
    if (nLen <= 0)
        return 0;
    std::wstring wide(nLen, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, lpszNative, -1, &wide[0], nLen);
    std::string text;
    if (!PlatNarrow(wide.c_str(), (size_t)nLen - 1, &text) || text.size() + 1 > dwBufSize)
        return 0;
    memcpy(lpszBuf, text.c_str(), text.size() + 1);
    return 1;
}

// Windows paths are the text itself.
int PlatPathFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize)
{
    return PlatTextFromNative(lpszNative, lpszBuf, dwBufSize);
}

int PlatTextToNative(const char* lpszText, char* lpszBuf, DWORD dwBufSize)
{
    // Character by character, so that one unconvertible byte costs one '?'.
    std::string out;
    for (size_t i = 0; lpszText[i];) {
        size_t n = PlatIsLeadByte((unsigned char)lpszText[i]) && lpszText[i + 1] ? 2 : 1;
        WCHAR wc[2];
        int nWide = MultiByteToWideChar(CP_LIBRARY, MB_ERR_INVALID_CHARS, lpszText + i, (int)n, wc, 2);
        char utf8[8];
        int nUtf8 = nWide > 0 ? WideCharToMultiByte(CP_UTF8, 0, wc, nWide, utf8, sizeof(utf8), NULL, NULL) : 0;
        out.append(nUtf8 > 0 ? utf8 : "?", nUtf8 > 0 ? nUtf8 : 1);
        i += n;
    }
    if (out.size() + 1 > dwBufSize)
        return 0;
    memcpy(lpszBuf, out.c_str(), out.size() + 1);
    return 1;
}

int PlatIsTerminal(int nStream)
{
    return _isatty(nStream) ? 1 : 0;
}

void PlatSetStdoutBinary(void)
{
    _setmode(_fileno(stdout), _O_BINARY);
}

#endif
