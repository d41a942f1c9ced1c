// Archive deltas on two archive files, for pack-delta-bench.sh to set
// beside other delta tools: each command prints the seconds its call took
// (the files' reading excluded).
//
// usage: pack_delta_bench make OLD NEW DELTA
//        pack_delta_bench apply OLD DELTA OUT
#include "file/cfile.h"
#include "pack/pack_delta.h"

#include "delta_io.h"

#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 5 || (strcmp(argv[1], "make") != 0 && strcmp(argv[1], "apply") != 0)) {
        std::cerr << "usage: pack_delta_bench make OLD NEW DELTA | apply OLD DELTA OUT\n";
        return 2;
    }
    std::vector<BYTE> a, b;
    if (!ReadWhole(argv[2], &a) || !ReadWhole(argv[3], &b)) {
        std::cerr << "cannot read the inputs\n";
        return 1;
    }
    auto start = std::chrono::steady_clock::now();
    if (strcmp(argv[1], "make") == 0) {
        std::vector<BYTE> delta;
        if (!PackDeltaMake(a.data(), a.size(), b.data(), b.size(), &delta)) {
            std::cerr << "not archives, or not rebuilt exactly\n";
            return 1;
        }
        double dSeconds = Seconds(start);
        std::ofstream(argv[4], std::ios::binary).write((const char*)delta.data(), delta.size());
        std::cout << dSeconds << "\n";
        return 0;
    }
    // The old archive is read through the library, as the updater does;
    // argv[2] was loaded above only to check it is there.
    CFile clOut;
    if (!clOut.Open(argv[4], 1)) {
        std::cerr << "cannot create " << argv[4] << "\n";
        return 1;
    }
    Source source = {&b, 0};
    int nOk = PackDeltaApply(argv[2], ReadPiece, &source, &clOut, NULL, NULL);
    double dSeconds = Seconds(start);
    clOut.Close();
    if (!nOk) {
        std::cerr << "apply failed\n";
        return 1;
    }
    std::cout << dSeconds << "\n";
    return 0;
}
