#include "codec/czlib.h"

#include <zlib.h>

CZlib::CZlib()
{
}

CZlib::~CZlib()
{
}

// Failures return the capacity whatever zlib left in the length slot:
// newer zlib versions store the partial output size there on failure,
// older ones left the slot untouched.
DWORD CZlib::Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    uLongf dwDestSize2 = dwDestSize;
    if (compress((Bytef*)lpDestBuf, &dwDestSize2, (const Bytef*)lpSrcBuf, dwSrcSize) != Z_OK)
        return dwDestSize;
    return (DWORD)dwDestSize2;
}

DWORD CZlib::Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    uLongf dwDestSize2 = dwDestSize;
    if (uncompress((Bytef*)lpDestBuf, &dwDestSize2, (const Bytef*)lpSrcBuf, dwSrcSize) != Z_OK)
        return dwDestSize;
    return (DWORD)dwDestSize2;
}

DWORD CZlib::DecompressChecked(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    uLongf dwDestSize2 = dwDestSize;
    if (uncompress((Bytef*)lpDestBuf, &dwDestSize2, (const Bytef*)lpSrcBuf, dwSrcSize) != Z_OK)
        return 0;
    return (DWORD)dwDestSize2;
}
