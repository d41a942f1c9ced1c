// Property: CHuffman::Decompress of any bytes yields exactly the destination size, stays inside both buffers, and a larger destination only continues the same output.
#include "codec/chuffman.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// One object for every input, so that state left by one call would show in the next.
static CHuffman g_clHuffman;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2)
        return 0;
    // The first two bytes choose the destination size, up to 16 KB.
    DWORD dwDestSize = (pData[0] | pData[1] << 8) & 0x3FFF;
    const BYTE* pStream = pData + 2;
    DWORD dwStreamSize = (DWORD)(nSize - 2);

    // Exact sizes: AddressSanitizer sees any access past either buffer.
    BYTE* pOut = new BYTE[dwDestSize];
    if (g_clHuffman.Decompress(pOut, dwDestSize, pStream, dwStreamSize) != dwDestSize)
        abort();

    DWORD dwMoreSize = dwDestSize + 256;
    BYTE* pMore = new BYTE[dwMoreSize];
    if (g_clHuffman.Decompress(pMore, dwMoreSize, pStream, dwStreamSize) != dwMoreSize)
        abort();
    if (memcmp(pOut, pMore, dwDestSize) != 0)
        abort();

    delete[] pMore;
    delete[] pOut;
    return 0;
}
