#ifdef _WIN32

#include "platform/process.h"

#include <windows.h>

#include <string>

int PlatEnterProgramFolder(void)
{
    std::wstring path(32768, L'\0');
    DWORD dwLen = GetModuleFileNameW(NULL, &path[0], (DWORD)path.size());
    size_t nSep = dwLen > 0 && dwLen < path.size() ? path.rfind(L'\\', dwLen) : std::wstring::npos;
    if (nSep == std::wstring::npos)
        return 0;
    path.resize(nSep + 1);
    return SetCurrentDirectoryW(path.c_str()) != 0;
}

int PlatTakeProcessLock(const char* lpszName, DWORD* pdwOwner)
{
    *pdwOwner = 0;
    // Per session: the same user's programs meet there.
    std::string name = std::string("Local\\") + lpszName, owner = name + "-owner";
    HANDLE hLock = CreateMutexA(NULL, FALSE, name.c_str());
    if (!hLock)
        return PLAT_LOCK_NONE;
    DWORD dwWait = WaitForSingleObject(hLock, 0);
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
        // The holder's process id lies beside the lock for the next one to
        // find. Both handles stay open until the process ends.
        HANDLE hOwner = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(DWORD), owner.c_str());
        DWORD* pdwId = hOwner ? (DWORD*)MapViewOfFile(hOwner, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)) : NULL;
        if (pdwId)
            *pdwId = GetCurrentProcessId();
        return PLAT_LOCK_HELD;
    }
    CloseHandle(hLock);
    HANDLE hOwner = OpenFileMappingA(FILE_MAP_READ, FALSE, owner.c_str());
    DWORD* pdwId = hOwner ? (DWORD*)MapViewOfFile(hOwner, FILE_MAP_READ, 0, 0, sizeof(DWORD)) : NULL;
    if (pdwId) {
        *pdwOwner = *pdwId;
        UnmapViewOfFile(pdwId);
    }
    if (hOwner)
        CloseHandle(hOwner);
    return PLAT_LOCK_ELSEWHERE;
}

#endif
