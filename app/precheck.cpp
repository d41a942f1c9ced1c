#include "precheck.h"

#include "file/path.h"
#include "messages.h"
#include "platform/platform.h"

#include <set>
#include <stdio.h>
#include <string.h>
#include <string>

static DWORD AttributesBelow(const char* lpszRoot, const char* szPath)
{
    char lpszPath[MAX_PATH];
    snprintf(lpszPath, sizeof(lpszPath), "%s%s", lpszRoot, szPath);
    // A folder record's trailing separator would fail the look at a file.
    size_t nLen = strlen(lpszPath);
    if (nLen > 0 && IsSeparatorAt(lpszPath, (int)nLen - 1))
        lpszPath[nLen - 1] = 0;
    return PlatGetFileAttributes(lpszPath);
}

DWORD FindFaultyRecord(const UpdateContext* pContext, const char* lpszInstallDirectory,
                       const char* lpszSrcFileName, int* pnFault)
{
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        DWORD dwDest = AttributesBelow(lpszInstallDirectory, pRecord->szPath);
        int bFolderThere = dwDest != INVALID_FILE_ATTRIBUTES && (dwDest & FILE_ATTRIBUTE_DIRECTORY);
        *pnFault = FAULT_NONE;
        if (IsFolderRecord(pRecord)) {
            if (dwDest != INVALID_FILE_ATTRIBUTES && !bFolderThere)
                *pnFault = FAULT_FOLDER_IS_FILE;
        } else if (bFolderThere) {
            *pnFault = FAULT_FILE_IS_FOLDER;
        } else {
            char lpszSrcFile[MAX_PATH];
            snprintf(lpszSrcFile, sizeof(lpszSrcFile), "%s%s", lpszSrcFileName, pRecord->szPath);
            HANDLE hSrcFile = PlatOpenFile(lpszSrcFile, 0);
            if (!hSrcFile)
                *pnFault = FAULT_SOURCE;
            PlatCloseFile(hSrcFile);
        }
        if (*pnFault != FAULT_NONE)
            return i;
    }
    return pContext->update.dwCount;
}

DWORD CountFilesInUse(const UpdateContext* pContext, const char* lpszInstallDirectory, DWORD* pdwFirst)
{
    DWORD dwCount = 0;
    char lpszDestFile[MAX_PATH];
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        if (IsFolderRecord(pRecord))
            continue;
        // A missing destination answers -1: nothing to replace. No record
        // is a file where a folder is (FindFaultyRecord).
        snprintf(lpszDestFile, sizeof(lpszDestFile), "%s%s", lpszInstallDirectory, pRecord->szPath);
        if (PlatIsFileInUse(lpszDestFile) != 1)
            continue;
        if (dwCount++ == 0)
            *pdwFirst = i;
    }
    return dwCount;
}

void FormatFilesInUseMessage(char* lpszBuf, size_t nSize, const char* szPath, DWORD dwCount)
{
    char lpszPath[MAX_PATH + 32];
    int n = snprintf(lpszPath, sizeof(lpszPath), "%s", szPath);
    if (dwCount > 1)
        snprintf(lpszPath + n, sizeof(lpszPath) - n, g_szFmtMoreFiles, (unsigned long)(dwCount - 1));
    snprintf(lpszBuf, nSize, g_szFmtFilesInUse, lpszPath);
}

static void RemoveTemporaryFilesIn(const std::string& folder)
{
    PlatFindData fd;
    std::string pattern = folder + g_szTempPrefix + "*.tmp";
    HANDLE hFind = PlatFindFirst(pattern.c_str(), &fd);
    if (!hFind)
        return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsUpdaterTempName(fd.cFileName)) {
            std::string path = folder + fd.cFileName;
            // A copy made read-only would not go otherwise.
            PlatSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            PlatDeleteFile(path.c_str());
        }
    } while (PlatFindNext(hFind, &fd));
    PlatFindClose(hFind);
}

void RemoveLeftTemporaryFiles(const UpdateContext* pContext, const char* lpszInstallDirectory)
{
    char lpszTemp[MAX_PATH];
    snprintf(lpszTemp, sizeof(lpszTemp), "%s%s", lpszInstallDirectory, g_szUninstallInfoName);
    ChangeExtension(lpszTemp, "tmp");
    PlatDeleteFile(lpszTemp);

    std::set<std::string> folders;
    char lpszFolder[MAX_PATH];
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        if (IsFolderRecord(pRecord))
            continue;
        snprintf(lpszTemp, sizeof(lpszTemp), "%s%s", lpszInstallDirectory, pRecord->szPath);
        CutFileName(lpszFolder, lpszTemp);
        AddBackslash(lpszFolder);
        folders.insert(lpszFolder);
    }
    for (const std::string& folder : folders)
        RemoveTemporaryFilesIn(folder);
}
