#include "file/tempfile.h"

#include "file/cfile.h"
#include "file/path.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

bool CreateTempFile(CFile* pFile, char* lpszTemp, const char* lpszTarget)
{
    // Longer than any member name of a pack archive (63 bytes).
    const size_t MIN_TEMP_NAME = 64;
    char lpszName[MAX_PATH];
    size_t nName = strlen(GetFileName(lpszName, lpszTarget));
    for (int i = 0; i < 1000; i++) {
        int n = snprintf(lpszTemp, MAX_PATH, "%s.~%d", lpszTarget, i);
        if (n <= 0 || n >= MAX_PATH)
            return false;
        size_t nComponent = nName + (size_t)n - strlen(lpszTarget);
        for (; nComponent < MIN_TEMP_NAME && n < MAX_PATH - 1; nComponent++)
            lpszTemp[n++] = '~';
        lpszTemp[n] = 0;
        if (nComponent < MIN_TEMP_NAME)
            return false;
        if (pFile->OpenNew(lpszTemp, 1))
            return true;
        // Taken, or the folder refuses new files: only the first is worth
        // another number.
        if (PlatGetFileAttributes(lpszTemp) == INVALID_FILE_ATTRIBUTES && !PlatIsLink(lpszTemp))
            return false;
    }
    return false;
}

bool FinishTempFile(const char* lpszTemp, const char* lpszTarget, bool bOk)
{
    bOk = bOk && PlatMoveFile(lpszTemp, lpszTarget);
    if (!bOk)
        PlatDeleteFile(lpszTemp);
    PlatForgetTempFile(lpszTemp);
    return bOk;
}
