// A delta handed to CDelta::Apply in pieces of a chosen size, and a sink
// that collects the result: shared by the delta targets.
#ifndef FUZZ_DELTA_STREAM_H
#define FUZZ_DELTA_STREAM_H

#include "codec/cdelta.h"

#include <string.h>
#include <vector>

struct DeltaSource {
    const BYTE* pData;
    size_t nSize;
    size_t nAt;
    size_t nPiece;
};

inline int ReadDeltaPiece(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
{
    DeltaSource* p = (DeltaSource*)pParam;
    size_t n = nSize < p->nPiece ? nSize : p->nPiece;
    if (n > p->nSize - p->nAt)
        n = p->nSize - p->nAt;
    if (n)
        memcpy(pBuf, p->pData + p->nAt, n);
    p->nAt += n;
    *pnRead = n;
    return 1;
}

inline int CollectResult(void* pParam, const void* pBuf, size_t nSize)
{
    std::vector<BYTE>* pOut = (std::vector<BYTE>*)pParam;
    pOut->insert(pOut->end(), (const BYTE*)pBuf, (const BYTE*)pBuf + nSize);
    return 1;
}

#endif
