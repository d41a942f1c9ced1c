// Property: CZlib::Decompress and DecompressChecked of any bytes into any destination size stay inside both buffers and agree; a result below the capacity is the exact size of a valid stream.
#include "codec/czlib.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

static CZlib g_clZlib;

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
    DWORD dwSize = g_clZlib.Decompress(pOut, dwDestSize, pStream, dwStreamSize);
    if (dwSize > dwDestSize)
        abort();
    // Only success returns less than the capacity; the same stream then
    // decodes again into exactly that many bytes.
    if (dwSize < dwDestSize) {
        BYTE* pExact = new BYTE[dwSize];
        if (g_clZlib.Decompress(pExact, dwSize, pStream, dwStreamSize) != dwSize)
            abort();
        if (dwSize && memcmp(pOut, pExact, dwSize) != 0)
            abort();
        delete[] pExact;
    }

    // The checked form fails exactly where the plain one returns the
    // capacity (a full destination that decoded well aside).
    DWORD dwChecked = g_clZlib.DecompressChecked(pOut, dwDestSize, pStream, dwStreamSize);
    if (dwSize < dwDestSize && dwChecked != dwSize)
        abort();
    if (dwChecked != 0 && dwChecked != dwSize)
        abort();

    delete[] pOut;
    return 0;
}
