#include "updateinfo.h"

#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "platform/error.h"
#include "platform/platform.h"

#include <new>
#include <stdio.h>
#include <string.h>

// Records a DWORD byte count can carry; larger lists are refused rather
// than wrapped.
static const DWORD MAX_RECORDS = 0xFFFFFFFF / sizeof(FileRecord);

void InitContext(UpdateContext* pContext)
{
    memset(pContext, 0, sizeof(*pContext));
}

void FreeContext(UpdateContext* pContext)
{
    delete[] pContext->pUpdateRecords;
    pContext->pUpdateRecords = NULL;
    delete[] pContext->pUninstallRecords;
    pContext->pUninstallRecords = NULL;
    pContext->dwUninstallCapacity = 0;
}

static int IsTerminated(const char* lpszField, size_t nSize)
{
    return memchr(lpszField, 0, nSize) != NULL;
}

// Sets the reason a load failed, when the caller asked for one; returns 0.
static int Refuse(std::string* pReason, const std::string& reason)
{
    if (pReason)
        *pReason = reason;
    return 0;
}

static std::string Numbered(const char* lpszFormat, unsigned long long n1, unsigned long long n2 = 0)
{
    char buf[160];
    snprintf(buf, sizeof(buf), lpszFormat, n1, n2);
    return buf;
}

// A record's path for a reason: at most its field, control bytes shown as
// '?' (the reason may reach a terminal).
static std::string RecordReason(DWORD dwIndex, const FileRecord* pRecord, const char* lpszProblem)
{
    std::string path(pRecord->szPath, strnlen(pRecord->szPath, MAX_PATH));
    for (char& c : path)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = '?';
    return Numbered("record %llu", (unsigned long long)dwIndex + 1) + " (" + path + "): " + lpszProblem;
}

// Whether the file holds at least dwCount records behind its header:
// checked before allocating, so a damaged count never asks for memory
// the file cannot fill.
static int RecordsFit(CFile* pFile, DWORD dwHeaderSize, DWORD dwCount, std::string* pReason)
{
    QWORD qwSize = pFile->GetSize64();
    QWORD qwRoom = qwSize < dwHeaderSize ? 0 : (qwSize - dwHeaderSize) / sizeof(FileRecord);
    if (dwCount <= MAX_RECORDS && qwRoom >= dwCount)
        return 1;
    return Refuse(pReason, Numbered("the header promises %llu records but the file holds %llu (damaged or cut short)",
                                    dwCount, qwRoom));
}

// Cuts the title to MAX_TITLE_LENGTH bytes without splitting a
// double-byte character; returns the length it had in its field.
static size_t CutTitle(char* szTitle)
{
    size_t nStored = strnlen(szTitle, sizeof(((UpdateHeader*)0)->szTitle));
    szTitle[sizeof(((UpdateHeader*)0)->szTitle) - 1] = 0;
    if (strlen(szTitle) <= MAX_TITLE_LENGTH)
        return nStored;
    size_t nCut = MAX_TITLE_LENGTH;
    if (PlatMbsByteType(szTitle, nCut) == PLAT_MBC_TRAIL)
        nCut--;
    szTitle[nCut] = 0;
    return nStored;
}

int LoadUpdateInfo(UpdateContext* pContext, const char* lpszFileName, std::string* pReason, size_t* pnStoredTitle)
{
    CFile clFile;
    if (!clFile.Open(lpszFileName, 0))
        return Refuse(pReason, std::string("cannot be opened: ") + PlatErrorText(PlatGetLastError()));
    UpdateHeader* pHeader = &pContext->update;
    if (clFile.Read(pHeader, sizeof(*pHeader)) != sizeof(*pHeader))
        return Refuse(pReason, "shorter than the 396-byte header of an update list");
    if (!IsTerminated(pHeader->szRegKey, sizeof(pHeader->szRegKey)) ||
        !IsTerminated(pHeader->szRegValue, sizeof(pHeader->szRegValue)))
        return Refuse(pReason, "the registry key or value name has no terminator (damaged, or not an update list)");
    size_t nStored = CutTitle(pHeader->szTitle);
    if (pnStoredTitle)
        *pnStoredTitle = nStored;
    if (!RecordsFit(&clFile, sizeof(*pHeader), pHeader->dwCount, pReason))
        return 0;

    DWORD dwCount = pHeader->dwCount;
    FileRecord* pRecords = new (std::nothrow) FileRecord[dwCount ? dwCount : 1];
    if (!pRecords)
        return Refuse(pReason, "out of memory");
    DWORD dwBytes = dwCount * (DWORD)sizeof(FileRecord);
    int bOk = clFile.Read(pRecords, dwBytes) == dwBytes;
    if (!bOk)
        Refuse(pReason, "cannot be read");
    for (DWORD i = 0; bOk && i < dwCount; i++) {
        if (!IsSafeRecordPath(pRecords[i].szPath))
            bOk = Refuse(pReason, RecordReason(i, &pRecords[i],
                                               "the updater refuses this path (empty, absolute, a drive, \"..\", a "
                                               "control character, an empty folder name, a cut character or a "
                                               "name Windows forbids)"));
        else if (IsUpdaterFileRecord(pRecords[i].szPath))
            bOk = Refuse(pReason, RecordReason(i, &pRecords[i],
                                               "the updater refuses this path: it names the updater's own "
                                               "uninstall list, which its rewrite would overwrite, or a name of "
                                               "its temporary copies (upd, 1-4 hex digits, .tmp), which it deletes"));
    }
    if (!bOk) {
        delete[] pRecords;
        return 0;
    }
    delete[] pContext->pUpdateRecords;
    pContext->pUpdateRecords = pRecords;
    return 1;
}

int LoadUninstallInfo(UpdateContext* pContext, const char* lpszFileName, std::string* pReason)
{
    CFile clFile;
    if (!clFile.Open(lpszFileName, 0))
        return Refuse(pReason, std::string("cannot be opened: ") + PlatErrorText(PlatGetLastError()));
    UninstallHeader* pHeader = &pContext->uninstall;
    if (clFile.Read(pHeader, sizeof(*pHeader)) != sizeof(*pHeader))
        return Refuse(pReason, "shorter than the 5068-byte header of an uninstall list");
    DWORD dwCount = pHeader->dwCount;
    if (!RecordsFit(&clFile, sizeof(*pHeader), dwCount, pReason))
        return 0;
    if (pContext->update.dwCount > MAX_RECORDS - dwCount)
        return Refuse(pReason, "too many records with the update list's");

    DWORD dwCapacity = dwCount + pContext->update.dwCount;
    FileRecord* pRecords = new (std::nothrow) FileRecord[dwCapacity ? dwCapacity : 1];
    if (!pRecords)
        return Refuse(pReason, "out of memory");
    DWORD dwBytes = dwCount * (DWORD)sizeof(FileRecord);
    int bOk = clFile.Read(pRecords, dwBytes) == dwBytes;
    if (!bOk)
        Refuse(pReason, "cannot be read");
    // Paths are compared as strings; an unterminated one would run into
    // the next record.
    for (DWORD i = 0; bOk && i < dwCount; i++) {
        if (!IsTerminated(pRecords[i].szPath, sizeof(pRecords[i].szPath)))
            bOk = Refuse(pReason, RecordReason(i, &pRecords[i], "the path has no terminator (damaged)"));
    }
    if (!bOk) {
        delete[] pRecords;
        return 0;
    }
    delete[] pContext->pUninstallRecords;
    pContext->pUninstallRecords = pRecords;
    pContext->dwUninstallCapacity = dwCapacity;
    return 1;
}

int UninstallTempName(char* lpszTemp, const char* lpszFileName)
{
    if (strlen(lpszFileName) >= MAX_PATH)
        return 0;
    ChangeExtension(lpszTemp, lpszFileName, "tmp");
    return strcmp(lpszTemp, lpszFileName) != 0 && strlen(lpszTemp) <= strlen(lpszFileName);
}

int WriteUninstallInfo(const UpdateContext* pContext, const char* lpszFileName)
{
    char lpszTempName[MAX_PATH];
    if (!UninstallTempName(lpszTempName, lpszFileName))
        return 0;
    // A read-only list (the game's installer may leave it so) is replaced
    // and stays read-only, hidden and system as it was.
    PlatReplace replace;
    if (PlatBeginReplace(&replace, lpszFileName, lpszTempName,
                         PLAT_REPLACE_READONLY | PLAT_REPLACE_KEEP_READONLY) != 1)
        return 0;
    const UninstallHeader* pHeader = &pContext->uninstall;
    DWORD dwBytes = pHeader->dwCount * (DWORD)sizeof(FileRecord);
    CFile clFile;
    clFile.Attach(replace.hFile);
    int bOk = clFile.Write(pHeader, sizeof(*pHeader)) == sizeof(*pHeader);
    if (bOk && dwBytes)
        bOk = clFile.Write(pContext->pUninstallRecords, dwBytes) == dwBytes;
    clFile.Detach();
    return PlatEndReplace(&replace, bOk);
}

// A component made only of dots and spaces: the OS drops trailing dots
// and spaces, so each of these means "." or ".." to it.
static int IsDotComponent(const char* pStart, const char* pEnd)
{
    for (const char* p = pStart; p < pEnd; p++)
        if (*p != '.' && *p != ' ')
            return 0;
    return 1;
}

int IsSafeRecordPath(const char* szPath)
{
    if (!IsTerminated(szPath, MAX_PATH))
        return 0;
    int nLen = (int)strlen(szPath);
    if (nLen == 0)
        return 0;
    // A trailing lead byte would pair with whatever is appended behind it.
    if (PlatMbsByteType(szPath, (size_t)(nLen - 1)) == PLAT_MBC_LEAD)
        return 0;
    if (szPath[nLen - 1] == '\\' && !IsSeparatorAt(szPath, nLen - 1))
        return 0;

    int nStart = 0;
    for (int i = 0; i <= nLen; i++) {
        unsigned char c = (unsigned char)szPath[i];
        // Colons and slashes are never second bytes in code page 932.
        if (c == ':' || (c != 0 && c < 0x20))
            return 0;
        if (c != 0 && c != '/' && !IsSeparatorAt(szPath, i))
            continue;
        if (i == nStart) {
            // Empty component: only the one after a folder's final
            // separator is allowed.
            if (!(c == 0 && i > 0 && szPath[i - 1] == '\\'))
                return 0;
        } else if (IsDotComponent(szPath + nStart, szPath + i)) {
            return 0;
        } else {
            // The name rule of every component Windows creates, but for a
            // final dot or space: Windows drops it and the record still
            // names a file inside the folder.
            char szName[MAX_PATH];
            memcpy(szName, szPath + nStart, i - nStart);
            szName[i - nStart] = 0;
            NameProblem nProblem = CheckComponentName(szName);
            if (nProblem != NAME_OK && nProblem != NAME_DOT_OR_SPACE_END)
                return 0;
        }
        nStart = i + 1;
    }
    return 1;
}

int IsUpdaterFileRecord(const char* szPath)
{
    size_t nLen = strnlen(szPath, MAX_PATH);
    if (nLen > 0 && szPath[nLen - 1] == '\\')
        nLen--;
    // No second byte of a double-byte character is a dot or a space.
    while (nLen > 0 && (szPath[nLen - 1] == '.' || szPath[nLen - 1] == ' '))
        nLen--;
    char lpszName[MAX_PATH], lpszTemp[MAX_PATH];
    memcpy(lpszName, szPath, nLen);
    lpszName[nLen] = 0;
    // A copy's temporary name, in any folder: a later run removes those.
    char lpszLast[MAX_PATH];
    if (IsUpdaterTempName(GetFileName(lpszLast, lpszName)))
        return 1;
    // The temporary name WriteUninstallInfo makes.
    ChangeExtension(lpszTemp, g_szUninstallInfoName, "tmp");
    return CompareNoCase(lpszName, g_szUninstallInfoName) == 0 || CompareNoCase(lpszName, lpszTemp) == 0;
}

int IsUpdaterTempName(const char* lpszName)
{
    size_t nLen = strlen(lpszName);
    if (nLen < 8 || nLen > 11 || CompareNoCase(lpszName + nLen - 4, ".tmp") != 0)
        return 0;
    for (size_t i = 0; i < 3; i++) {
        if ((lpszName[i] | 0x20) != g_szTempPrefix[i])
            return 0;
    }
    for (size_t i = 3; i < nLen - 4; i++) {
        if (!strchr("0123456789abcdefABCDEF", lpszName[i]))
            return 0;
    }
    return 1;
}

int RecordFitsBehind(const char* lpszRoot, const char* szPath)
{
    size_t nRoot = strlen(lpszRoot);
    size_t nPath = strnlen(szPath, MAX_PATH);
    if (nPath == 0 || nRoot + nPath >= MAX_PATH)
        return 0;
    if (szPath[nPath - 1] == '\\')
        return 1;
    // The file's folder is the root plus everything up to the last
    // separator of the path.
    size_t nFolder = nRoot;
    for (size_t i = 0; i < nPath; i++)
        if (szPath[i] == '/' || IsSeparatorAt(szPath, (int)i))
            nFolder = nRoot + i;
    return nFolder + TEMP_NAME_ROOM < MAX_PATH;
}

int IsFolderRecord(const FileRecord* pRecord)
{
    size_t nLen = strnlen(pRecord->szPath, MAX_PATH);
    return nLen > 0 && pRecord->szPath[nLen - 1] == '\\';
}

std::string RecordKey(const char* szPath)
{
    std::string key(szPath, strnlen(szPath, MAX_PATH));
    FoldNameCase(&key[0], key.c_str());
    for (char& c : key)
        if (c == '/')
            c = '\\';
    return key;
}

void BuildUninstallIndex(const UpdateContext* pContext, UninstallIndex* pIndex)
{
    pIndex->clear();
    pIndex->reserve((size_t)pContext->uninstall.dwCount + pContext->update.dwCount);
    // emplace keeps the first of equal keys: a lookup takes the first match.
    for (DWORD i = 0; i < pContext->uninstall.dwCount; i++)
        pIndex->emplace(RecordKey(pContext->pUninstallRecords[i].szPath), i);
}

FileRecord* FindUninstallRecord(UpdateContext* pContext, const char* szPath, const UninstallIndex* pIndex)
{
    std::string key = RecordKey(szPath);
    if (pIndex) {
        UninstallIndex::const_iterator it = pIndex->find(key);
        return it == pIndex->end() ? NULL : &pContext->pUninstallRecords[it->second];
    }
    for (DWORD i = 0; i < pContext->uninstall.dwCount; i++) {
        if (RecordKey(pContext->pUninstallRecords[i].szPath) == key)
            return &pContext->pUninstallRecords[i];
    }
    return NULL;
}

int MergeRecord(UpdateContext* pContext, const FileRecord* pRecord, UninstallIndex* pIndex)
{
    UninstallHeader* pHeader = &pContext->uninstall;
    FileRecord* pListed = FindUninstallRecord(pContext, pRecord->szPath, pIndex);
    int bFolder = IsFolderRecord(pRecord);
    if (pListed) {
        if (!bFolder) {
            pHeader->dwTotalSize += pRecord->dwFileSize - pListed->dwFileSize;
            pListed->dwFileSize = pRecord->dwFileSize;
            pListed->dwExtra = pRecord->dwExtra;
        }
        return 1;
    }
    if (pHeader->dwCount >= pContext->dwUninstallCapacity)
        return 0;
    pContext->pUninstallRecords[pHeader->dwCount] = *pRecord;
    if (pIndex)
        pIndex->emplace(RecordKey(pRecord->szPath), pHeader->dwCount);
    pHeader->dwCount++;
    if (!bFolder) {
        pHeader->dwFileCount++;
        pHeader->dwTotalSize += pRecord->dwFileSize;
    }
    return 1;
}
