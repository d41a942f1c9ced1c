// Helpers shared by the pack archive's reader, writer and extraction; not
// part of the catalogue's interface.
#ifndef PACK_PACK_UTIL_H
#define PACK_PACK_UTIL_H

#include "platform/wintypes.h"

// path + a separator (unless it is empty or ends in one) + name, if it
// fits in MAX_PATH.
bool JoinPath(char* lpszDst, const char* lpszFolder, const char* lpszName);

// A name beside the target that no file has yet, for a file that is moved
// over the target once complete.
bool MakeTempName(char* lpszTemp, const char* lpszTarget);

#endif
