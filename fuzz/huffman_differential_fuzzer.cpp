// Property: CHuffman::Decompress and CHuffmanReference::Decompress give the same result and the same destination bytes for any bytes and any destination size.
#include "codec/chuffman.h"
#include "codec/chuffman_reference.h"
#include "decoder_differential.h"

// One object each for every input, so that state left by one call would show in the next.
static CHuffman g_clFast;
static CHuffmanReference g_clReference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DecodeBothAndCompare(g_clFast, g_clReference, pData, nSize);
    return 0;
}
