// make: the update list of a data folder.
#include "updatelist.h"

#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "nativetext.h"
#include "platform/names.h"
#include "platform/platform.h"
#include "platform/volume.h"
#include "copyblocks.h"
#include "file/directory.h"
#include "updatesum.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

// The shortest source root the updater can have: update.exe at the root of
// a drive, "C:\data\". A path that does not fit behind it never works.
const int SHORTEST_SOURCE_ROOT = 8;

struct ExtraValue {
    std::string path; // code page 932, backslashes
    DWORD dwExtra;
    bool bUsed;
};

bool ParseDword(const char* lpszText, DWORD* pdwValue)
{
    int nBase = 10;
    if (lpszText[0] == '0' && (lpszText[1] == 'x' || lpszText[1] == 'X')) {
        nBase = 16;
        lpszText += 2;
    }
    if (!*lpszText || !strchr("0123456789abcdefABCDEF", *lpszText))
        return false;
    char* pEnd;
    unsigned long long n = strtoull(lpszText, &pEnd, nBase);
    if (*pEnd || n > 0xFFFFFFFFull)
        return false;
    *pdwValue = (DWORD)n;
    return true;
}

// Why Windows could not create a file of this name (code page 932, one
// component), or null. Windows hands a name it cannot convert to code page
// 932 to this program with '?' in it, so that case lands here too.
const char* NameProblemText(const char* lpszName)
{
    switch (CheckComponentName(lpszName)) {
    case NAME_OK:
        return NULL;
    case NAME_MALFORMED:
        return "is not well-formed code page 932 (a byte that starts no character, or a lead byte without its "
               "second byte)";
    case NAME_DOT_OR_SPACE_END:
        return "ends in a dot or a space, which Windows drops from names";
    case NAME_DEVICE:
        return "is a device name on Windows";
    default:
        return "holds a character that Windows does not allow in names (< > : \" / \\ | ? * or a control "
               "character) or that has no code page 932 form";
    }
}

} // namespace

int LongestRootFor(const char* szPath)
{
    auto fits = [&](int nRoot) { return RecordFitsBehind(std::string(nRoot, 'x').c_str(), szPath) != 0; };
    if (!fits(0))
        return -1;
    int lo = 0, hi = MAX_PATH - 1;
    while (lo < hi) {
        int mid = (lo + hi + 1) / 2;
        if (fits(mid))
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

namespace {

// A patch is installed on Windows, whose rule for one file is wider than
// the updater's letters A to Z: letter case in every script (full-width,
// Greek, Cyrillic) and two codes of one character (87 54 and FA 4A).
bool SameEntry(const PlatFindData& a, const PlatFindData& b)
{
    return PlatCompareFileNames(a.cFileName, b.cFileName, PLAT_NAMES_WINDOWS) == 0;
}

bool EntryLess(const PlatFindData& a, const PlatFindData& b)
{
    int n = PlatCompareFileNames(a.cFileName, b.cFileName, PLAT_NAMES_WINDOWS);
    return n != 0 ? n < 0 : strcmp(a.cFileName, b.cFileName) < 0;
}

// Walks the data folder, which is the current folder, so that its own
// paths are relative and a deep data folder never meets MAX_PATH.
class Scanner {
public:
    Scanner(const std::string& dataArg, const std::string& installDir)
        : m_nRootLimit(MAX_PATH), m_dataArg(ShownNative(dataArg)), m_installDir(installDir)
    {
    }

    // Adds the records of folder rel ("" or ending in a separator) and
    // everything below it.
    void Scan(const std::string& rel)
    {
        std::string native = "." + Native(rel);
        for (const std::string& name : UnrepresentableNames(native))
            Error(m_dataArg + native.substr(1) + "/" + ShownNative(name) + ": the name has no code page 932 form");
        std::vector<std::string> special;
        for (const SpecialEntry& entry : SpecialEntries(native)) {
            Error(m_dataArg + native.substr(1) + "/" + ShownNative(entry.name) + ": " + entry.lpszWhat);
            std::string name;
            if (TextFromNative(entry.name.c_str(), &name))
                special.push_back(name);
        }

        std::vector<PlatFindData> entries;
        PlatFindData fd;
        // A readable folder lists at least "." and "..", so nothing at all
        // means it could not be read; it must not pass for an empty one.
        HANDLE hFind = PlatFindFirst((rel + "*.*").c_str(), &fd);
        if (!hFind)
            Error((rel.empty() ? m_dataArg : Where(rel)) + ": the folder cannot be read");
        for (bool bMore = hFind != NULL; bMore; bMore = PlatFindNext(hFind, &fd) != 0) {
            // Names with no code-page-932 form were named above.
            if (strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0 && !fd.bNoCp932Name &&
                std::find(special.begin(), special.end(), fd.cFileName) == special.end())
                entries.push_back(fd);
        }
        PlatFindClose(hFind);
        std::sort(entries.begin(), entries.end(), EntryLess);

        for (size_t i = 0; i < entries.size(); i++) {
            const PlatFindData& e = entries[i];
            bool bFolder = (e.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            std::string path = rel + e.cFileName + (bFolder ? "\\" : "");
            if (i > 0 && SameEntry(entries[i - 1], e)) {
                Error(Where(path) + ": Windows takes it for " + Shown((rel + entries[i - 1].cFileName).c_str()) +
                      " (one file there: Windows ignores letter case, A to Z and in every other script)");
                continue;
            }
            if (const char* lpszProblem = NameProblemText(e.cFileName)) {
                Error(Where(path) + ": the name " + lpszProblem);
                continue;
            }
            if (!CheckPath(path))
                continue;
            FileRecord record;
            memset(&record, 0, sizeof(record));
            memcpy(record.szPath, path.c_str(), path.size());
            if (bFolder) {
                // A folder reached again through a link (a loop back up the
                // tree, or a second way in) would be listed for ever or twice.
                PlatFileId id;
                bool bKnown = PlatGetFileId(path.c_str(), &id) != 0;
                const std::string* pSeen = NULL;
                for (const auto& seen : m_folders)
                    if (bKnown && PlatSameFile(&seen.first, &id))
                        pSeen = &seen.second;
                if (pSeen) {
                    Error(Where(path) + ": a link loop or a second way to " +
                          (pSeen->empty() ? m_dataArg : Where(*pSeen)) + ", which is listed already");
                    continue;
                }
                if (bKnown)
                    m_folders.push_back(std::make_pair(id, path));
                m_records.push_back(record);
                m_sums.push_back(SumEntry());
                Scan(path);
                continue;
            }
            CFile clFile;
            if (!clFile.Open(path.c_str(), 0)) {
                Error(Where(path) + ": cannot be read");
                continue;
            }
            if (clFile.m_qwSize > 0xFFFFFFFFull) {
                Error(Where(path) + ": larger than 4 GiB - 1 bytes, more than a record's size can hold");
                continue;
            }
            // Hashed as a whole-file source: installed as it is.
            SumEntry sum = {};
            m_block.resize(COPY_BLOCK_SIZE);
            if (!HashFile(&clFile, m_block.data(), COPY_BLOCK_SIZE, sum.abInstalled, &sum.qwInstalledSize) ||
                sum.qwInstalledSize != clFile.m_qwSize) {
                Error(Where(path) + ": cannot be read to its end");
                continue;
            }
            sum.qwSourceSize = sum.qwInstalledSize;
            memcpy(sum.abSource, sum.abInstalled, sizeof(sum.abSource));
            record.dwFileSize = (DWORD)clFile.m_qwSize;
            m_records.push_back(record);
            m_sums.push_back(sum);
        }
    }

    std::vector<FileRecord> m_records;
    // One per record, in its order.
    std::vector<SumEntry> m_sums;
    std::vector<std::string> m_errors;
    // The longest root that every path fits behind.
    int m_nRootLimit;

private:
    // A relative library path as the command line would name it.
    static std::string Native(const std::string& rel)
    {
        std::string shown = TextToUtf8(("\\" + rel).c_str());
#ifndef _WIN32
        std::replace(shown.begin(), shown.end(), '\\', '/');
#endif
        if (!shown.empty() && (shown.back() == '/' || shown.back() == '\\'))
            shown.pop_back();
        return shown;
    }

    std::string Where(const std::string& rel) const
    {
        return m_dataArg + ShownNative(Native(rel));
    }

    void Error(const std::string& text)
    {
        m_errors.push_back(text);
    }

    bool CheckPath(const std::string& path)
    {
        char buf[64];
        if (path.size() >= MAX_PATH) {
            snprintf(buf, sizeof(buf), "%d bytes", (int)path.size());
            Error(Where(path) + ": the path is too long for a record (" + buf + ", at most 259)");
            return false;
        }
        if (!IsSafeRecordPath(path.c_str())) {
            // The scan makes paths of names the checks above passed; what
            // is left is a file whose last character ends in 0x5C.
            bool bEndsIn5C = path.back() == '\\' && !IsSeparatorAt(path.c_str(), (int)path.size() - 1);
            Error(Where(path) + (bEndsIn5C ? ": the name ends in a character whose second byte is 0x5C (such as "
                                             "\xE8\xA1\xA8 or \xE3\x82\xBD), which the update list takes for "
                                             "a folder's separator; rename the file"
                                           : ": the updater refuses the path"));
            return false;
        }
        if (IsUpdaterFileRecord(path.c_str())) {
            Error(Where(path) + ": the name of the updater's own uninstall list (" + g_szUninstallInfoName +
                  " or its temporary file) in the install folder, or a name of the updater's temporary copies (upd, "
                  "1-4 hex digits, .tmp) in any folder; the updater refuses it");
            return false;
        }
        int nRoot = LongestRootFor(path.c_str());
        if (nRoot < SHORTEST_SOURCE_ROOT) {
            snprintf(buf, sizeof(buf), "%d bytes", (int)path.size());
            Error(Where(path) + ": the path is too long (" + buf +
                  "): the updater could not use it even beside an update.exe at the root of a drive");
            return false;
        }
        if (!m_installDir.empty() && !RecordFitsBehind(m_installDir.c_str(), path.c_str())) {
            snprintf(buf, sizeof(buf), "%d bytes", (int)path.size());
            Error(Where(path) + ": the path is too long (" + buf + ") to install below " +
                  Shown(m_installDir.c_str()));
            return false;
        }
        m_nRootLimit = std::min(m_nRootLimit, nRoot);
        return true;
    }

    std::string m_dataArg;
    std::string m_installDir;
    std::vector<BYTE> m_block;
public:
    // Every folder listed (the data folder's own path is empty).
    std::vector<std::pair<PlatFileId, std::string>> m_folders;
};

// Control bytes are never second bytes in code page 932.
bool HasControlCharacter(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool CheckTitle(const char* lpszArg, std::string* pTitle)
{
    if (!TextFromNative(lpszArg, pTitle)) {
        Fail("the title '" + ShownNative(lpszArg) + "' has a character with no code page 932 form");
        return false;
    }
    if (pTitle->empty()) {
        Fail("the title is empty: the updater shows it in its dialogs and messages");
        return false;
    }
    if (HasControlCharacter(*pTitle)) {
        Fail("the title holds a control character");
        return false;
    }
    if (pTitle->size() > MAX_TITLE_LENGTH) {
        char buf[128];
        snprintf(buf, sizeof(buf), "the title is %d bytes in code page 932; the updater shows at most %d",
                 (int)pTitle->size(), MAX_TITLE_LENGTH);
        Fail(buf);
        return false;
    }
    return true;
}

bool StartsNoCase(const std::string& text, const char* lpszPrefix)
{
    size_t n = strlen(lpszPrefix);
    return text.size() >= n && CompareNoCase(text.substr(0, n).c_str(), lpszPrefix) == 0;
}

bool CheckRegistryKey(const char* lpszArg, std::string* pKey)
{
    if (!TextFromNative(lpszArg, pKey)) {
        Fail("the registry key '" + ShownNative(lpszArg) + "' has a character with no code page 932 form");
        return false;
    }
    // The updater reads HKEY_CURRENT_USER; its name may be written out.
    for (const char* lpszHive : { "HKEY_CURRENT_USER\\", "HKCU\\" }) {
        if (StartsNoCase(*pKey, lpszHive)) {
            pKey->erase(0, strlen(lpszHive));
            break;
        }
    }
    if (StartsNoCase(*pKey, "HKEY_") || StartsNoCase(*pKey, "HKLM\\")) {
        Fail("the updater reads its key under HKEY_CURRENT_USER only; give the key below it");
        return false;
    }
    if (HasControlCharacter(*pKey)) {
        Fail("the registry key holds a control character");
        return false;
    }
    // Split at separators that are characters of their own: 0x5C is also
    // the second byte of characters such as SO (83 5C) and NOU (94 5C).
    bool bEmptyPart = pKey->empty();
    size_t nPartStart = 0;
    for (size_t i = 0; i < pKey->size(); i++) {
        if (IsCp932Lead((unsigned char)(*pKey)[i]) && i + 1 < pKey->size()) {
            i++;
        } else if ((*pKey)[i] == '\\') {
            bEmptyPart = bEmptyPart || i == nPartStart;
            nPartStart = i + 1;
        }
    }
    if (bEmptyPart || nPartStart == pKey->size()) {
        Fail("the registry key must be a path such as Software\\Maker\\Title, with no empty part");
        return false;
    }
    if (pKey->size() >= sizeof(((UpdateHeader*)0)->szRegKey)) {
        Fail("the registry key is longer than 127 bytes in code page 932");
        return false;
    }
    return true;
}

bool CheckValueName(const char* lpszArg, std::string* pValue)
{
    if (!TextFromNative(lpszArg, pValue)) {
        Fail("the value name '" + ShownNative(lpszArg) + "' has a character with no code page 932 form");
        return false;
    }
    if (HasControlCharacter(*pValue)) {
        Fail("the value name holds a control character");
        return false;
    }
    if (pValue->size() >= sizeof(((UpdateHeader*)0)->szRegValue)) {
        Fail("the value name is longer than 127 bytes in code page 932");
        return false;
    }
    return true;
}

bool ParseExtra(const char* lpszArg, DWORD* pdwDefault, std::vector<ExtraValue>* pExtras)
{
    const char* lpszEquals = strrchr(lpszArg, '=');
    if (!lpszEquals)
        return ParseDword(lpszArg, pdwDefault);
    ExtraValue extra = { std::string(), 0, false };
    if (lpszEquals == lpszArg || !ParseDword(lpszEquals + 1, &extra.dwExtra) ||
        !TextFromNative(std::string(lpszArg, lpszEquals - lpszArg).c_str(), &extra.path))
        return false;
    // Record paths use backslashes; the command line may use either.
    for (size_t i = 0; i < extra.path.size(); i++) {
        if (IsCp932Lead((unsigned char)extra.path[i]))
            i++;
        else if (extra.path[i] == '/')
            extra.path[i] = '\\';
    }
    pExtras->push_back(extra);
    return true;
}

// A folder record may be named with or without its trailing separator.
bool NamesRecord(const std::string& path, const FileRecord& record)
{
    return CompareNoCase(record.szPath, path.c_str()) == 0 ||
           (IsFolderRecord(&record) && CompareNoCase(record.szPath, (path + "\\").c_str()) == 0);
}

} // namespace

int MakeCommand(int argc, char** argv)
{
    CliArgs cli;
    std::string error = ParseCli(argc, argv,
                                 { { "--output", "-o", true },
                                   { "--extra", NULL, true },
                                   { "--install-dir", NULL, true },
                                   { "--base", NULL, true } },
                                 &cli);
    if (!error.empty())
        return Usage(error, "make");
    const char* lpszOutputArg = cli.Value("--output");
    const char* lpszInstallArg = cli.Value("--install-dir");
    const char* lpszBaseArg = cli.Value("--base");
    if (lpszBaseArg && !lpszOutputArg)
        return Usage("--base needs -o OUTDIR, the folder the whole package is written to", "make");
    DWORD dwDefaultExtra = 0;
    std::vector<ExtraValue> extras;
    for (const auto& option : cli.options)
        if (strcmp(option.first, "--extra") == 0 && !ParseExtra(option.second, &dwDefaultExtra, &extras))
            return Usage("--extra takes N or PATH=N, N from 0 to 4294967295 (or 0x0 to 0xFFFFFFFF)", "make");
    const std::vector<const char*>& args = cli.operands;
    if (args.size() != 4)
        return Usage("make needs a data folder, a title, a registry key and a value name", "make");

    UpdateHeader header;
    memset(&header, 0, sizeof(header));
    std::string title, key, value, installDir;
    if (!CheckTitle(args[1], &title) || !CheckRegistryKey(args[2], &key) || !CheckValueName(args[3], &value))
        return 1;
    memcpy(header.szTitle, title.c_str(), title.size());
    memcpy(header.szRegKey, key.c_str(), key.size());
    memcpy(header.szRegValue, value.c_str(), value.size());
    if (lpszInstallArg) {
        // Registry values end in a separator; the limit counts it.
        if (TextFromNative(lpszInstallArg, &installDir) && !installDir.empty() &&
            !IsSeparatorAt(installDir.c_str(), (int)installDir.size() - 1))
            installDir += '\\';
        if (installDir.empty() || installDir.size() > MAX_INSTALL_DIRECTORY_LENGTH)
            return Fail("--install-dir must be a Windows folder of at most 243 bytes in code page 932, with its "
                        "trailing backslash");
    }

    char lpszDataFull[MAX_PATH], lpszOutputFull[MAX_PATH];
    if (!LibraryPath(args[0], lpszDataFull))
        return 1;
    // "data/" names the folder itself; the list goes beside it, not in it.
    size_t nData = strlen(lpszDataFull);
    if (nData > 3 && IsSeparatorAt(lpszDataFull, (int)nData - 1))
        lpszDataFull[nData - 1] = 0;
    DWORD dwAttributes = PlatGetFileAttributes(lpszDataFull);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("no such folder: " + ShownNative(args[0]));
    char lpszBaseFull[MAX_PATH], lpszPackageFull[MAX_PATH];
    if (lpszBaseArg) {
        // The older release and the package's folder; neither inside the
        // other folders, and the package's new or empty, so that nothing
        // there is overwritten and no release is changed.
        if (!LibraryPath(lpszBaseArg, lpszBaseFull) || !LibraryPath(lpszOutputArg, lpszPackageFull))
            return 1;
        for (char* lpszFull : { lpszBaseFull, lpszPackageFull }) {
            size_t n = strlen(lpszFull);
            if (n > 3 && IsSeparatorAt(lpszFull, (int)n - 1))
                lpszFull[n - 1] = 0;
        }
        DWORD dwBase = PlatGetFileAttributes(lpszBaseFull);
        if (dwBase == INVALID_FILE_ATTRIBUTES || !(dwBase & FILE_ATTRIBUTE_DIRECTORY))
            return Fail("no such folder: " + ShownNative(lpszBaseArg));
        if (IsInsideFolder(lpszOutputArg, args[0]) || IsInsideFolder(lpszOutputArg, lpszBaseArg))
            return Fail("the package must not be written inside the data folder or the older release");
        DWORD dwPackage = PlatGetFileAttributes(lpszPackageFull);
        PlatFindData fd;
        HANDLE hFind = dwPackage == INVALID_FILE_ATTRIBUTES ? NULL
                                                            : PlatFindFirst((std::string(lpszPackageFull) + "\\*").c_str(), &fd);
        bool bEmpty = dwPackage == INVALID_FILE_ATTRIBUTES || (dwPackage & FILE_ATTRIBUTE_DIRECTORY);
        for (bool bMore = hFind != NULL; bMore && bEmpty; bMore = PlatFindNext(hFind, &fd) != 0)
            bEmpty = strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0;
        PlatFindClose(hFind);
        if (!bEmpty)
            return Fail(ShownNative(lpszOutputArg) + " must be a new or empty folder: the package is written there");
        if (strlen(lpszPackageFull) + 1 + strlen(g_szUpdateInfoName) >= MAX_PATH)
            return Fail("the package folder has too long a path for " + std::string(g_szUpdateInfoName));
        strcpy(lpszOutputFull, (std::string(lpszPackageFull) + "\\" + g_szUpdateInfoName).c_str());
    } else if (lpszOutputArg) {
        if (!LibraryPath(lpszOutputArg, lpszOutputFull))
            return 1;
    } else {
        // The layout to ship: update.exe and Updateinf.dat beside data.
        CutFileName(lpszOutputFull, lpszDataFull);
        if (strlen(lpszOutputFull) + 1 + strlen(g_szUpdateInfoName) >= MAX_PATH)
            return Fail("the folder above the data folder has too long a path for " + std::string(g_szUpdateInfoName));
        AddBackslash(lpszOutputFull);
        strcat(lpszOutputFull, g_szUpdateInfoName);
    }
    // The sums go beside the list, under its name with another extension.
    // The name alone: a dot in a folder's name is no extension.
    char lpszSumsFull[MAX_PATH * 2], lpszSumsName[MAX_PATH + 8];
    GetFileName(lpszSumsName, lpszOutputFull);
    ChangeExtension(lpszSumsName, "sum");
    CutFileName(lpszSumsFull, lpszOutputFull);
    AddBackslash(lpszSumsFull);
    strcat(lpszSumsFull, lpszSumsName);
    if (strlen(lpszSumsFull) >= MAX_PATH || CompareNoCase(lpszSumsFull, lpszOutputFull) == 0)
        return Fail("the update list's name leaves no room for its sum file beside it (the list's name with the "
                    "extension .sum); name it otherwise");
    // Through links too, by the file system's own letter case rule.
    std::string outputNative = lpszOutputArg && !lpszBaseArg ? lpszOutputArg : NativePath(lpszOutputFull);
    if (IsInsideFolder(outputNative, args[0]))
        return Fail("the update list must not be written inside the data folder: it would become part of the patch");
    // The patch folder given for its data folder: update.exe or the list
    // would be copied into the game as data.
    // In any letter case, as Windows finds them.
    char lpszPattern[MAX_PATH];
    PlatFindData fdOwn;
    HANDLE hOwn = snprintf(lpszPattern, MAX_PATH, "%s\\*", lpszDataFull) < MAX_PATH
                      ? PlatFindFirst(lpszPattern, &fdOwn)
                      : NULL;
    for (bool bMore = hOwn != NULL; bMore; bMore = PlatFindNext(hOwn, &fdOwn) != 0) {
        for (const char* lpszOwn : { "update.exe", g_szUpdateInfoName, g_szUpdateSumName })
            if (CompareNoCase(fdOwn.cFileName, lpszOwn) == 0)
                fprintf(stderr,
                        "updatelist: warning: %s holds %s: is it the patch folder rather than its data folder? "
                        "Everything in it is installed into the game.\n",
                        ShownNative(args[0]).c_str(), Shown(fdOwn.cFileName).c_str());
    }
    PlatFindClose(hOwn);
    if (!PlatSetCurrentDirectory(lpszDataFull))
        return Fail("cannot enter the folder " + ShownNative(args[0]));

    std::string dataArg = args[0];
    while (dataArg.size() > 1 && (dataArg.back() == '/' || dataArg.back() == '\\'))
        dataArg.pop_back();
    Scanner scanner(dataArg, installDir);
    PlatFileId dataId;
    if (PlatGetFileId(".", &dataId))
        scanner.m_folders.push_back(std::make_pair(dataId, std::string()));
    scanner.Scan("");
    std::vector<FileRecord>& records = scanner.m_records;
    for (FileRecord& record : records)
        record.dwExtra = dwDefaultExtra;
    for (ExtraValue& extra : extras) {
        for (FileRecord& record : records) {
            if (NamesRecord(extra.path, record)) {
                record.dwExtra = extra.dwExtra;
                extra.bUsed = true;
            }
        }
        if (!extra.bUsed)
            scanner.m_errors.push_back("--extra names " + Shown(extra.path.c_str()) +
                                       ", which is not a file or folder in " + ShownNative(dataArg));
    }
    if (!scanner.m_errors.empty()) {
        for (const std::string& error : scanner.m_errors)
            Fail(error);
        return Fail("nothing written");
    }

    DeltaReport delta = {};
    if (lpszBaseArg) {
        std::string dataOut = std::string(lpszPackageFull) + "\\" + g_szSourceFolderName;
        std::vector<std::string> errors;
        CreateDirectories(dataOut.c_str());
        if (PlatGetFileAttributes(dataOut.c_str()) == INVALID_FILE_ATTRIBUTES)
            errors.push_back(ShownNative(lpszOutputArg) + ": its data folder cannot be made");
        else
            WriteDeltaPackage(dataOut.c_str(), lpszBaseFull, records, &scanner.m_sums, scanner.m_nRootLimit, &delta,
                              &errors);
        if (!errors.empty()) {
            for (const std::string& error : errors)
                Fail(error);
            return Fail("the package is incomplete: no update list was written");
        }
    }

    header.dwCount = (DWORD)records.size();
    std::vector<BYTE> file(sizeof(header) + records.size() * sizeof(FileRecord));
    memcpy(file.data(), &header, sizeof(header));
    if (!records.empty())
        memcpy(file.data() + sizeof(header), records.data(), records.size() * sizeof(FileRecord));
    std::string outputShown = ShownNative(outputNative), reason;
    // Named as the list was: in the folder the user wrote.
    size_t nShownSep = outputShown.find_last_of("/\\");
    std::string sumsShown = (nShownSep == std::string::npos ? std::string() : outputShown.substr(0, nShownSep + 1)) +
                            Shown(lpszSumsName);
    bool bDirect = false;
    if (!WriteFileAtomically(lpszOutputFull, file.data(), file.size(), &reason, &bDirect))
        return Fail("cannot write " + outputShown + (reason.empty() ? "" : ": " + reason));
    // Written into standard output (-o /dev/stdout) or a device, the list
    // must not be mixed with the report, which goes to stderr then, and
    // has no folder for its sums beside it. Otherwise the sums follow: a
    // list beside sums of another list is refused by the updater, never
    // installed unchecked.
    FILE* pReport = bDirect ? stderr : stdout;
    std::vector<BYTE> sums = SerializeUpdateSums(scanner.m_sums);
    if (!bDirect && !WriteFileAtomically(lpszSumsFull, sums.data(), sums.size(), &reason))
        return Fail("cannot write " + sumsShown + (reason.empty() ? "" : ": " + reason));

    DWORD dwFolders = 0, dwFiles = 0;
    QWORD qwSize = 0;
    for (const FileRecord& record : records) {
        if (IsFolderRecord(&record)) {
            dwFolders++;
        } else {
            dwFiles++;
            qwSize += record.dwFileSize;
        }
    }
    fprintf(pReport, "Wrote %s: %lu folders, %lu files, %llu bytes.\n", outputShown.c_str(), (unsigned long)dwFolders,
           (unsigned long)dwFiles, (unsigned long long)qwSize);
    if (!bDirect)
        fprintf(pReport, "Wrote %s: the size and SHA-256 of every file.\n", sumsShown.c_str());
    if (lpszBaseArg)
        fprintf(pReport,
                "Wrote its data: %lu deltas (%lu of pack archives' members; %llu bytes) and %lu whole files (%llu "
                "bytes), %llu bytes for %llu bytes of files; %lu files are the same in the older release.\n",
                (unsigned long)delta.dwDeltas, (unsigned long)delta.dwArchives, (unsigned long long)delta.qwDeltaBytes,
                (unsigned long)delta.dwWhole,
                (unsigned long long)delta.qwWholeBytes, (unsigned long long)(delta.qwDeltaBytes + delta.qwWholeBytes),
                (unsigned long long)delta.qwNewBytes, (unsigned long)delta.dwSame);
    if (!records.empty()) {
        // Registry values are at most 243 bytes; the source root is the
        // patch folder with "data\" behind it.
        int nInstall = std::min(scanner.m_nRootLimit, MAX_INSTALL_DIRECTORY_LENGTH);
        int nPatch = scanner.m_nRootLimit - (int)strlen(g_szSourceFolderName) - 1;
        fprintf(pReport,
                "Its paths fit an install folder of up to %d bytes and a patch folder (holding update.exe) of up "
                "to %d bytes, each counted with its trailing backslash.\n",
                nInstall, nPatch);
    }
    return 0;
}
