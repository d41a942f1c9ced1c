// The message that says an update does not fit. The need itself is the
// engine's plan (engine/engine.h): the copy goes to a temporary file
// beside each destination, moved over it, so on each volume the use first
// grows by the new file and then shrinks by the one it replaces (unless
// that one has another hard link); Uninstallinf.dat's rewrite, at its
// largest, is the last step.
#ifndef APP_UPDATESPACE_H
#define APP_UPDATESPACE_H

#include "updateinfo.h"

// The message update.exe shows when an update does not fit, in lpszBuf of
// nSize bytes (256 hold any numbers): the need rounded up and the free
// space rounded down to whole megabytes of 2^20 bytes, with commas, so
// that a shortfall never reads as enough.
void FormatNoSpaceMessage(char* lpszBuf, size_t nSize, QWORD qwNeeded, QWORD qwFree);

#endif
