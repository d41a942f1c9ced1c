// Property: CDelta::Apply on any bytes as a delta neither crashes nor
// reads or writes out of bounds, and what it accepts came out at the size
// the header names. The base is as long as the header asks (up to 64 KB),
// so damaged bodies get past the size check.
#include "delta_stream.h"

#include <stdint.h>
#include <stdlib.h>

static CDelta g_clDelta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DeltaHeader header = {0, 0};
    CDelta::ReadHeader(pData, nSize, &header);
    std::vector<BYTE> base((size_t)(header.qwBaseSize <= 65536 ? header.qwBaseSize : nSize % 64));
    for (size_t i = 0; i < base.size(); i++)
        base[i] = (BYTE)(i * 7 + (i >> 8));
    DeltaSource source = {pData, nSize, 0, nSize % 300 + 1};
    std::vector<BYTE> out;
    if (g_clDelta.Apply(base.data(), base.size(), ReadDeltaPiece, &source, CollectResult, &out) &&
        out.size() != header.qwResultSize)
        abort();
    return 0;
}
