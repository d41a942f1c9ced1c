// Property: CZlib::Compress into compressBound bytes writes a zlib stream (first byte 0x78) that Decompress turns back into the input exactly.
#include "codec/czlib.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

static CZlib g_clZlib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DWORD n = (DWORD)nSize;
    DWORD dwBound = (DWORD)compressBound(n);
    BYTE* pStream = new BYTE[dwBound];
    DWORD dwPacked = g_clZlib.Compress(pStream, dwBound, pData, n);
    if (dwPacked > dwBound || dwPacked < 2 || pStream[0] != 0x78)
        abort();

    BYTE* pOut = new BYTE[n];
    if (g_clZlib.Decompress(pOut, n, pStream, dwPacked) != n)
        abort();
    if (n && memcmp(pOut, pData, n) != 0)
        abort();

    delete[] pOut;
    delete[] pStream;
    return 0;
}
