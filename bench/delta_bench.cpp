// The delta codec on two files, for delta-bench.py to time beside other
// delta tools: each command prints the seconds its CDelta call took (the
// files' reading excluded), so the tools' process starts weigh alike.
//
// usage: delta_bench make BASE NEW DELTA
//        delta_bench apply BASE DELTA OUT
#include "codec/cdelta.h"

#include "delta_io.h"

#include <iostream>

namespace {

int WritePiece(void* pParam, const void* pBuf, size_t nSize)
{
    std::ofstream* pOut = (std::ofstream*)pParam;
    return pOut->write((const char*)pBuf, (std::streamsize)nSize) ? 1 : 0;
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
        double dSeconds = Seconds(start);
        out.write((const char*)delta.data(), (std::streamsize)delta.size());
        std::cout << dSeconds << "\n";
    } else {
        Source source = {&input, 0};
        if (!clDelta.Apply(base.data(), base.size(), ReadPiece, &source, WritePiece, &out)) {
            std::cerr << "apply failed\n";
            return 1;
        }
        out.flush();
        std::cout << Seconds(start) << "\n";
    }
    return out ? 0 : 1;
}
