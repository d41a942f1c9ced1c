// Property: CHuffman::Compress stays within n + 320 bytes with the very stream of CHuffmanReference, and Decompress gives back the input exactly; a smaller destination gets the first bytes of the same stream.
#include "codec/chuffman.h"
#include "codec/chuffman_reference.h"
#include "round_trip.h"

// One object for every call, so that state left by one call would show in the next.
static CHuffman g_clHuffman;
static CHuffmanReference g_clReference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CheckRoundTrip(&g_clHuffman, &g_clReference, (DWORD)nSize + 320, pData, nSize);
    return 0;
}
