// Why a call into the seam failed, for messages that must say more than
// "failed": read right after the failing call, on the same thread, before
// any other seam call.
#ifndef PLATFORM_ERROR_H
#define PLATFORM_ERROR_H

enum {
    PLAT_ERROR_OTHER = 0,
    PLAT_ERROR_NOT_FOUND,
    // Refused: permissions, a read-only or immutable file or folder, a
    // read-only volume.
    PLAT_ERROR_ACCESS,
    // Held by another program (Windows' sharing modes).
    PLAT_ERROR_IN_USE,
    PLAT_ERROR_DISK_FULL,
    PLAT_ERROR_EXISTS,
    PLAT_ERROR_TOO_LONG,
    PLAT_ERROR_NO_MEMORY,
};

// The reason the last failed call of this thread gave.
int PlatGetLastError(void);

// The reason as a short English phrase ("access denied").
const char* PlatErrorText(int nError);

#endif
