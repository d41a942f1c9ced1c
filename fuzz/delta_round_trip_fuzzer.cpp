// Property: the input's first two bytes choose where the rest splits into
// a base and a new file; CDelta::Make then Apply (the delta read in pieces
// of a size the third byte chooses) gives the new file back exactly.
#include "delta_stream.h"

#include <stdint.h>
#include <stdlib.h>

static CDelta g_clDelta;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 3)
        return 0;
    size_t nRest = nSize - 3;
    size_t nBase = ((size_t)pData[0] << 8 | pData[1]) % (nRest + 1);
    const BYTE* pBase = pData + 3;
    const BYTE* pNew = pBase + nBase;
    size_t nNew = nRest - nBase;

    std::vector<BYTE> delta;
    if (!g_clDelta.Make(pBase, nBase, pNew, nNew, &delta))
        abort();
    DeltaHeader header;
    if (!CDelta::ReadHeader(delta.data(), delta.size(), &header) || header.qwBaseSize != nBase ||
        header.qwResultSize != nNew)
        abort();
    DeltaSource source = {delta.data(), delta.size(), 0, (size_t)pData[2] + 1};
    std::vector<BYTE> out;
    if (!g_clDelta.Apply(pBase, nBase, ReadDeltaPiece, &source, CollectResult, &out))
        abort();
    if (out.size() != nNew || (nNew && memcmp(out.data(), pNew, nNew) != 0))
        abort();
    return 0;
}
