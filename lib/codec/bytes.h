// Little-endian numbers and base-128 varints, as the delta formats store
// them. Internal to the library: not an installed header.
#ifndef CODEC_BYTES_H
#define CODEC_BYTES_H

#include "platform/wintypes.h"

#include <stdint.h>
#include <vector>

inline void PutLE(BYTE* p, uint64_t qwValue, int nBytes)
{
    for (int i = 0; i < nBytes; i++)
        p[i] = (BYTE)(qwValue >> (8 * i));
}

inline uint64_t GetLE(const BYTE* p, int nBytes)
{
    uint64_t qwValue = 0;
    for (int i = 0; i < nBytes; i++)
        qwValue |= (uint64_t)p[i] << (8 * i);
    return qwValue;
}

inline void PutVarint(std::vector<BYTE>* pOut, uint64_t qwValue)
{
    while (qwValue >= 0x80) {
        pOut->push_back((BYTE)(qwValue | 0x80));
        qwValue >>= 7;
    }
    pOut->push_back((BYTE)qwValue);
}

// Reads a varint from [*pp, pEnd); 0 when it runs past the end or past 64
// bits.
inline int GetVarint(const BYTE** pp, const BYTE* pEnd, uint64_t* pqwValue)
{
    uint64_t qwValue = 0;
    for (int nShift = 0; nShift < 64; nShift += 7) {
        if (*pp == pEnd)
            return 0;
        BYTE b = *(*pp)++;
        if (nShift == 63 && b > 1)
            return 0;
        qwValue |= (uint64_t)(b & 0x7F) << nShift;
        if (!(b & 0x80)) {
            *pqwValue = qwValue;
            return 1;
        }
    }
    return 0;
}

#endif
