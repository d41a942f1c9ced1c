// Property: ParseUpdateSums of any bytes either refuses them or accepts
// exactly a file SerializeUpdateSums writes again byte for byte; the
// loader and the parser agree.
#include "updatesum.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<SumEntry> entries;
    std::string reason;
    DWORD dwVersion = 0;
    if (!ParseUpdateSums(pData, nSize, &entries, &reason, &dwVersion)) {
        // Every refusal says why.
        if (reason.empty())
            abort();
        return 0;
    }
    std::vector<BYTE> again = SerializeUpdateSums(entries, dwVersion);
    if (again.size() != nSize || memcmp(again.data(), pData, nSize) != 0)
        abort();
    return 0;
}
