#include "file/path.h"

#include "platform/names.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

int IsSeparatorAt(const char* lpszPath, int i)
{
    return lpszPath[i] == '\\' && PlatMbsByteType(lpszPath, (size_t)i) == PLAT_MBC_SINGLE;
}

// Folds byte c unless it follows a lead byte. Both callers walk from the
// start of a string, so bAfterLead tracks the character boundaries; while
// two strings agree, they agree on those boundaries too.
static int FoldByte(int c, bool* pbAfterLead)
{
    if (*pbAfterLead) {
        *pbAfterLead = false;
        return c;
    }
    *pbAfterLead = PlatIsLeadByte((unsigned char)c) != 0;
    return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

int CompareNoCase(const char* lpszA, const char* lpszB)
{
    bool bAfterLead = false;
    for (;; lpszA++, lpszB++) {
        bool bAfterLeadB = bAfterLead;
        int a = FoldByte((unsigned char)*lpszA, &bAfterLead);
        int b = FoldByte((unsigned char)*lpszB, &bAfterLeadB);
        if (a != b || a == 0)
            return a - b;
    }
}

char* FoldNameCase(char* lpszDst, const char* lpszSrc)
{
    bool bAfterLead = false;
    size_t i = 0;
    do
        lpszDst[i] = (char)FoldByte((unsigned char)lpszSrc[i], &bAfterLead);
    while (lpszSrc[i++]);
    return lpszDst;
}

static bool IsDeviceName(const char* lpszName)
{
    static const char* const DEVICES[] = { "CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$" };
    size_t nBase = strcspn(lpszName, ".");
    while (nBase > 0 && lpszName[nBase - 1] == ' ') // "nul .txt" is NUL as well
        nBase--;
    char szBase[8];
    if (nBase >= sizeof(szBase))
        return false;
    memcpy(szBase, lpszName, nBase);
    szBase[nBase] = 0;
    for (const char* lpszDevice : DEVICES)
        if (CompareNoCase(szBase, lpszDevice) == 0)
            return true;
    if (nBase != 4 || szBase[3] < '1' || szBase[3] > '9')
        return false;
    szBase[3] = 0; // COM1 to COM9, LPT1 to LPT9
    return CompareNoCase(szBase, "COM") == 0 || CompareNoCase(szBase, "LPT") == 0;
}

NameProblem CheckComponentName(const char* lpszName)
{
    size_t nLen = strlen(lpszName);
    if (!nLen)
        return NAME_EMPTY;
    bool bAfterLead = false;
    bool bForbidden = false;
    for (size_t i = 0; i < nLen; i++) {
        BYTE c = (BYTE)lpszName[i];
        // '|' and '\\' may be the second byte of a double-byte character;
        // the other forbidden bytes lie below every such byte. One walk
        // from the start keeps to the characters' boundaries.
        bool bSingle = !bAfterLead;
        bAfterLead = bSingle && PlatIsLeadByte(c);
        if (bSingle && (c == 0x80 || c == 0xA0 || c >= 0xFD))
            return NAME_MALFORMED;
        if (c < 0x20 || strchr("<>:\"/?*", c) || (bSingle && (c == '|' || c == '\\')))
            bForbidden = true;
    }
    if (bAfterLead || !PlatIsConvertible(lpszName))
        return NAME_MALFORMED;
    if (bForbidden)
        return NAME_FORBIDDEN;
    if (lpszName[nLen - 1] == '.' || lpszName[nLen - 1] == ' ')
        return NAME_DOT_OR_SPACE_END;
    return IsDeviceName(lpszName) ? NAME_DEVICE : NAME_OK;
}

// The in-place forms run the two-argument form on a scratch copy. The copy
// is bounded, so an overlong argument is cut rather than overrunning the
// stack.
static char* InPlace(char* lpszBuf, char* (*pfnTwoArg)(char*, const char*))
{
    char lpszBuf2[MAX_PATH];
    snprintf(lpszBuf2, MAX_PATH, "%s", lpszBuf);
    return pfnTwoArg(lpszBuf, lpszBuf2);
}

static char* InPlace(char* lpszBuf, const char* lpszExt, char* (*pfnTwoArg)(char*, const char*, const char*))
{
    char lpszBuf2[MAX_PATH];
    snprintf(lpszBuf2, MAX_PATH, "%s", lpszBuf);
    return pfnTwoArg(lpszBuf, lpszBuf2, lpszExt);
}

char* GetFileName(char* lpszDst, const char* lpszPath)
{
    int nLen = (int)strlen(lpszPath);
    for (int i = nLen - 1; i >= 1; i--) {
        if (IsSeparatorAt(lpszPath, i)) {
            strcpy(lpszDst, lpszPath + i + 1);
            return lpszDst;
        }
    }
    strcpy(lpszDst, lpszPath);
    return lpszDst;
}

char* GetFileName(char* lpszBuf)
{
    return InPlace(lpszBuf, GetFileName);
}

char* CutFileName(char* lpszDst, const char* lpszPath)
{
    int nLen = (int)strlen(lpszPath);
    for (int i = nLen - 1; i >= 1; i--) {
        if (IsSeparatorAt(lpszPath, i)) {
            memcpy(lpszDst, lpszPath, i);
            lpszDst[i] = 0;
            return lpszDst;
        }
    }
    lpszDst[0] = 0;
    return lpszDst;
}

char* CutFileName(char* lpszBuf)
{
    return InPlace(lpszBuf, CutFileName);
}

// The dot and comma are never trail bytes in code page 932, so the
// extension helpers compare plain bytes.
char* GetExtension(char* lpszDst, const char* lpszPath)
{
    lpszDst[0] = 0;
    for (int i = (int)strlen(lpszPath); i >= 0; i--) {
        if (lpszPath[i] == '.' && lpszPath[i + 1] != 0) {
            strcpy(lpszDst, lpszPath + i + 1);
            break;
        }
    }
    return lpszDst;
}

char* GetExtension(char* lpszBuf)
{
    return InPlace(lpszBuf, GetExtension);
}

char* GetLastExtension(char* lpszDst, const char* lpszPath)
{
    const char* pDot = strrchr(lpszPath, '.');
    strcpy(lpszDst, pDot ? pDot + 1 : "");
    return lpszDst;
}

char* CutExtension(char* lpszDst, const char* lpszPath)
{
    const char* pDot = strrchr(lpszPath, '.');
    size_t nLen = pDot ? (size_t)(pDot - lpszPath) : strlen(lpszPath);
    memcpy(lpszDst, lpszPath, nLen);
    lpszDst[nLen] = 0;
    return lpszDst;
}

char* ChangeExtension(char* lpszDst, const char* lpszPath, const char* lpszExt)
{
    strcpy(lpszDst, lpszPath);
    char* pDot = strrchr(lpszDst, '.');
    if (!pDot)
        return AddExtension(lpszDst, lpszPath, lpszExt);
    if (lpszExt[0] == 0) {
        *pDot = 0;
    } else {
        pDot[1] = 0;
        strcat(lpszDst, lpszExt);
    }
    return lpszDst;
}

char* ChangeExtension(char* lpszBuf, const char* lpszExt)
{
    return InPlace(lpszBuf, lpszExt, ChangeExtension);
}

char* AddExtension(char* lpszDst, const char* lpszPath, const char* lpszExt)
{
    char lpszExtension2[MAX_PATH];
    strcpy(lpszDst, lpszPath);
    GetExtension(lpszExtension2, lpszPath);
    if (CompareNoCase(lpszExt, lpszExtension2) != 0) {
        strcat(lpszDst, ".");
        strcat(lpszDst, lpszExt);
    }
    return lpszDst;
}

char* AddExtension(char* lpszBuf, const char* lpszExt)
{
    return InPlace(lpszBuf, lpszExt, AddExtension);
}

char* GetDriveRoot(char* lpszDst, const char* lpszPath)
{
    strcpy(lpszDst, lpszPath);
    if (strlen(lpszDst) > 3)
        lpszDst[3] = 0;
    return lpszDst;
}

char* GetDriveRoot(char* lpszBuf)
{
    return InPlace(lpszBuf, GetDriveRoot);
}

char* MakeCurrentDirectoryPath(char* lpszDst, const char* lpszName)
{
    char lpszCurrentDirectory[MAX_PATH];
    if (!PlatGetCurrentDirectory(MAX_PATH, lpszCurrentDirectory))
        lpszCurrentDirectory[0] = 0;
    AddBackslash(lpszCurrentDirectory);
    sprintf(lpszDst, "%s%s", lpszCurrentDirectory, lpszName);
    return lpszDst;
}

char* MakeCurrentDirectoryPath(char* lpszBuf)
{
    return InPlace(lpszBuf, MakeCurrentDirectoryPath);
}

char* CutBasePath(char* lpszDst, const char* lpszPath, const char* lpszBase)
{
    size_t nBase = strlen(lpszBase);
    for (size_t i = 0; i < nBase; i++) {
        signed char a = (signed char)lpszPath[i], b = (signed char)lpszBase[i];
        // The path's terminator never matches, so the scan cannot run past
        // a path shorter than the base (0 and a space are 32 apart).
        if (a == 0 || (a != b && a - b != 32 && b - a != 32)) {
            strcpy(lpszDst, lpszPath);
            return lpszDst;
        }
    }
    strcpy(lpszDst, lpszPath + nBase);
    return lpszDst;
}

char* CutExeDirectory(char* lpszDst, const char* lpszPath)
{
    char lpszExeDirectoryName[MAX_PATH];
    if (!PlatGetModuleFileName(lpszExeDirectoryName, MAX_PATH))
        lpszExeDirectoryName[0] = 0;
    CutFileName(lpszExeDirectoryName);
    return CutBasePath(lpszDst, lpszPath, lpszExeDirectoryName);
}

char* CutExeDirectory(char* lpszBuf)
{
    return InPlace(lpszBuf, CutExeDirectory);
}

char* AddBackslash(char* lpszBuf)
{
    size_t nLen = strlen(lpszBuf);
    if (nLen < 2)
        return lpszBuf;
    if (lpszBuf[nLen - 1] == '\\' && PlatMbsByteType(lpszBuf, nLen - 1) != PLAT_MBC_TRAIL)
        return lpszBuf;
    lpszBuf[nLen] = '\\';
    lpszBuf[nLen + 1] = 0;
    return lpszBuf;
}

char* AddComma(char* lpszDst, const char* lpszDigits)
{
    size_t nLen = strlen(lpszDigits), k = 0;
    for (size_t j = 0; j < nLen; j++) {
        lpszDst[k++] = lpszDigits[j];
        size_t nRest = nLen - j; // characters from j to the end, j included
        if (nRest > 1 && nRest % 3 == 1)
            lpszDst[k++] = ',';
    }
    lpszDst[k] = 0;
    return lpszDst;
}

char* AddComma(char* lpszBuf)
{
    return InPlace(lpszBuf, AddComma);
}

char* DeleteComma(char* lpszDst, const char* lpszText)
{
    size_t k = 0;
    for (; *lpszText; lpszText++)
        if (*lpszText != ',')
            lpszDst[k++] = *lpszText;
    lpszDst[k] = 0;
    return lpszDst;
}

char* DeleteComma(char* lpszBuf)
{
    return InPlace(lpszBuf, DeleteComma);
}
