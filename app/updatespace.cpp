#include "updatespace.h"

#include "file/path.h"
#include "messages.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

// The size of the file a record's copy will replace; 0 when there is none.
// A name with a wildcard would make the lookup match other files, and no
// file can carry such a name; trail bytes of double-byte characters never
// take the values of '*' or '?', so the bytes can be tested one by one.
static QWORD InstalledSize(const char* lpszDestFile)
{
    if (strpbrk(lpszDestFile, "*?"))
        return 0;
    PlatFindData data;
    HANDLE hFind = PlatFindFirst(lpszDestFile, &data);
    if (!hFind)
        return 0;
    PlatFindClose(hFind);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    return ((QWORD)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

int GetUpdateSpaceNeeded(const UpdateContext* pContext, const char* lpszInstallDirectory, QWORD* pqwNeeded)
{
    if (!pqwNeeded)
        return 0;
    *pqwNeeded = 0;
    if (!pContext || !lpszInstallDirectory)
        return 0;
    size_t nRoot = strlen(lpszInstallDirectory);
    if (nRoot >= MAX_PATH)
        return 0;

    char lpszDestFile[MAX_PATH];
    memcpy(lpszDestFile, lpszInstallDirectory, nRoot);
    QWORD qwGrowth = 0;
    DWORD dwLargest = 0;
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        if (IsFolderRecord(pRecord))
            continue;
        size_t nPath = strnlen(pRecord->szPath, MAX_PATH);
        if (nRoot + nPath >= MAX_PATH)
            return 0;
        memcpy(lpszDestFile + nRoot, pRecord->szPath, nPath);
        lpszDestFile[nRoot + nPath] = 0;

        QWORD qwOld = InstalledSize(lpszDestFile);
        if (pRecord->dwFileSize > qwOld)
            qwGrowth += pRecord->dwFileSize - qwOld;
        if (pRecord->dwFileSize > dwLargest)
            dwLargest = pRecord->dwFileSize;
    }
    *pqwNeeded = qwGrowth + dwLargest;
    return 1;
}

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
