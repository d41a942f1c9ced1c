#include "file/directory.h"

#include "file/path.h"
#include "platform/platform.h"

#include <string.h>

int CreateDirectories(const char* lpszPath)
{
    char lpszBuf[MAX_PATH];
    // Longer paths are outside what any caller may pass; making none of
    // their levels is safer than making some of a cut path.
    if (strlen(lpszPath) >= MAX_PATH)
        return 1;
    int i = 0;
    for (; lpszPath[i]; i++) {
        if (IsSeparatorAt(lpszPath, i)) {
            lpszBuf[i] = 0;
            PlatCreateDirectory(lpszBuf);
        }
        lpszBuf[i] = lpszPath[i];
    }
    lpszBuf[i] = 0;
    PlatCreateDirectory(lpszBuf);
    return 1;
}

void RemoveEmptyDirectories(const char* lpszPath)
{
    char lpszBuf[MAX_PATH];
    size_t nLen = strlen(lpszPath);
    if (nLen >= MAX_PATH)
        return;
    memcpy(lpszBuf, lpszPath, nLen + 1);
    for (int n = (int)nLen - 1; n >= 1; n--) {
        if (lpszPath[n] == ':')
            break;
        if (IsSeparatorAt(lpszPath, n))
            PlatRemoveDirectory(lpszBuf); // holds the path up to this separator
        lpszBuf[n] = 0;
    }
}

int PathExists(const char* lpszPath)
{
    return PlatGetFileAttributes(lpszPath) != INVALID_FILE_ATTRIBUTES;
}
