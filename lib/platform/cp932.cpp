// The byte classes of code page 932, the same on every side: library
// strings are code page 932 whatever code page the system runs in, so the
// runtime's multibyte tables (set from the system's code page) must not
// decide where a character ends.
#include "platform/platform.h"

static bool IsTrailByte(unsigned char c)
{
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

int PlatIsLeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC) ? 1 : 0;
}

int PlatMbsByteType(const char* lpszStr, size_t nPos)
{
    const unsigned char* p = (const unsigned char*)lpszStr;
    int nType = PLAT_MBC_ILLEGAL;
    bool bAfterLead = false;
    for (size_t i = 0; i <= nPos; i++) {
        if (p[i] == 0)
            return PLAT_MBC_ILLEGAL;
        if (bAfterLead) {
            nType = IsTrailByte(p[i]) ? PLAT_MBC_TRAIL : PLAT_MBC_ILLEGAL;
            bAfterLead = false;
        } else if (PlatIsLeadByte(p[i])) {
            nType = PLAT_MBC_LEAD;
            bAfterLead = true;
        } else {
            nType = PLAT_MBC_SINGLE;
        }
    }
    return nType;
}
