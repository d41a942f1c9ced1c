#ifndef _WIN32

#include "platform/volume.h"

#include "platform/host.h"
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
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
    pId->qwSize = S_ISDIR(st.st_mode) ? 0 : (QWORD)st.st_size;
    pId->dwAttributes = PlatHostAttributes(st);
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

int PlatProbeReplace(const char* lpszPath)
{
    std::string host;
    struct stat st;
    if (!PlatHostPath(lpszPath, &host) || lstat(host.c_str(), &st) != 0)
        return 0;
#ifdef FS_IOC_GETFLAGS
    // Permissions never stop root, and a read-only file is replaced with
    // its folder's permission; an immutable or append-only file stops
    // everyone. Opened without access, so a file of any mode will do.
    int fd = open(host.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        int nFlags = 0;
        int bLocked = ioctl(fd, FS_IOC_GETFLAGS, &nFlags) == 0 && (nFlags & (FS_IMMUTABLE_FL | FS_APPEND_FL));
        close(fd);
        if (bLocked) {
            errno = EPERM;
            return 0;
        }
    }
#endif
    return 1;
}

#endif
