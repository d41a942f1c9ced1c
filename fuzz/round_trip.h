// The round-trip check shared by the targets of the library's own coders:
// Compress stays within dwBound bytes and writes the very stream of the
// reference coder, Decompress gives the input back exactly, and a smaller
// destination (its size chosen by the input's first byte) gets the first
// bytes of the same stream. Any failure aborts.
#ifndef FUZZ_ROUND_TRIP_H
#define FUZZ_ROUND_TRIP_H

#include "platform/wintypes.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

template <class Codec, class Reference>
void CheckRoundTrip(Codec* pCodec, Reference* pReference, DWORD dwBound, const uint8_t* pData, size_t nSize)
{
    DWORD n = (DWORD)nSize;
    // One byte of room beyond the worst case, so that a longer stream shows.
    BYTE* pStream = new BYTE[dwBound + 1];
    DWORD dwPacked = pCodec->Compress(pStream, dwBound + 1, pData, n);
    if (dwPacked > dwBound)
        abort();
    BYTE* pReferenceStream = new BYTE[dwBound + 1];
    if (pReference->Compress(pReferenceStream, dwBound + 1, pData, n) != dwPacked)
        abort();
    if (dwPacked && memcmp(pReferenceStream, pStream, dwPacked) != 0)
        abort();
    delete[] pReferenceStream;

    BYTE* pOut = new BYTE[n];
    if (pCodec->Decompress(pOut, n, pStream, dwPacked) != n)
        abort();
    if (n && memcmp(pOut, pData, n) != 0)
        abort();
    delete[] pOut;

    if (n) {
        DWORD dwCut = (DWORD)((uint64_t)dwPacked * pData[0] / 256);
        BYTE* pCut = new BYTE[dwCut];
        if (pCodec->Compress(pCut, dwCut, pData, n) != dwCut)
            abort();
        if (dwCut && memcmp(pCut, pStream, dwCut) != 0)
            abort();
        delete[] pCut;
    }
    delete[] pStream;
}

#endif
