// updatelist: the command line, what the commands share, and show.
#include "updatelist.h"

#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "nativetext.h"
#include "platform/platform.h"
#include "updatesum.h"

#include <stdio.h>
#include <string.h>

namespace {

const char USAGE_HEAD[] = "Usage: updatelist COMMAND [OPTIONS] ARGS\n";
const char MAKE_HELP[] =
    "  make [OPTIONS] DATA TITLE KEY VALUE\n"
    "      Write the update list of the patch whose files are in the folder DATA:\n"
    "      every folder (before the files in it) and every file, sorted. TITLE is\n"
    "      the product title the updater shows (at most 60 bytes in code page 932),\n"
    "      KEY the registry key under HKEY_CURRENT_USER and VALUE the name of its\n"
    "      string value that holds the game's install folder. Names the updater or\n"
    "      Windows would refuse, links that lead nowhere, FIFOs and devices are\n"
    "      named, and nothing is written.\n"
    "        -o FILE              where to write (default: Updateinf.dat beside DATA);\n"
    "                             never inside DATA, links resolved\n"
    "        --extra N            the records' extra value (default 0)\n"
    "        --extra PATH=N       the extra value of one record (PATH inside DATA)\n"
    "        --install-dir DIR    also refuse paths too long to install below DIR,\n"
    "                             a Windows folder such as C:\\Games\\Title\n"
    "        --base OLD           make a patch against the older release in the\n"
    "                             folder OLD: with -o OUTDIR (new or empty), write\n"
    "                             the whole package there, a file of DATA whose\n"
    "                             path is a file in OLD shipped as a delta from it\n"
    "                             (PATH.dlt in OUTDIR/data) where that is smaller;\n"
    "                             the updater then needs OLD's file installed\n";
const char SHOW_HELP[] =
    "  show [--json] [--type update|uninstall|sums] FILE\n"
    "      Print Updateinf.dat, Uninstallinf.dat or Updateinf.sum: header, counts,\n"
    "      total size and every record (every size and hash). The type follows\n"
    "      from the file name, else from its first bytes or its size.\n";
const char CHECK_HELP[] =
    "  check [--json] PATCH INSTALL\n"
    "      Say what update.exe in the folder PATCH (beside Updateinf.dat and data)\n"
    "      would do to the game installed in INSTALL, without changing anything:\n"
    "      folders to create, files to add or replace, the uninstall entries\n"
    "      appended or changed and the counters after the merge, the free space\n"
    "      needed on each volume, every source file that is missing or not the\n"
    "      size its record says, with Updateinf.sum every source whose hash\n"
    "      differs, and every refusal update.exe's checks would\n"
    "      make, with what the player would see for the first. Exit status 1\n"
    "      when the update would be refused or a source does not match.\n";
const char USAGE_TAIL[] =
    "Names are compared as the file system compares them (with letter case on\n"
    "Linux). Options may follow the operands; -- ends the options.\n"
    "'updatelist COMMAND --help' shows one command.\n"
    "Exit status: 0 on success, 1 on failure, 2 on bad usage.\n";

const char* const UPDATE_TYPE = "update";
const char* const UNINSTALL_TYPE = "uninstall";
const char* const SUMS_TYPE = "sums";

// --- show ----------------------------------------------------------------

struct Totals {
    DWORD dwFolders;
    DWORD dwFiles;
    QWORD qwSize;
};

Totals CountRecords(const FileRecord* pRecords, DWORD dwCount)
{
    Totals totals = { 0, 0, 0 };
    for (DWORD i = 0; i < dwCount; i++) {
        if (IsFolderRecord(&pRecords[i])) {
            totals.dwFolders++;
        } else {
            totals.dwFiles++;
            totals.qwSize += pRecords[i].dwFileSize;
        }
    }
    return totals;
}

void PrintRecordTable(const FileRecord* pRecords, DWORD dwCount)
{
    printf("\n%12s %12s  %s\n", "size", "extra", "path");
    for (DWORD i = 0; i < dwCount; i++) {
        const FileRecord* p = &pRecords[i];
        char szSize[16];
        snprintf(szSize, sizeof(szSize), "%lu", (unsigned long)p->dwFileSize);
        // A folder's size is carried along but never counted.
        printf("%12s %12lu  %s\n", IsFolderRecord(p) && p->dwFileSize == 0 ? "-" : szSize,
               (unsigned long)p->dwExtra, Shown(p->szPath).c_str());
    }
}

void PrintRecordsJson(const FileRecord* pRecords, DWORD dwCount)
{
    printf("  \"records\": [");
    for (DWORD i = 0; i < dwCount; i++) {
        const FileRecord* p = &pRecords[i];
        printf("%s\n    {\"path\": %s, \"folder\": %s, \"size\": %lu, \"extra\": %lu}", i ? "," : "",
               Json(p->szPath).c_str(), IsFolderRecord(p) ? "true" : "false", (unsigned long)p->dwFileSize,
               (unsigned long)p->dwExtra);
    }
    printf("%s]\n", dwCount ? "\n  " : "");
}

int ShowUpdate(const char* lpszPath, const char* lpszArg, bool bJson)
{
    UpdateContext context;
    InitContext(&context);
    std::string reason;
    size_t nTitle = 0;
    if (!LoadUpdateInfo(&context, lpszPath, &reason, &nTitle))
        return Fail(ShownNative(lpszArg) + ": " + reason);
    const UpdateHeader* h = &context.update;
    Totals totals = CountRecords(context.pUpdateRecords, h->dwCount);
    bool bCut = nTitle > strlen(h->szTitle);
    if (bJson) {
        printf("{\n  \"type\": \"%s\",\n  \"title\": %s,\n  \"title_cut\": %s,\n", UPDATE_TYPE, Json(h->szTitle).c_str(),
               bCut ? "true" : "false");
        printf("  \"registry_key\": %s,\n  \"value_name\": %s,\n", Json(h->szRegKey).c_str(),
               Json(h->szRegValue).c_str());
        printf("  \"reserved\": [%lu, %lu],\n", (unsigned long)h->dwReserved1, (unsigned long)h->dwReserved2);
        printf("  \"count\": %lu,\n  \"folders\": %lu,\n  \"files\": %lu,\n  \"total_size\": %llu,\n",
               (unsigned long)h->dwCount, (unsigned long)totals.dwFolders, (unsigned long)totals.dwFiles,
               (unsigned long long)totals.qwSize);
        PrintRecordsJson(context.pUpdateRecords, h->dwCount);
        printf("}\n");
    } else {
        printf("Update list %s\n", ShownNative(lpszArg).c_str());
        printf("  title         %s\n", Shown(h->szTitle).c_str());
        if (bCut)
            printf("                (cut to %d bytes from the file's %d, as the updater shows it)\n",
                   MAX_TITLE_LENGTH, (int)nTitle);
        printf("  registry key  HKEY_CURRENT_USER\\%s\n", Shown(h->szRegKey).c_str());
        printf("  value name    %s\n", Shown(h->szRegValue).c_str());
        printf("  reserved      %lu %lu\n", (unsigned long)h->dwReserved1, (unsigned long)h->dwReserved2);
        printf("  records       %lu: %lu folders, %lu files of %llu bytes in all\n", (unsigned long)h->dwCount,
               (unsigned long)totals.dwFolders, (unsigned long)totals.dwFiles, (unsigned long long)totals.qwSize);
        PrintRecordTable(context.pUpdateRecords, h->dwCount);
    }
    FreeContext(&context);
    return 0;
}

int ShowUninstall(const char* lpszPath, const char* lpszArg, bool bJson)
{
    UpdateContext context;
    InitContext(&context);
    std::string reason;
    if (!LoadUninstallInfo(&context, lpszPath, &reason))
        return Fail(ShownNative(lpszArg) + ": " + reason);
    const UninstallHeader* h = &context.uninstall;
    Totals totals = CountRecords(context.pUninstallRecords, h->dwCount);
    // The counters are kept by whoever writes the file; the records are
    // what the uninstaller acts on, so a disagreement is worth seeing.
    DWORD dwRecordTotal = (DWORD)totals.qwSize;
    if (bJson) {
        printf("{\n  \"type\": \"%s\",\n  \"count\": %lu,\n  \"file_count\": %lu,\n  \"total_size\": %lu,\n",
               UNINSTALL_TYPE, (unsigned long)h->dwCount, (unsigned long)h->dwFileCount,
               (unsigned long)h->dwTotalSize);
        printf("  \"counted\": {\"folders\": %lu, \"files\": %lu, \"total_size\": %lu},\n",
               (unsigned long)totals.dwFolders, (unsigned long)totals.dwFiles, (unsigned long)dwRecordTotal);
        PrintRecordsJson(context.pUninstallRecords, h->dwCount);
        printf("}\n");
    } else {
        printf("Uninstall list %s\n", ShownNative(lpszArg).c_str());
        printf("  records       %lu (%lu folders)\n", (unsigned long)h->dwCount, (unsigned long)totals.dwFolders);
        printf("  files         %lu", (unsigned long)h->dwFileCount);
        if (h->dwFileCount != totals.dwFiles)
            printf("  (but the records hold %lu)", (unsigned long)totals.dwFiles);
        printf("\n  total size    %lu bytes", (unsigned long)h->dwTotalSize);
        if (h->dwTotalSize != dwRecordTotal)
            printf("  (but the records add up to %lu)", (unsigned long)dwRecordTotal);
        printf("\n");
        PrintRecordTable(context.pUninstallRecords, h->dwCount);
    }
    FreeContext(&context);
    return 0;
}

int ShowSums(const char* lpszPath, const char* lpszArg, bool bJson)
{
    std::vector<SumEntry> entries;
    std::string reason;
    DWORD dwVersion = 0;
    if (!LoadUpdateSums(lpszPath, &entries, &reason, &dwVersion))
        return Fail(ShownNative(lpszArg) + ": " + reason);
    if (bJson) {
        printf("{\n  \"type\": \"%s\",\n  \"version\": %lu,\n  \"count\": %lu,\n  \"entries\": [", SUMS_TYPE,
               (unsigned long)dwVersion, (unsigned long)entries.size());
        for (size_t i = 0; i < entries.size(); i++) {
            const SumEntry& e = entries[i];
            printf("%s\n    {\"size\": %llu, \"sha256\": \"%s\", \"source_size\": %llu, \"source_sha256\": \"%s\"",
                   i ? "," : "", (unsigned long long)e.qwInstalledSize, DigestText(e.abInstalled).c_str(),
                   (unsigned long long)e.qwSourceSize, DigestText(e.abSource).c_str());
            if (e.dwKind != SUM_WHOLE)
                printf(", \"delta\": %s, \"archive_delta\": %s, \"base_size\": %llu, \"base_sha256\": \"%s\"", Json(e.szSource).c_str(),
                       e.dwKind == SUM_ARCHIVE_DELTA ? "true" : "false", (unsigned long long)e.qwBaseSize, DigestText(e.abBase).c_str());
            printf("}");
        }
        printf("%s]\n}\n", entries.empty() ? "" : "\n  ");
        return 0;
    }
    printf("Sum file %s\n  version       %lu\n  entries       %lu (one per record of the update list, in its order; "
           "a folder's all zeros)\n",
           ShownNative(lpszArg).c_str(), (unsigned long)dwVersion, (unsigned long)entries.size());
    printf("\n%6s %12s  %-64s  %s\n", "record", "size", "sha256", "source");
    for (size_t i = 0; i < entries.size(); i++) {
        const SumEntry& e = entries[i];
        bool bSame = e.qwSourceSize == e.qwInstalledSize && memcmp(e.abSource, e.abInstalled, sizeof(e.abSource)) == 0;
        std::string source = bSame ? "the same" : std::to_string(e.qwSourceSize) + " " + DigestText(e.abSource);
        if (e.dwKind != SUM_WHOLE)
            source = (e.dwKind == SUM_ARCHIVE_DELTA ? "archive delta " : "delta ") + Shown(e.szSource) + " " + source + ", from " + std::to_string(e.qwBaseSize) + " " +
                     DigestText(e.abBase);
        printf("%6lu %12llu  %s  %s\n", (unsigned long)i + 1, (unsigned long long)e.qwInstalledSize,
               DigestText(e.abInstalled).c_str(), source.c_str());
    }
    return 0;
}

// The lists have no magic number: a file whose size is exactly what one
// header's count promises is taken to be of that kind.
const char* GuessType(const char* lpszPath)
{
    char lpszName[MAX_PATH];
    GetFileName(lpszName, lpszPath);
    if (CompareNoCase(lpszName, g_szUpdateInfoName) == 0)
        return UPDATE_TYPE;
    if (CompareNoCase(lpszName, g_szUninstallInfoName) == 0)
        return UNINSTALL_TYPE;
    if (CompareNoCase(lpszName, g_szUpdateSumName) == 0)
        return SUMS_TYPE;
    CFile clFile;
    if (!clFile.Open(lpszPath, 0))
        return NULL;
    QWORD qwSize = clFile.m_qwSize;
    BYTE header[sizeof(UninstallHeader)];
    DWORD dwRead = clFile.Read(header, sizeof(header));
    if (dwRead >= sizeof(g_abSumMagic) && memcmp(header, g_abSumMagic, sizeof(g_abSumMagic)) == 0)
        return SUMS_TYPE;
    bool bUpdate = false, bUninstall = false;
    if (dwRead >= sizeof(UpdateHeader)) {
        const UpdateHeader* p = (const UpdateHeader*)header;
        bUpdate = qwSize == sizeof(UpdateHeader) + (QWORD)p->dwCount * sizeof(FileRecord);
    }
    if (dwRead == sizeof(UninstallHeader)) {
        const UninstallHeader* p = (const UninstallHeader*)header;
        bUninstall = qwSize == sizeof(UninstallHeader) + (QWORD)p->dwCount * sizeof(FileRecord);
    }
    if (bUpdate == bUninstall)
        return NULL;
    return bUpdate ? UPDATE_TYPE : UNINSTALL_TYPE;
}

} // namespace

int ShowCommand(int argc, char** argv)
{
    CliArgs args;
    std::string error = ParseCli(argc, argv, { { "--json", NULL, false }, { "--type", NULL, true } }, &args);
    if (!error.empty())
        return Usage(error, "show");
    bool bJson = args.Has("--json");
    const char* lpszType = args.Value("--type");
    if (lpszType && strcmp(lpszType, UPDATE_TYPE) != 0 && strcmp(lpszType, UNINSTALL_TYPE) != 0 &&
        strcmp(lpszType, SUMS_TYPE) != 0)
        return Usage("--type takes update, uninstall or sums", "show");
    if (args.operands.size() != 1)
        return Usage(args.operands.empty() ? "show needs a file" : "show takes one file", "show");
    const char* lpszArg = args.operands[0];
    // The full path has backslashes only, so its file name can be taken.
    char lpszPath[MAX_PATH];
    if (!LibraryPath(lpszArg, lpszPath))
        return 1;
    DWORD dwAttributes = PlatGetFileAttributes(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fail("no such file: " + ShownNative(lpszArg));
    if (!lpszType)
        lpszType = GuessType(lpszPath);
    if (!lpszType)
        return Fail(ShownNative(lpszArg) + ": cannot tell an update list from an uninstall list by its name or " +
                    "size; name the kind with --type update or --type uninstall");
    if (strcmp(lpszType, UPDATE_TYPE) == 0)
        return ShowUpdate(lpszPath, lpszArg, bJson);
    if (strcmp(lpszType, SUMS_TYPE) == 0)
        return ShowSums(lpszPath, lpszArg, bJson);
    return ShowUninstall(lpszPath, lpszArg, bJson);
}

// --- Shared ----------------------------------------------------------------

int Fail(const std::string& text)
{
    fprintf(stderr, "updatelist: %s\n", text.c_str());
    return 1;
}

int Usage(const std::string& text, const char* lpszCommand)
{
    fprintf(stderr, "updatelist: %s\nTry 'updatelist %s--help'.\n", text.c_str(),
            lpszCommand ? (std::string(lpszCommand) + " ").c_str() : "");
    return 2;
}

bool LibraryPath(const char* lpszArg, char* lpszFull)
{
    std::string problem;
    if (ToLibraryPath(lpszArg, lpszFull, &problem))
        return true;
    Fail("cannot use " + problem);
    return false;
}

std::string NativePath(const char* lpszPath)
{
    std::string shown = Shown(lpszPath);
#ifndef _WIN32
    if (shown.compare(0, 3, "Z:\\") == 0)
        shown.erase(0, 2);
    // In UTF-8 every backslash left is a separator.
    for (char& c : shown)
        if (c == '\\')
            c = '/';
#endif
    return shown;
}

int main(int argc, char** argv)
{
    StartNativeText(&argc, &argv);
    PlatRemoveTempFilesOnInterrupt();
    if (argc < 2)
        return Usage("a command is required");
    const char* lpszCommand = argv[1];
    if (strcmp(lpszCommand, "--help") == 0 || strcmp(lpszCommand, "-h") == 0 || strcmp(lpszCommand, "help") == 0) {
        printf("%s\n%s\n%s\n%s\n%s", USAGE_HEAD, MAKE_HELP, SHOW_HELP, CHECK_HELP, USAGE_TAIL);
        return FinishOutput("updatelist", 0);
    }
    static const struct {
        const char* lpszName;
        int (*pfnRun)(int, char**);
        const char* lpszHelp;
    } COMMANDS[] = { { "make", MakeCommand, MAKE_HELP },
                     { "show", ShowCommand, SHOW_HELP },
                     { "check", CheckCommand, CHECK_HELP } };
    for (const auto& command : COMMANDS) {
        if (strcmp(lpszCommand, command.lpszName) != 0)
            continue;
        if (AsksForHelp(argc - 2, argv + 2)) {
            printf("%s\n%s\n%s", USAGE_HEAD, command.lpszHelp, USAGE_TAIL);
            return FinishOutput("updatelist", 0);
        }
        return FinishOutput("updatelist", command.pfnRun(argc - 2, argv + 2));
    }
    return Usage("unknown command: " + ShownNative(lpszCommand));
}
