#include "platform/error.h"

#ifdef _WIN32
#include <windows.h>
// Not in every SDK's headers.
#ifndef ERROR_DISK_QUOTA_EXCEEDED
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif
#else
#include <errno.h>
#endif

int PlatGetLastError(void)
{
#ifdef _WIN32
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return PLAT_ERROR_NOT_FOUND;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
        return PLAT_ERROR_ACCESS;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
        return PLAT_ERROR_IN_USE;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_QUOTA_EXCEEDED:
        return PLAT_ERROR_DISK_FULL;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return PLAT_ERROR_EXISTS;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return PLAT_ERROR_TOO_LONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return PLAT_ERROR_NO_MEMORY;
    }
#else
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return PLAT_ERROR_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return PLAT_ERROR_ACCESS;
    case ETXTBSY:
        return PLAT_ERROR_IN_USE;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return PLAT_ERROR_DISK_FULL;
    case EEXIST:
        return PLAT_ERROR_EXISTS;
    case ENAMETOOLONG:
        return PLAT_ERROR_TOO_LONG;
    case ENOMEM:
        return PLAT_ERROR_NO_MEMORY;
    }
#endif
    return PLAT_ERROR_OTHER;
}

const char* PlatErrorText(int nError)
{
    static const char* const s_apszText[] = {
        "system error", "not found", "access denied", "in use by another program",
        "disk full", "already exists", "name too long", "out of memory",
    };
    return nError >= 0 && nError < (int)(sizeof(s_apszText) / sizeof(s_apszText[0])) ? s_apszText[nError]
                                                                                       : s_apszText[0];
}
