#ifdef _WIN32

#include "platform/volume.h"

#include "platform/wide.h"

int PlatGetFileId(const char* lpszPath, PlatFileId* pId)
{
    // No access asked: the file may be held by another program, and a
    // folder opens only with backup semantics.
    HANDLE h = CreateFileW(PlatWide(lpszPath).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    BOOL bOk = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!bOk)
        return 0;
    pId->qwVolume = info.dwVolumeSerialNumber;
    pId->qwFile = ((QWORD)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    pId->dwLinks = info.nNumberOfLinks;
    pId->qwSize = ((QWORD)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    pId->dwAttributes = info.dwFileAttributes;
    return 1;
}

int PlatGetDiskSpace(const char* lpszFolder, QWORD* pqwFree, DWORD* pdwClusterBytes)
{
    std::wstring folder = PlatWide(lpszFolder);
    ULARGE_INTEGER liCaller, liTotal, liFree;
    // The cluster query takes only a volume's root.
    WCHAR wszRoot[MAX_PATH];
    DWORD dwSectorsPerCluster, dwBytesPerSector, dwFreeClusters, dwClusters;
    if (!GetDiskFreeSpaceExW(folder.c_str(), &liCaller, &liTotal, &liFree) ||
        !GetVolumePathNameW(folder.c_str(), wszRoot, MAX_PATH) ||
        !GetDiskFreeSpaceW(wszRoot, &dwSectorsPerCluster, &dwBytesPerSector, &dwFreeClusters, &dwClusters))
        return 0;
    *pqwFree = liCaller.QuadPart;
    *pdwClusterBytes = dwSectorsPerCluster * dwBytesPerSector;
    return 1;
}

int PlatProbeReplace(const char* lpszPath)
{
    // The access a move over the file needs, with its attributes cleared
    // first; no sharing, so that another program's open handle shows.
    HANDLE h = CreateFileW(PlatWide(lpszPath).c_str(), DELETE | FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

#endif
