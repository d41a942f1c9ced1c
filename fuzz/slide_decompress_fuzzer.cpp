// Property: CSlide::Decompress of any bytes into any destination size stays inside both buffers, and a larger destination only keeps more of the same output.
#include "codec/cslide.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// One object for every input, so that state left by one call would show in the next.
static CSlide g_clSlide;

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
    DWORD dwSize = g_clSlide.Decompress(pOut, dwDestSize, pStream, dwStreamSize);
    if (dwSize > dwDestSize)
        abort();

    // A stream yields at most 18 bytes per input byte.
    DWORD dwMoreSize = dwStreamSize * 18;
    BYTE* pMore = new BYTE[dwMoreSize];
    DWORD dwMore = g_clSlide.Decompress(pMore, dwMoreSize, pStream, dwStreamSize);
    if (dwMore < dwSize || memcmp(pOut, pMore, dwSize) != 0)
        abort();
    if (dwMore > dwSize && dwSize != dwDestSize)
        abort();

    delete[] pMore;
    delete[] pOut;
    return 0;
}
