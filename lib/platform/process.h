// What a program asks of the system about itself: where it was started
// from, and a lock that keeps a second copy of it from working on the
// same thing.
#ifndef PLATFORM_PROCESS_H
#define PLATFORM_PROCESS_H

#include "platform/wintypes.h"

// Makes the folder that holds the running program the current folder,
// also when its name has no code-page-932 form (a download folder named by
// a player on another system): files beside the program are then reached
// by relative names. Returns 0 when it cannot.
int PlatEnterProgramFolder(void);

enum { PLAT_LOCK_NONE = -1, PLAT_LOCK_ELSEWHERE = 0, PLAT_LOCK_HELD = 1 };

// Takes the lock of that name (letters, digits and '-') for the rest of
// this process's life: the system releases it when the process ends, also
// when it is killed, and the next taker gets it. Returns PLAT_LOCK_HELD;
// PLAT_LOCK_ELSEWHERE when another process holds it, *pdwOwner then its
// process id (0 when unknown); PLAT_LOCK_NONE when no lock can be made.
int PlatTakeProcessLock(const char* lpszName, DWORD* pdwOwner);

#endif
