// Helpers shared by the pack archive's reader, writer and extraction; not
// part of the catalogue's interface.
#ifndef PACK_PACK_UTIL_H
#define PACK_PACK_UTIL_H

#include "platform/wintypes.h"

// The format's limit, one rule for reader and writer: offsets and the
// directory's length are 32-bit, so a whole archive, its 4-byte trailer
// included, is at most 2^32 - 1 bytes long. True when qwLength fits.
bool ArchiveLengthFits(QWORD qwLength);

// path + a separator (unless it is empty or ends in one) + name, if it
// fits in MAX_PATH.
bool JoinPath(char* lpszDst, const char* lpszFolder, const char* lpszName);

#endif
