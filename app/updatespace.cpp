#include "updatespace.h"

#include "file/path.h"
#include "messages.h"
#include "platform/platform.h"

#include <new>
#include <stdio.h>
#include <string.h>

static void FormatMegabytes(char* lpszBuf, QWORD qwBytes, int bRoundUp)
{
    const QWORD qwMega = 1 << 20;
    QWORD qwMegabytes = qwBytes / qwMega + (bRoundUp && qwBytes % qwMega ? 1 : 0);
    char lpszDigits[24];
    snprintf(lpszDigits, sizeof(lpszDigits), "%llu", (unsigned long long)qwMegabytes);
    AddComma(lpszBuf, lpszDigits);
}

void FormatNoSpaceMessage(char* lpszBuf, size_t nSize, QWORD qwNeeded, QWORD qwFree)
{
    // 20 digits and 6 commas each.
    char lpszNeeded[32], lpszFree[32];
    FormatMegabytes(lpszNeeded, qwNeeded, 1);
    FormatMegabytes(lpszFree, qwFree, 0);
    snprintf(lpszBuf, nSize, g_szFmtNoSpace, lpszNeeded, lpszFree);
}
