// Apart from the dialogs, so that a program using only the query does not
// import the dialog and shell DLLs.
#include "system/diskfree.h"
#include "system/shelldlg.h"

#include "platform/wide.h"

typedef BOOL(WINAPI* GetDiskFreeSpaceExAProc)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);

static void SetResults(QWORD* pqwFree, QWORD* pqwTotal, QWORD qwFree, QWORD qwTotal)
{
    *pqwFree = qwFree;
    if (pqwTotal)
        *pqwTotal = qwTotal;
}

int GetDiskFreeBytesVia(ProcLookup pfnLookup, const char* lpszRootPath, QWORD* pqwFree, QWORD* pqwTotal)
{
    SetResults(pqwFree, pqwTotal, 0, 0);
    // Looked up rather than imported: the first systems of this API
    // family lack the 64-bit query.
    HMODULE hKernel = LoadLibraryA("KERNEL32.DLL");
    if (!hKernel)
        return 0;

    int bOk;
    GetDiskFreeSpaceExAProc pfnEx = (GetDiskFreeSpaceExAProc)(void*)pfnLookup(hKernel, "GetDiskFreeSpaceExA");
    if (pfnEx) {
        ULARGE_INTEGER liFreeBytesAvailableToCaller, liTotalBytes, liFreeBytes;
        bOk = pfnEx(lpszRootPath, &liFreeBytesAvailableToCaller, &liTotalBytes, &liFreeBytes) != 0;
        if (bOk)
            SetResults(pqwFree, pqwTotal, liFreeBytes.QuadPart, liTotalBytes.QuadPart);
    } else {
        DWORD dwSectorsPerCluster, dwBytesPerSector, dwFreeClusters, dwClusters;
        bOk = GetDiskFreeSpaceA(lpszRootPath, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters,
                                &dwClusters) != 0;
        if (bOk) {
            DWORD dwClusterBytes = dwSectorsPerCluster * dwBytesPerSector;
            SetResults(pqwFree, pqwTotal, (DWORD)(dwClusterBytes * dwFreeClusters), (DWORD)(dwClusterBytes * dwClusters));
        }
    }
    FreeLibrary(hKernel);
    return bOk;
}

int GetDiskFreeBytes(const char* lpszRootPath, QWORD* pqwFree, QWORD* pqwTotal)
{
    return GetDiskFreeBytesVia(GetProcAddress, lpszRootPath, pqwFree, pqwTotal);
}
