// POSIX only: a library path (code page 932, backslashes, drive Z:) as the
// kernel's name (UTF-8, slashes), for the seam's files beside
// platform_posix.cpp.
#ifndef PLATFORM_HOST_H
#define PLATFORM_HOST_H

#include "platform/wintypes.h"

#include <sys/stat.h>

#include <string>

bool PlatHostPath(const char* lpszPath, std::string* pOut);

// The attributes PlatGetFileAttributes gives for what stat found.
DWORD PlatHostAttributes(const struct stat& st);

#endif
