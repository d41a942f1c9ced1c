// Shared body of the differential decoder targets: the fast decoder and its
// reference decode the same bytes into destinations that start alike.
#ifndef FUZZ_DECODER_DIFFERENTIAL_H
#define FUZZ_DECODER_DIFFERENTIAL_H

#include "platform/wintypes.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// The first two bytes choose the destination size (up to 16 KB), the rest
// is the stream. Aborts unless both give the same result and leave every
// byte of their destinations, and of a guard area after them, the same.
template <class Fast, class Reference>
void DecodeBothAndCompare(Fast& clFast, Reference& clReference, const uint8_t* pData, size_t nSize)
{
    if (nSize < 2)
        return;
    DWORD dwDestSize = (pData[0] | pData[1] << 8) & 0x3FFF;
    const BYTE* pStream = pData + 2;
    DWORD dwStreamSize = (DWORD)(nSize - 2);
    const DWORD dwGuard = 32;

    BYTE* pFast = new BYTE[dwDestSize + dwGuard];
    BYTE* pReference = new BYTE[dwDestSize + dwGuard];
    memset(pFast, 0xA5, dwDestSize + dwGuard);
    memset(pReference, 0xA5, dwDestSize + dwGuard);
    DWORD dwFast = clFast.Decompress(pFast, dwDestSize, pStream, dwStreamSize);
    DWORD dwReference = clReference.Decompress(pReference, dwDestSize, pStream, dwStreamSize);
    if (dwFast != dwReference || memcmp(pFast, pReference, dwDestSize + dwGuard) != 0)
        abort();
    delete[] pReference;
    delete[] pFast;
}

#endif
