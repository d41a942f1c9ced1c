// What the two delta benchmark programs share: a whole file in memory, a
// delta pulled from memory, and seconds since a moment.
#ifndef BENCH_DELTA_IO_H
#define BENCH_DELTA_IO_H

#include "platform/wintypes.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string.h>
#include <vector>

inline bool ReadWhole(const char* lpszPath, std::vector<BYTE>* pData)
{
    std::ifstream in(lpszPath, std::ios::binary);
    pData->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

struct Source {
    const std::vector<BYTE>* pDelta;
    size_t nAt;
};

inline int ReadPiece(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
{
    Source* p = (Source*)pParam;
    *pnRead = std::min(nSize, p->pDelta->size() - p->nAt);
    if (*pnRead)
        memcpy(pBuf, p->pDelta->data() + p->nAt, *pnRead);
    p->nAt += *pnRead;
    return 1;
}

inline double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

#endif
