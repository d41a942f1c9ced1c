#ifndef _WIN32

#include "platform/volume.h"

#include "platform/host.h"

#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>

int PlatGetFileId(const char* lpszPath, PlatFileId* pId)
{
    std::string host;
    struct stat st;
    if (!PlatHostPath(lpszPath, &host) || stat(host.c_str(), &st) != 0)
        return 0;
    pId->qwVolume = (QWORD)st.st_dev;
    pId->qwFile = (QWORD)st.st_ino;
    pId->dwLinks = (DWORD)st.st_nlink;
    return 1;
}

int PlatGetDiskSpace(const char* lpszFolder, QWORD* pqwFree, DWORD* pdwClusterBytes)
{
    std::string host;
    struct statvfs st;
    if (!PlatHostPath(lpszFolder, &host) || statvfs(host.c_str(), &st) != 0)
        return 0;
    *pqwFree = (QWORD)st.f_bavail * st.f_frsize;
    *pdwClusterBytes = (DWORD)st.f_frsize;
    return 1;
}

#endif
