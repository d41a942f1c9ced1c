// The delta codec on two files, for delta-bench.py to time beside other
// delta tools: each command prints the seconds its CDelta call took (the
// files' reading excluded), so the tools' process starts weigh alike.
//
// usage: delta_bench make BASE NEW DELTA
//        delta_bench apply BASE DELTA OUT
#include "codec/cdelta.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string.h>

namespace {

bool ReadWhole(const char* lpszPath, std::vector<BYTE>* pData)
{
    std::ifstream in(lpszPath, std::ios::binary);
    pData->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad() && in.is_open();
}

struct Source {
    const std::vector<BYTE>* pDelta;
    size_t nAt;
};

int ReadPiece(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
{
    Source* p = (Source*)pParam;
    size_t n = std::min(nSize, p->pDelta->size() - p->nAt);
    if (n)
        memcpy(pBuf, p->pDelta->data() + p->nAt, n);
    p->nAt += n;
    *pnRead = n;
    return 1;
}

int WritePiece(void* pParam, const void* pBuf, size_t nSize)
{
    std::ofstream* pOut = (std::ofstream*)pParam;
    return pOut->write((const char*)pBuf, (std::streamsize)nSize) ? 1 : 0;
}

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5 || (strcmp(argv[1], "make") != 0 && strcmp(argv[1], "apply") != 0)) {
        std::cerr << "usage: delta_bench make BASE NEW DELTA | apply BASE DELTA OUT\n";
        return 2;
    }
    std::vector<BYTE> base, input;
    if (!ReadWhole(argv[2], &base) || !ReadWhole(argv[3], &input)) {
        std::cerr << "cannot read the inputs\n";
        return 1;
    }
    CDelta clDelta;
    std::ofstream out(argv[4], std::ios::binary | std::ios::trunc);
    auto start = std::chrono::steady_clock::now();
    if (strcmp(argv[1], "make") == 0) {
        std::vector<BYTE> delta;
        if (!clDelta.Make(base.data(), base.size(), input.data(), input.size(), &delta)) {
            std::cerr << "make failed\n";
            return 1;
        }
        double dSeconds = Since(start);
        out.write((const char*)delta.data(), (std::streamsize)delta.size());
        std::cout << dSeconds << "\n";
    } else {
        Source source = {&input, 0};
        if (!clDelta.Apply(base.data(), base.size(), ReadPiece, &source, WritePiece, &out)) {
            std::cerr << "apply failed\n";
            return 1;
        }
        out.flush();
        std::cout << Since(start) << "\n";
    }
    return out ? 0 : 1;
}
