// Property: CSlide::Compress stays within n + ceil(n / 8) bytes with the very stream of CSlideReference, and Decompress gives back the input exactly; a smaller destination gets the first bytes of the same stream.
#include "codec/cslide.h"
#include "codec/cslide_reference.h"
#include "round_trip.h"

// One object for every call, so that state left by one call would show in the next.
static CSlide g_clSlide;
static CSlideReference g_clReference;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    DWORD n = (DWORD)nSize;
    CheckRoundTrip(&g_clSlide, &g_clReference, n + (n + 7) / 8, pData, nSize);
    return 0;
}
