#include "updatespace.h"

#include "file/path.h"
#include "messages.h"
#include "platform/platform.h"

#include <new>
#include <stdio.h>
#include <string.h>

// The size of the file at lpszPath. Returns 0, with a size of 0, when
// there is none: nothing or a folder there, or a name with a wildcard,
// which would make the lookup match other files and which no file can
// carry (trail bytes of double-byte characters never take the values of
// '*' or '?', so the bytes can be tested one by one).
static int FileSize(const char* lpszPath, QWORD* pqwSize)
{
    *pqwSize = 0;
    if (strpbrk(lpszPath, "*?"))
        return 0;
    PlatFindData data;
    HANDLE hFind = PlatFindFirst(lpszPath, &data);
    if (!hFind)
        return 0;
    PlatFindClose(hFind);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    *pqwSize = ((QWORD)data.nFileSizeHigh << 32) | data.nFileSizeLow;
    return 1;
}

static QWORD WholeClusters(QWORD qwBytes, DWORD dwClusterBytes)
{
    if (dwClusterBytes <= 1)
        return qwBytes;
    return (qwBytes / dwClusterBytes + (qwBytes % dwClusterBytes ? 1 : 0)) * dwClusterBytes;
}

// Whether two record paths name the same file to the updater: names as
// the uninstall list matches them, and a slash as a backslash, as the OS
// reads it (0x2F is never a second byte in code page 932).
static int SamePath(const char* lpszA, const char* lpszB)
{
    char lpszX[MAX_PATH], lpszY[MAX_PATH];
    snprintf(lpszX, sizeof(lpszX), "%s", lpszA);
    snprintf(lpszY, sizeof(lpszY), "%s", lpszB);
    for (char* p = lpszX; (p = strchr(p, '/')) != NULL; p++)
        *p = '\\';
    for (char* p = lpszY; (p = strchr(p, '/')) != NULL; p++)
        *p = '\\';
    return CompareNoCase(lpszX, lpszY) == 0;
}

// Root followed by a record's path, in a MAX_PATH buffer.
static int JoinPath(char* lpszBuf, const char* lpszRoot, const char* szPath)
{
    size_t nRoot = strlen(lpszRoot), nPath = strnlen(szPath, MAX_PATH);
    if (nRoot + nPath >= MAX_PATH)
        return 0;
    memcpy(lpszBuf, lpszRoot, nRoot);
    memcpy(lpszBuf + nRoot, szPath, nPath);
    lpszBuf[nRoot + nPath] = 0;
    return 1;
}

int GetUpdateSpaceNeeded(const UpdateContext* pContext, const char* lpszInstallDirectory,
                         const char* lpszSrcFileName, DWORD dwClusterBytes, QWORD* pqwNeeded)
{
    if (!pqwNeeded)
        return 0;
    *pqwNeeded = 0;
    if (!pContext || !lpszInstallDirectory || !lpszSrcFileName)
        return 0;
    DWORD dwCount = pContext->update.dwCount;
    // What each record left at its destination, for a later record of the
    // same path.
    QWORD* pqwWritten = new (std::nothrow) QWORD[dwCount ? dwCount : 1];
    if (!pqwWritten)
        return 0;

    // Use above today's: it may dip below 0 while shrinking files are
    // replaced, and the peak is taken from 0.
    int64_t nUsed = 0, nPeak = 0;
    int bOk = 1;
    char lpszDestFile[MAX_PATH], lpszSrcFile[MAX_PATH];
    for (DWORD i = 0; i < dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        pqwWritten[i] = 0;
        if (IsFolderRecord(pRecord))
            continue;
        if (!JoinPath(lpszDestFile, lpszInstallDirectory, pRecord->szPath) ||
            !JoinPath(lpszSrcFile, lpszSrcFileName, pRecord->szPath)) {
            bOk = 0;
            break;
        }
        QWORD qwSource;
        if (!FileSize(lpszSrcFile, &qwSource))
            break;
        QWORD qwNew = WholeClusters(qwSource, dwClusterBytes), qwOld;
        DWORD j = i;
        while (j > 0 && (IsFolderRecord(&pContext->pUpdateRecords[j - 1]) ||
                         !SamePath(pContext->pUpdateRecords[j - 1].szPath, pRecord->szPath)))
            j--;
        if (j > 0) {
            qwOld = pqwWritten[j - 1];
        } else {
            FileSize(lpszDestFile, &qwOld);
            qwOld = WholeClusters(qwOld, dwClusterBytes);
        }
        nUsed += (int64_t)qwNew;
        if (nUsed > nPeak)
            nPeak = nUsed;
        nUsed -= (int64_t)qwOld;
        pqwWritten[i] = qwNew;
    }
    delete[] pqwWritten;
    if (!bOk)
        return 0;

    QWORD qwList = sizeof(UninstallHeader) + ((QWORD)pContext->uninstall.dwCount + dwCount) * sizeof(FileRecord);
    nUsed += (int64_t)WholeClusters(qwList, dwClusterBytes);
    if (nUsed > nPeak)
        nPeak = nUsed;
    *pqwNeeded = (QWORD)nPeak;
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
