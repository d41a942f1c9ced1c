// Property: CHuffman::Compress stays within n + 320 bytes with the very stream of CHuffmanReference, and Decompress gives back the input exactly; a smaller destination gets the first bytes of the same stream.
#include "codec/chuffman.h"
#include "codec/chuffman_reference.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// One object for every call, so that state left by one call would show in the next.
static CHuffman g_clHuffman;
static CHuffmanReference g_clReference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DWORD n = (DWORD)nSize;
    // One byte of room beyond the worst case, so that a longer stream shows.
    DWORD dwBound = n + 320;
    BYTE* pStream = new BYTE[dwBound + 1];
    DWORD dwPacked = g_clHuffman.Compress(pStream, dwBound + 1, pData, n);
    if (dwPacked > dwBound)
        abort();
    BYTE* pReference = new BYTE[dwBound + 1];
    if (g_clReference.Compress(pReference, dwBound + 1, pData, n) != dwPacked)
        abort();
    if (dwPacked && memcmp(pReference, pStream, dwPacked) != 0)
        abort();
    delete[] pReference;

    BYTE* pOut = new BYTE[n];
    if (g_clHuffman.Decompress(pOut, n, pStream, dwPacked) != n)
        abort();
    if (n && memcmp(pOut, pData, n) != 0)
        abort();

    // A cut destination, its size chosen by the input's first byte.
    if (n) {
        DWORD dwCut = (DWORD)((uint64_t)dwPacked * pData[0] / 256);
        BYTE* pCut = new BYTE[dwCut];
        if (g_clHuffman.Compress(pCut, dwCut, pData, n) != dwCut)
            abort();
        if (dwCut && memcmp(pCut, pStream, dwCut) != 0)
            abort();
        delete[] pCut;
    }

    delete[] pOut;
    delete[] pStream;
    return 0;
}
