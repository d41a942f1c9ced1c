#ifndef _WIN32

#include "platform/process.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

int PlatEnterProgramFolder(void)
{
    char szPath[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", szPath, sizeof(szPath) - 1);
    if (n <= 0)
        return 0;
    szPath[n] = 0;
    char* pSlash = strrchr(szPath, '/');
    if (!pSlash)
        return 0;
    pSlash[1] = 0;
    return chdir(szPath) == 0;
}

int PlatTakeProcessLock(const char* lpszName, DWORD* pdwOwner)
{
    *pdwOwner = 0;
    const char* lpszDir = getenv("TMPDIR");
    std::string path = std::string(lpszDir && *lpszDir ? lpszDir : "/tmp") + "/" + lpszName + ".lock";
    // Left open for the life of the process: closing it would release the
    // lock.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return PLAT_LOCK_NONE;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char buf[16] = "";
        ssize_t n = pread(fd, buf, sizeof(buf) - 1, 0);
        *pdwOwner = n > 0 ? (DWORD)strtoul(buf, NULL, 10) : 0;
        close(fd);
        return PLAT_LOCK_ELSEWHERE;
    }
    // Held also when the id cannot be left: the next taker only cannot
    // name the holder then.
    char buf[16];
    int n = snprintf(buf, sizeof(buf), "%lu", (unsigned long)getpid());
    if (ftruncate(fd, 0) == 0)
        (void)!pwrite(fd, buf, (size_t)n, 0);
    return PLAT_LOCK_HELD;
}

#endif
