#ifdef _WIN32

#include "platform/names.h"

#include "platform/wintypes.h"

#include <string.h>
#include <string>

static const UINT CP_LIBRARY = 932;

// The UTF-16 form of a name, refusing bytes that start no character.
static bool ToUtf16(const char* lpszText, std::wstring* pOut)
{
    pOut->clear();
    if (!*lpszText)
        return true;
    int nLen = MultiByteToWideChar(CP_LIBRARY, MB_ERR_INVALID_CHARS, lpszText, -1, NULL, 0);
    if (nLen <= 0)
        return false;
    pOut->resize(nLen);
    MultiByteToWideChar(CP_LIBRARY, MB_ERR_INVALID_CHARS, lpszText, -1, &(*pOut)[0], nLen);
    pOut->resize(nLen - 1);
    return true;
}

int PlatIsConvertible(const char* lpszText)
{
    std::wstring wide;
    if (!ToUtf16(lpszText, &wide))
        return 0;
    if (wide.empty())
        return 1;
    BOOL bDefault = FALSE;
    int nBytes = WideCharToMultiByte(CP_LIBRARY, WC_NO_BEST_FIT_CHARS, wide.c_str(), (int)wide.size(), NULL, 0,
                                     NULL, &bDefault);
    return nBytes > 0 && !bDefault;
}

int PlatCompareFileNames(const char* lpszA, const char* lpszB, int nRule)
{
    (void)nRule; // this system's rule is Windows' own
    std::wstring a, b;
    bool bA = ToUtf16(lpszA, &a), bB = ToUtf16(lpszB, &b);
    if (!bA || !bB)
        return bA != bB ? (bA ? -1 : 1) : strcmp(lpszA, lpszB);
    int n = CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE);
    return n == CSTR_LESS_THAN ? -1 : n == CSTR_GREATER_THAN ? 1 : 0;
}

#endif
