// The seam on Win32: each function is the Win32 call of the same name,
// with the result turned into the library's 1/0.
#ifdef _WIN32

#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <mbctype.h>
#include <mbstring.h>
#include <stdio.h>
#include <string.h>

#include <mutex>

HANDLE PlatOpenFile(const char* lpszName, int bWrite)
{
    HANDLE hFile;
    if (bWrite)
        hFile = CreateFileA(lpszName, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    else
        hFile = CreateFileA(lpszName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    return hFile == INVALID_HANDLE_VALUE ? NULL : hFile;
}

// Temporary files to remove on an interrupt. The console handler runs on
// a thread of its own: each slot is claimed and released atomically, its
// name written while it is claimed but not yet live.
static const int TEMP_SLOTS = 64;
static volatile LONG g_anTempState[TEMP_SLOTS]; // 0 free, 1 being written, 2 live
static char g_aszTempNames[TEMP_SLOTS][MAX_PATH];
// Threads register and forget at once (a threaded extraction): the lock
// keeps one from reading a name another is rewriting. The console handler
// takes no lock; it reads only live slots.
static std::mutex g_tempLock;

static BOOL WINAPI OnConsoleEvent(DWORD dwEvent)
{
    (void)dwEvent;
    // Opened with FILE_SHARE_DELETE, so an open file can go too: it is
    // removed when the process ends and closes it. A file being created
    // right now is waited for (briefly: CreateFile returns at once).
    for (int i = 0; i < TEMP_SLOTS; i++) {
        for (int nWait = 0; nWait < 200 && InterlockedCompareExchange(&g_anTempState[i], 1, 1) == 1; nWait++)
            Sleep(1);
        if (InterlockedCompareExchange(&g_anTempState[i], 2, 2) == 2)
            DeleteFileA(g_aszTempNames[i]);
    }
    return FALSE; // the default handler then ends the process
}

HANDLE PlatCreateNewFile(const char* lpszName, int bTemporary)
{
    // The slot is claimed first, so a console event during the creation
    // waits for it; it goes live only once the file is there.
    int nSlot = -1;
    std::unique_lock<std::mutex> lock(g_tempLock);
    for (int i = 0; bTemporary && strlen(lpszName) < MAX_PATH && nSlot < 0 && i < TEMP_SLOTS; i++) {
        if (InterlockedCompareExchange(&g_anTempState[i], 1, 0) == 0) {
            strcpy(g_aszTempNames[i], lpszName);
            nSlot = i;
        }
    }
    lock.unlock();
    // CREATE_NEW fails for any existing name, a symbolic link included.
    HANDLE hFile = CreateFileA(lpszName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (nSlot >= 0)
        InterlockedExchange(&g_anTempState[nSlot], hFile == INVALID_HANDLE_VALUE ? 0 : 2);
    return hFile == INVALID_HANDLE_VALUE ? NULL : hFile;
}

void PlatForgetTempFile(const char* lpszName)
{
    std::lock_guard<std::mutex> lock(g_tempLock);
    for (int i = 0; i < TEMP_SLOTS; i++) {
        if (g_anTempState[i] == 2 && strcmp(g_aszTempNames[i], lpszName) == 0) {
            InterlockedExchange(&g_anTempState[i], 0);
            return;
        }
    }
}

void PlatRemoveTempFilesOnInterrupt(void)
{
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int PlatIsLink(const char* lpszPath)
{
    DWORD dwAttributes = GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
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
    return DeleteFileA(lpszName) ? 1 : 0;
}

int PlatMoveFile(const char* lpszFrom, const char* lpszTo)
{
    // Windows refuses to replace a read-only file; some emulations of it
    // do not, so the rule is kept here.
    DWORD dwAttr = GetFileAttributesA(lpszTo);
    if (dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_READONLY))
        return 0;
    return MoveFileExA(lpszFrom, lpszTo, MOVEFILE_REPLACE_EXISTING) ? 1 : 0;
}

int PlatMoveFileDurably(const char* lpszFrom, const char* lpszTo)
{
    // Flushing through any handle writes out every cached byte of the file.
    HANDLE hFile = CreateFileA(lpszFrom, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    BOOL bFlushed = FlushFileBuffers(hFile);
    CloseHandle(hFile);
    if (!bFlushed)
        return 0;
    return MoveFileExA(lpszFrom, lpszTo, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 1 : 0;
}

int PlatCreateDirectory(const char* lpszPath)
{
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof(sa);
    sa.lpSecurityDescriptor = NULL;
    sa.bInheritHandle = FALSE;
    return CreateDirectoryA(lpszPath, &sa) ? 1 : 0;
}

int PlatRemoveDirectory(const char* lpszPath)
{
    return RemoveDirectoryA(lpszPath) ? 1 : 0;
}

DWORD PlatGetFileAttributes(const char* lpszPath)
{
    return GetFileAttributesA(lpszPath);
}

int PlatSetFileAttributes(const char* lpszPath, DWORD dwAttributes)
{
    return SetFileAttributesA(lpszPath, dwAttributes) ? 1 : 0;
}

static void CopyFindData(PlatFindData* pData, const WIN32_FIND_DATAA* pFound)
{
    pData->dwFileAttributes = pFound->dwFileAttributes;
    pData->nFileSizeLow = pFound->nFileSizeLow;
    pData->nFileSizeHigh = pFound->nFileSizeHigh;
    memcpy(pData->cFileName, pFound->cFileName, MAX_PATH);
}

HANDLE PlatFindFirst(const char* lpszPattern, PlatFindData* pData)
{
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(lpszPattern, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return NULL;
    CopyFindData(pData, &fd);
    return hFind;
}

int PlatFindNext(HANDLE hFind, PlatFindData* pData)
{
    WIN32_FIND_DATAA fd;
    if (!FindNextFileA(hFind, &fd))
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
    DWORD dwLen = GetFullPathNameA(lpszPath, dwBufSize, lpszBuf, ppFilePart);
    return dwLen < dwBufSize ? dwLen : 0;
}

DWORD PlatGetCurrentDirectory(DWORD dwBufSize, char* lpszBuf)
{
    DWORD dwLen = GetCurrentDirectoryA(dwBufSize, lpszBuf);
    return dwLen < dwBufSize ? dwLen : 0;
}

int PlatSetCurrentDirectory(const char* lpszPath)
{
    return SetCurrentDirectoryA(lpszPath) ? 1 : 0;
}

DWORD PlatGetModuleFileName(char* lpszBuf, DWORD dwBufSize)
{
    DWORD dwLen = GetModuleFileNameA(NULL, lpszBuf, dwBufSize);
    return dwLen < dwBufSize ? dwLen : 0;
}

HRSRC PlatFindResource(HMODULE hModule, const char* lpszName, const char* lpszType)
{
    return FindResourceA(hModule, lpszName, lpszType);
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

// The console and the command line already speak the ANSI code page.
static int CopyText(const char* lpszText, char* lpszBuf, DWORD dwBufSize)
{
    size_t nLen = strlen(lpszText);
    if (nLen + 1 > dwBufSize)
        return 0;
    memcpy(lpszBuf, lpszText, nLen + 1);
    return 1;
}

int PlatPathFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize)
{
    return CopyText(lpszNative, lpszBuf, dwBufSize);
}

int PlatTextToNative(const char* lpszText, char* lpszBuf, DWORD dwBufSize)
{
    return CopyText(lpszText, lpszBuf, dwBufSize);
}

int PlatIsTerminal(int nStream)
{
    return _isatty(nStream) ? 1 : 0;
}

void PlatSetStdoutBinary(void)
{
    _setmode(_fileno(stdout), _O_BINARY);
}

int PlatMbsByteType(const char* lpszStr, size_t nPos)
{
    return _mbsbtype((const unsigned char*)lpszStr, nPos);
}

int PlatIsLeadByte(unsigned char c)
{
    return _ismbblead(c) ? 1 : 0;
}

#endif
