// packtool: builds, lists, tests and extracts pack archives, and runs the
// three codecs on single files as raw streams.
#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "file/path.h"
#include "file/tempfile.h"
#include "pack/cpack.h"
#include "pack/pack_util.h"
#include "platform/platform.h"
#include "platform/volume.h"

#include "cli.h"
#include "nativetext.h"

#include <atomic>
#include <new>
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

struct Command {
    const char* lpszName;
    int (*pfnRun)(int argc, char** argv);
    const char* lpszHelp;
};

const char USAGE_HEAD[] = "Usage: packtool COMMAND [OPTIONS] ARGS\n";
const char USAGE_TAIL[] =
    "\n"
    "Member names are file names without folders, at most 63 bytes, compared with\n"
    "the letters A to Z taken as a to z; where names repeat, lookups, cat and a\n"
    "named extract take the first member. create, test and extract work on every\n"
    "core; -j N (--jobs) sets how many threads. Options may follow the operands;\n"
    "-- ends the options. 'packtool COMMAND --help' shows one command.\n"
    "Exit status: 0 on success, 1 on failure, 2 on bad usage.\n";

const char HELP_CREATE[] =
    "  create [--method M] [-f] [-j N] ARCHIVE PATH...\n"
    "      Pack files and folder trees, flattened, with one method M: store, slide,\n"
    "      huffman or zlib (default zlib). Folders whose names begin with a dot are\n"
    "      skipped, and counted on stderr. A name with no code page 932 form, a link\n"
    "      that leads nowhere, an unreadable file, a FIFO or a device, a file of\n"
    "      4 GiB or more, a link back to a folder already packed (a loop) and a file\n"
    "      gone when it came to be packed are left out and named on stderr, and the\n"
    "      exit status is then 1; a file whose size changed since the scan fails the\n"
    "      whole archive. Empty folders are named. The archive is never one\n"
    "      of its own members. An existing ARCHIVE that is not a pack archive is\n"
    "      replaced only with -f (--force).\n"
    "      Memory: a stored member is copied in blocks of 1 MiB; a coded one is held\n"
    "      whole with room for its coded form, at most about 2.2 times its size\n"
    "      (slide; about 2 times for huffman and zlib).\n";
const char HELP_LIST[] =
    "  list [--json] ARCHIVE\n"
    "      Members: size, stored size, ratio, offset, name (--json: the same as\n"
    "      JSON, names in UTF-8).\n";
const char HELP_TEST[] =
    "  test [-j N] ARCHIVE\n"
    "      Check the header and directory and decode every member to its stated\n"
    "      size. The format has no checksum: changed bytes inside a stored, slide\n"
    "      or huffman member cannot be found (a zlib member carries its own check).\n";
const char HELP_EXTRACT[] =
    "  extract [-C DIR] [-f] [-j N] ARCHIVE [MEMBER...]\n"
    "      Write all or the named members into DIR (default: the current folder).\n"
    "      An existing file is replaced only with -f (--force), never when it is\n"
    "      read-only; without -f nothing is written when one exists. A link at a\n"
    "      member's name is replaced, never written through. Of members that name\n"
    "      one file on this system (equal names; on Windows also letter case in any\n"
    "      script, such as full-width letters; everywhere two codes of one\n"
    "      character), only the first is written; the others are named and the exit\n"
    "      status is 1. Threads hold at most 256 MiB of decoded members at once\n"
    "      (or one larger member).\n";
const char HELP_CAT[] =
    "  cat ARCHIVE MEMBER\n"
    "      Write one member (the first of that name) to standard output.\n";
const char HELP_CODEC[] =
    "  compress --method slide|huffman|zlib IN OUT\n"
    "  decompress --method slide|huffman|zlib --size N IN OUT\n"
    "      Raw codec streams. They carry no length, so decompression is told the\n"
    "      size; slide and huffman streams carry no check either, so damage inside\n"
    "      them is decoded without a word (a zlib stream's own check is tested).\n";

const char* const METHOD_NAMES[] = { "store", "slide", "huffman", "zlib" };

// Set when a command meets a problem it reports and goes on past (on any
// thread).
std::atomic<int> g_nProblems(0);

const CliOption JOBS_OPTION = { "--jobs", "-j", true };
const char JOBS_USAGE[] = "-j takes a thread count from 1 to 256";

// The thread count of -j N (1 to 256), or 0, one per core, without it.
// -1 for a count that is not one.
int ParseJobs(const CliArgs& args)
{
    if (!args.Has("--jobs"))
        return 0;
    char* pEnd;
    long n = strtol(args.Value("--jobs"), &pEnd, 10);
    return *pEnd || n < 1 || n > 256 ? -1 : (int)n;
}

int Fail(const std::string& text)
{
    fprintf(stderr, "packtool: %s\n", text.c_str());
    return 1;
}

void Problem(const std::string& text)
{
    Fail(text);
    g_nProblems++;
}

int Usage(const std::string& text, const char* lpszCommand = NULL)
{
    fprintf(stderr, "packtool: %s\nTry 'packtool %s--help'.\n", text.c_str(),
            lpszCommand ? (std::string(lpszCommand) + " ").c_str() : "");
    return 2;
}

// A command-line path as a full library path; reports the failure itself.
bool LibraryPath(const char* lpszArg, char* lpszPath)
{
    std::string problem;
    if (ToLibraryPath(lpszArg, lpszPath, &problem))
        return true;
    Fail("cannot use " + problem);
    return false;
}

// A member name as typed (no folder part), in code page 932.
bool MemberName(const char* lpszArg, std::string* pName)
{
    if (TextFromNative(lpszArg, pName))
        return true;
    Fail("the member name '" + ShownNative(lpszArg) + "' has a character with no code page 932 form");
    return false;
}

int ParseMethod(const char* lpszName)
{
    for (int i = 0; i < 4; i++)
        if (strcmp(lpszName, METHOD_NAMES[i]) == 0)
            return i;
    return -1;
}

// Whether two full library paths name one file, by the file system's own
// letter case rule.
bool SamePath(const char* lpszA, const char* lpszB)
{
#ifdef _WIN32
    return CompareNoCase(lpszA, lpszB) == 0;
#else
    return strcmp(lpszA, lpszB) == 0;
#endif
}

bool Exists(const char* lpszPath)
{
    return PlatGetFileAttributes(lpszPath) != INVALID_FILE_ATTRIBUTES || PlatIsLink(lpszPath);
}

// --- create ---------------------------------------------------------------

struct Progress {
    QWORD qwTotal;
    QWORD qwDone;
    bool bTerminal;
    // The members in catalogue order with the sizes they were scanned
    // with, and the next one Save has not yet come to: one it passes over
    // was gone when it came to be packed.
    std::vector<const PackMember*> members;
    const std::vector<std::string>* pShown; // each member's file as the user spells it
    size_t nNext;
    bool bInMember; // calls alternate: before a member, after it
    std::vector<std::string> gone;
    std::string changed; // what made Save refuse a file that changed
};

// At most nBytes of UTF-8 text, cut before a character rather than inside
// one, padded with spaces to nBytes.
std::string FitUtf8(const std::string& text, size_t nBytes)
{
    size_t n = text.size() <= nBytes ? text.size() : nBytes;
    while (n < text.size() && n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
        n--;
    return text.substr(0, n) + std::string(nBytes - n, ' ');
}

void ShowProgress(const PackDirEntry* pEntry, DWORD dwDone, DWORD dwTotal, DWORD dwPackSize, void* lpUserData)
{
    (void)dwTotal;
    (void)dwPackSize;
    Progress* pProgress = (Progress*)lpUserData;
    pProgress->bInMember = !pProgress->bInMember;
    if (!pProgress->bInMember) {
        pProgress->qwDone += dwDone;
    } else {
        while (pProgress->nNext < pProgress->members.size() &&
               strcmp(pProgress->members[pProgress->nNext]->szName, pEntry->szName) != 0)
            pProgress->gone.push_back((*pProgress->pShown)[pProgress->nNext++]);
        size_t nAt = pProgress->nNext++;
        const PackMember* p = nAt < pProgress->members.size() ? pProgress->members[nAt] : NULL;
        if (p && p->dwOrgSize != pEntry->dwOrgSize) {
            char buf[128];
            snprintf(buf, sizeof(buf), " changed while it was packed (%lu bytes when scanned, now %s%lu)",
                     (unsigned long)p->dwOrgSize, pEntry->dwOrgSize == 0xFFFFFFFF ? "4 GiB or more, not " : "",
                     (unsigned long)pEntry->dwOrgSize);
            pProgress->changed = (*pProgress->pShown)[nAt] + buf;
        }
    }
    if (!pProgress->bTerminal)
        return;
    // A member that grew since the scan must not push the bar past its end.
    QWORD qwDone = pProgress->qwDone < pProgress->qwTotal ? pProgress->qwDone : pProgress->qwTotal;
    int nPercent = pProgress->qwTotal ? (int)(qwDone * 100 / pProgress->qwTotal) : 100;
    char bar[31];
    memset(bar, ' ', 30);
    memset(bar, '#', nPercent * 30 / 100);
    bar[30] = 0;
    fprintf(stderr, "\r[%s] %3d%% %s", bar, nPercent, FitUtf8(Shown(pEntry->szName), 40).c_str());
    fflush(stderr);
}

// Between a folder and a name as the user types paths.
#ifdef _WIN32
const char NATIVE_SEP[] = "\\";
#else
const char NATIVE_SEP[] = "/";
#endif

// The native name (UTF-8) of an entry the library listed.
std::string NativeName(const char* lpszName)
{
    return TextToUtf8(lpszName);
}

// Walks the inputs of create into the catalogue, naming everything it
// leaves out. Library paths are full; shown paths are as the user typed
// them, with the entries below in the console's spelling.
class Collector {
public:
    Collector(CPack* pPack, const char* lpszArchive) : m_pPack(pPack), m_lpszArchive(lpszArchive), m_nDotFolders(0)
    {
    }

    void AddFolder(const std::string& lib, const std::string& native, const std::string& shown)
    {
        // A folder reached a second time (a link back up the tree, or a
        // second way to one folder) would be walked for ever or packed
        // twice: it is named, and left out.
        PlatFileId id;
        if (PlatGetFileId(lib.c_str(), &id)) {
            for (const auto& seen : m_folders) {
                if (PlatSameFile(&seen.first, &id)) {
                    Problem(shown + ": left out: a link loop or a second way to " + seen.second +
                            ", which is packed already");
                    return;
                }
            }
            m_folders.push_back(std::make_pair(id, shown));
        }
        // The archive holds no folders: an empty one would vanish unseen.
        if (!AddEntries(lib, native, shown))
            fprintf(stderr, "packtool: warning: %s: an empty folder; an archive holds files only\n", shown.c_str());
    }

    // The folder's entries; how many there were (-1: it cannot be read).
    int AddEntries(const std::string& lib, const std::string& native, const std::string& shown)
    {
        int nEntries = 0;
        std::set<std::string> special;
        for (const std::string& name : UnrepresentableNames(native)) {
            Problem(shown + NATIVE_SEP + ShownNative(name) + ": left out: the name has no code page 932 form");
            nEntries++;
        }
        for (const SpecialEntry& entry : SpecialEntries(native)) {
            Problem(shown + NATIVE_SEP + ShownNative(entry.name) + ": left out: " + entry.lpszWhat);
            nEntries++;
            std::string name;
            if (TextFromNative(entry.name.c_str(), &name))
                special.insert(name);
        }
        PlatFindData fd;
        HANDLE hFind = PlatFindFirst((lib + "\\*").c_str(), &fd);
        if (!hFind) {
            // A readable folder lists at least "." and "..".
            Problem(shown + ": left out: the folder cannot be read");
            return -1;
        }
        do {
            const char* lpszName = fd.cFileName;
            // Names with no code-page-932 form were named above.
            if (strcmp(lpszName, ".") == 0 || strcmp(lpszName, "..") == 0 || special.count(lpszName) ||
                fd.bNoCp932Name)
                continue;
            nEntries++;
            std::string entryLib = lib + "\\" + lpszName, entryShown = shown + NATIVE_SEP + Shown(lpszName);
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                AddFile(entryLib, entryShown);
            else if (lpszName[0] == '.')
                m_nDotFolders++;
            else if (entryLib.size() >= MAX_PATH)
                Problem(entryShown + ": left out: its path is longer than 259 bytes");
            else
                AddFolder(entryLib, native + NATIVE_SEP + NativeName(lpszName), entryShown);
        } while (PlatFindNext(hFind, &fd));
        PlatFindClose(hFind);
        return nEntries;
    }

    void AddFile(const std::string& lib, const std::string& shown)
    {
        if (SamePath(lib.c_str(), m_lpszArchive))
            return; // the archive being written, from an earlier run
        char lpszName[MAX_PATH];
        if (lib.size() >= MAX_PATH) {
            Problem(shown + ": left out: its path is longer than 259 bytes");
            return;
        }
        ClearSystemError();
        HANDLE hFile = PlatOpenFile(lib.c_str(), 0);
        if (!hFile) {
            std::string reason = LastSystemError();
            Problem(shown + ": left out: it cannot be read" + (reason.empty() ? "" : " (" + reason + ")"));
            return;
        }
        QWORD qwSize = PlatGetFileSize(hFile);
        PlatCloseFile(hFile);
        GetFileName(lpszName, lib.c_str());
        if (!ArchiveLengthFits(qwSize))
            Problem(shown + ": left out: it is 4 GiB or larger; a member holds at most 4 GiB - 1 bytes");
        else if (strlen(lpszName) >= PACK_NAME_SIZE)
            Problem(shown + ": left out: the name is longer than 63 bytes, more than a member name holds");
        else if (CheckComponentName(lpszName) != NAME_OK)
            Problem(shown + ": left out: the name is one Windows does not take as it is (a device name, a "
                            "character it forbids, a final dot or space, or bytes that are not code page 932)");
        else if (!m_pPack->AddFile(lib.c_str()))
            Problem(shown + ": left out: it cannot be read");
        else
            m_shown.push_back(shown);
    }

    // Each member's file as shown, in catalogue order.
    const std::vector<std::string>& ShownFiles() const { return m_shown; }

    int DotFolders() const { return m_nDotFolders; }

private:
    CPack* m_pPack;
    const char* m_lpszArchive;
    int m_nDotFolders;
    std::vector<std::pair<PlatFileId, std::string>> m_folders; // every folder walked, as shown
    std::vector<std::string> m_shown;
};

// An existing target is replaced only when it is a pack archive (one this
// tool wrote before) or with --force: "create file1 file2" must not
// destroy file1.
bool TargetMayBeReplaced(const char* lpszArchive, const char* lpszArg, bool bForce)
{
    if (PlatIsLink(lpszArchive) && PlatGetFileAttributes(lpszArchive) == INVALID_FILE_ATTRIBUTES)
        return true; // a dangling link is replaced, never followed
    DWORD dwAttributes = PlatGetFileAttributes(lpszArchive);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return true;
    if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        Fail(std::string("cannot write ") + ShownNative(lpszArg) + ": a folder of that name is in the way");
        return false;
    }
    CPack clProbe;
    if (bForce || clProbe.OpenArchive(lpszArchive))
        return true;
    Fail(ShownNative(lpszArg) + " exists and is not a pack archive; nothing written (-f replaces it; was the archive name "
                          "forgotten?)");
    return false;
}

int Create(int argc, char** argv)
{
    CliArgs args;
    std::string error =
        ParseCli(argc, argv, { { "--method", "-m", true }, { "--force", "-f", false }, JOBS_OPTION }, &args);
    if (!error.empty())
        return Usage(error, "create");
    int nThreads = ParseJobs(args);
    if (nThreads < 0)
        return Usage(JOBS_USAGE, "create");
    int nMethod = PACK_ZLIB;
    if (args.Has("--method") && (nMethod = ParseMethod(args.Value("--method"))) < 0)
        return Usage("--method takes store, slide, huffman or zlib", "create");
    if (args.operands.size() < 2)
        return Usage("create needs an archive name and at least one file or folder", "create");
    const char* lpszArchiveArg = args.operands[0];
    char lpszArchive[MAX_PATH], lpszPath[MAX_PATH];
    if (!LibraryPath(lpszArchiveArg, lpszArchive))
        return 1;
    // Nothing is written when an input is missing or is the archive itself.
    std::vector<std::string> inputs;
    for (size_t k = 1; k < args.operands.size(); k++) {
        if (!LibraryPath(args.operands[k], lpszPath))
            return 1;
        if (!Exists(lpszPath))
            return Fail("no such file or folder: " + ShownNative(args.operands[k]));
        if (SamePath(lpszPath, lpszArchive))
            return Fail(ShownNative(lpszArchiveArg) + " is the archive to write and one of its inputs; nothing written");
        inputs.push_back(lpszPath);
    }
    if (!TargetMayBeReplaced(lpszArchive, lpszArchiveArg, args.Has("--force")))
        return 1;

    CPack clPack;
    clPack.SetThreads(nThreads);
    Collector collector(&clPack, lpszArchive);
    for (size_t k = 0; k < inputs.size(); k++) {
        std::string shown = ShownNative(args.operands[k + 1]);
        while (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\'))
            shown.pop_back();
        DWORD dwAttributes = PlatGetFileAttributes(inputs[k].c_str());
        if (dwAttributes == INVALID_FILE_ATTRIBUTES)
            Problem(shown + ": left out: a symbolic link that leads nowhere or round in a loop");
        else if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            collector.AddFolder(inputs[k], args.operands[k + 1], shown);
        else
            collector.AddFile(inputs[k], shown);
    }
    if (collector.DotFolders())
        fprintf(stderr, "packtool: skipped %d folder%s whose name begins with a dot\n", collector.DotFolders(),
                collector.DotFolders() == 1 ? "" : "s");

    if (!clPack.GetMemberCount())
        return Fail("nothing to pack: no file was found in " +
                    std::string(inputs.size() == 1 ? ShownNative(args.operands[1]) : "the inputs") +
                    "; nothing written");
    const std::vector<std::string>& shownFiles = collector.ShownFiles();
    Progress progress = { 0, 0, PlatIsTerminal(2) != 0, {}, &shownFiles, 0, false, {}, {} };
    for (PackMember* p = clPack.GetFirstMember(); p;
         p = clPack.GetNextMember()) {
        progress.qwTotal += p->dwOrgSize;
        progress.members.push_back(p);
        // Folders are flattened: a second file of a name can never be found.
        PackMember* pFirst = clPack.Find(p->szName);
        if (pFirst != p) {
            size_t nFirst = 0;
            while (progress.members[nFirst] != pFirst)
                nFirst++;
            fprintf(stderr, "packtool: warning: %s is packed twice (%s, then %s); lookups find only the first\n",
                    Shown(p->szName).c_str(), shownFiles[nFirst].c_str(), shownFiles[progress.members.size() - 1].c_str());
        }
    }
    ClearSystemError();
    int nResult = clPack.Save(lpszArchive, nMethod, ShowProgress, &progress);
    if (progress.bTerminal)
        fprintf(stderr, "\n");
    if (!nResult) {
        const PackMember* pCause = NULL;
        int nProblem = clPack.GetSaveProblem(&pCause);
        std::string reason = nProblem == PACK_SAVE_CHANGED && !progress.changed.empty() ? progress.changed
                             : nProblem == PACK_SAVE_TOO_LARGE
                                 ? "the archive would pass 4 GiB, the most the format holds"
                                 : WriteProblem(lpszArchive);
        return Fail("cannot write " + ShownNative(lpszArchiveArg) + (reason.empty() ? "" : ": " + reason) +
                    "; nothing written");
    }
    // Members Save passed over had no file left to pack.
    for (size_t i = progress.nNext; i < progress.members.size(); i++)
        progress.gone.push_back(shownFiles[i]);
    for (const std::string& path : progress.gone)
        Problem(path + ": left out: it was gone when it came to be packed");
    return g_nProblems ? 1 : 0;
}

// --- list, test, extract, cat -------------------------------------------

bool OpenArchive(CPack* pPack, const char* lpszArg)
{
    char lpszPath[MAX_PATH];
    if (!LibraryPath(lpszArg, lpszPath))
        return false;
    if (!pPack->OpenArchive(lpszPath)) {
        Fail(ShownNative(lpszArg) + (Exists(lpszPath) ? " is not a readable pack archive (damaged, or another kind of file)"
                                                : ": no such file"));
        return false;
    }
    return true;
}

// For scripts: the table's facts, names in UTF-8 whatever the console speaks.
void ListJson(CPack* pPack)
{
    PackMember* pFirst = pPack->GetFirstMember();
    printf("{\n  \"method\": %s,\n  \"members\": [", pFirst ? Json(METHOD_NAMES[pFirst->nMethod]).c_str() : "null");
    for (PackMember* p = pFirst; p; p = pPack->GetNextMember())
        printf("%s\n    {\"name\": %s, \"size\": %lu, \"stored\": %lu, \"offset\": %lu}", p == pFirst ? "" : ",",
               Json(p->szName).c_str(), (unsigned long)p->dwOrgSize, (unsigned long)p->dwPackSize,
               (unsigned long)p->dwOffset);
    printf("%s]\n}\n", pFirst ? "\n  " : "");
}

int List(int argc, char** argv)
{
    CliArgs args;
    std::string error = ParseCli(argc, argv, { { "--json", NULL, false } }, &args);
    if (!error.empty())
        return Usage(error, "list");
    if (args.operands.size() != 1)
        return Usage("list needs one archive", "list");
    CPack clPack;
    if (!OpenArchive(&clPack, args.operands[0]))
        return 1;
    if (args.Has("--json")) {
        ListJson(&clPack);
        return 0;
    }
    PackMember* pFirst = clPack.GetFirstMember();
    printf("method: %s\n", pFirst ? METHOD_NAMES[pFirst->nMethod] : "-");
    printf("%12s %12s %7s %10s  %s\n", "size", "stored", "ratio", "offset", "name");
    QWORD qwOrg = 0, qwPack = 0;
    for (PackMember* p = pFirst; p; p = clPack.GetNextMember()) {
        double dRatio = p->dwOrgSize ? 100.0 * p->dwPackSize / p->dwOrgSize : 100.0;
        printf("%12lu %12lu %6.1f%% %10lu  %s\n", (unsigned long)p->dwOrgSize, (unsigned long)p->dwPackSize,
               dRatio, (unsigned long)p->dwOffset, Shown(p->szName).c_str());
        qwOrg += p->dwOrgSize;
        qwPack += p->dwPackSize;
    }
    printf("%12llu %12llu %6.1f%% %10s  %d members\n", (unsigned long long)qwOrg, (unsigned long long)qwPack,
           qwOrg ? 100.0 * qwPack / qwOrg : 100.0, "", clPack.GetMemberCount());
    return 0;
}

int Test(int argc, char** argv)
{
    CliArgs args;
    std::string error = ParseCli(argc, argv, { JOBS_OPTION }, &args);
    if (!error.empty())
        return Usage(error, "test");
    int nThreads = ParseJobs(args);
    if (nThreads < 0)
        return Usage(JOBS_USAGE, "test");
    if (args.operands.size() != 1)
        return Usage("test needs one archive", "test");
    CPack clPack;
    if (!OpenArchive(&clPack, args.operands[0]))
        return 1;
    // Decoded on every thread; the damage is reported in catalogue order.
    std::vector<PackMember*> members;
    for (PackMember* p = clPack.GetFirstMember(); p; p = clPack.GetNextMember())
        members.push_back(p);
    enum { SOUND, DAMAGED, NO_MEMORY };
    std::vector<char> result(members.size());
    PackMemoryGate clGate;
    RunItems(nThreads, members.size(), [&](size_t i) {
        PackMember* p = members[i];
        QWORD qwMemory = MemberMemory(p);
        if (!qwMemory) {
            // Stored in the file: read through in blocks, whatever its size.
            CFile clMember;
            bool bOk = clMember.OpenPack(&clPack, p->szName, 0) != 0;
            for (DWORD dwLeft = p->dwOrgSize; bOk && dwLeft;) {
                BYTE abBlock[1 << 16];
                DWORD dwBlock = dwLeft < sizeof(abBlock) ? dwLeft : (DWORD)sizeof(abBlock);
                bOk = clMember.Read(abBlock, dwBlock) == dwBlock;
                dwLeft -= dwBlock;
            }
            result[i] = bOk ? SOUND : DAMAGED;
            return;
        }
        clGate.Enter(qwMemory);
        BYTE* pBuffer = new (std::nothrow) BYTE[(size_t)p->dwOrgSize + 1];
        // The decoder's block beside the content: a failure for want of
        // memory is no damage.
        BYTE* pRoom = pBuffer ? new (std::nothrow) BYTE[(size_t)p->dwPackSize + 1] : NULL;
        delete[] pRoom;
        result[i] = !pRoom ? NO_MEMORY : clPack.ReadMember(p, &pBuffer) ? SOUND : DAMAGED;
        delete[] pBuffer;
        clGate.Leave(qwMemory);
    });
    int nDamaged = 0, nUnchecked = 0, nCount = (int)members.size();
    for (size_t i = 0; i < members.size(); i++) {
        if (result[i] == DAMAGED) {
            fprintf(stderr, "packtool: damaged: %s\n", Shown(members[i]->szName).c_str());
            nDamaged++;
        } else if (result[i] == NO_MEMORY) {
            fprintf(stderr, "packtool: not checked: %s: out of memory (%lu bytes to decode)\n",
                    Shown(members[i]->szName).c_str(), (unsigned long)members[i]->dwOrgSize);
            nUnchecked++;
        }
    }
    if (nDamaged || nUnchecked) {
        if (nDamaged)
            fprintf(stderr, "packtool: %d of %d members damaged\n", nDamaged, nCount);
        return 1;
    }
    bool bChecked = nCount && (clPack.GetFirstMember())->nMethod == PACK_ZLIB;
    printf("%d members OK: the directory is sound and every member decodes to its stated size\n", nCount);
    printf("(%s)\n", bChecked ? "each zlib member also passed its own check"
                              : "the format has no checksum: changed bytes inside a member cannot be found");
    return 0;
}

struct Extraction {
    PackMember* pMember;
    std::string dest; // library path
    std::string shown;
};

// Writes one member through a temporary file moved over its destination.
bool ExtractMember(CPack* pPack, const Extraction& x)
{
    CFile clMember;
    CTempFile clDest;
    if (!clMember.OpenPack(pPack, x.pMember->szName, 0)) {
        Problem("damaged: " + Shown(x.pMember->szName));
        return false;
    }
    ClearSystemError();
    bool bOk = clDest.Create(x.dest.c_str(), 0);
    // In blocks: a stored member is read from the archive as it is copied.
    for (QWORD qwLeft = clMember.GetSize(); bOk && qwLeft;) {
        DWORD dwBlock = qwLeft < (1u << 20) ? (DWORD)qwLeft : (1u << 20);
        bOk = clDest.File()->CopyFrom(&clMember, dwBlock) == dwBlock;
        qwLeft -= dwBlock;
    }
    clMember.Close(); // Windows replaces no file that is open
    if (!clDest.Finish(bOk) || !bOk) {
        Problem("cannot write " + x.shown + ": " + WriteProblem(x.dest.c_str()));
        return false;
    }
    return true;
}

int Extract(int argc, char** argv)
{
    CliArgs args;
    std::string error =
        ParseCli(argc, argv, { { "--directory", "-C", true }, { "--force", "-f", false }, JOBS_OPTION }, &args);
    if (!error.empty())
        return Usage(error, "extract");
    int nThreads = ParseJobs(args);
    if (nThreads < 0)
        return Usage(JOBS_USAGE, "extract");
    if (args.operands.empty())
        return Usage("extract needs an archive", "extract");
    const char* lpszFolderArg = args.Has("--directory") ? args.Value("--directory") : ".";
    bool bForce = args.Has("--force");
    CPack clPack;
    char lpszFolder[MAX_PATH];
    if (!OpenArchive(&clPack, args.operands[0]) || !LibraryPath(lpszFolderArg, lpszFolder))
        return 1;

    std::vector<Extraction> plan;
    std::string shownFolder = ShownNative(lpszFolderArg);
    auto add = [&](PackMember* p) {
        std::string dest = std::string(lpszFolder) + (IsSeparatorAt(lpszFolder, (int)strlen(lpszFolder) - 1) ? "" : "\\") +
                           p->szName;
        plan.push_back({ p, dest, shownFolder + NATIVE_SEP + Shown(p->szName) });
    };
    if (args.operands.size() == 1) {
        // Of members that name one file here, the first is written.
        std::vector<PackMember*> first(clPack.GetMemberCount() + 1);
        if (!clPack.FindSameFiles(first.data()))
            return Fail("out of memory");
        size_t i = 0;
        for (PackMember* p = clPack.GetFirstMember(); p;
             p = clPack.GetNextMember(), i++) {
            if (first[i] == p)
                add(p);
            else
                Problem("not extracted: " + Shown(p->szName) + " (an earlier member, " + Shown(first[i]->szName) +
                        ", names the same file)");
        }
    } else {
        for (size_t k = 1; k < args.operands.size(); k++) {
            std::string name;
            if (!MemberName(args.operands[k], &name))
                return 1;
            if (PackMember* p = clPack.Find(name.c_str()))
                add(p);
            else
                Problem("no such member: " + ShownNative(args.operands[k]));
        }
    }
    // Every destination is looked at before anything is written.
    for (size_t i = 0; i < plan.size(); i++) {
        const char* lpszDest = plan[i].dest.c_str();
        DWORD dwAttributes = PlatGetFileAttributes(lpszDest);
        if (plan[i].dest.size() >= MAX_PATH) {
            Problem("cannot write " + plan[i].shown + ": its path is longer than 259 bytes");
        } else if (!Exists(lpszDest)) {
            continue;
        } else if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Problem("cannot write " + plan[i].shown + ": a folder of that name is in the way");
        } else if (!bForce) {
            return Fail(plan[i].shown + " exists; nothing written (-f replaces existing files)");
        } else if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY)) {
            Problem("not replaced: " + plan[i].shown + " is read-only");
        } else {
            continue;
        }
        plan.erase(plan.begin() + i--);
    }
    CreateDirectories(lpszFolder);
    if (!PathExists(lpszFolder))
        return Fail("cannot create the folder " + shownFolder);
    // Every destination of the whole archive is a name of its own (later
    // members of a name are left out), so they are written on all threads;
    // named members may repeat and are written one after another.
    PackMemoryGate clGate;
    RunItems(args.operands.size() == 1 ? nThreads : 1, plan.size(), [&](size_t i) {
        QWORD qwMemory = MemberMemory(plan[i].pMember);
        clGate.Enter(qwMemory);
        ExtractMember(&clPack, plan[i]);
        clGate.Leave(qwMemory);
    });
    return g_nProblems ? 1 : 0;
}

int Cat(int argc, char** argv)
{
    CliArgs args;
    std::string error = ParseCli(argc, argv, {}, &args);
    if (!error.empty())
        return Usage(error, "cat");
    if (args.operands.size() != 2)
        return Usage("cat needs an archive and a member name", "cat");
    CPack clPack;
    std::string name;
    if (!OpenArchive(&clPack, args.operands[0]) || !MemberName(args.operands[1], &name))
        return 1;
    CFile clMember;
    if (!clMember.OpenPack(&clPack, name.c_str(), 0))
        return Fail((clPack.Find(name.c_str()) ? "damaged member: " : "no such member: ") + ShownNative(args.operands[1]));
    std::vector<BYTE> data(clMember.GetSize());
    if (clMember.Read(data.data(), (DWORD)data.size()) != data.size())
        return Fail("cannot read " + ShownNative(args.operands[1]));
    PlatSetStdoutBinary();
    fwrite(data.data(), 1, data.size(), stdout);
    return 0;
}

// --- compress, decompress ------------------------------------------------

int Codec(bool bCompress, int argc, char** argv)
{
    const char* lpszCommand = bCompress ? "compress" : "decompress";
    CliArgs args;
    std::vector<CliOption> options = { { "--method", "-m", true } };
    if (!bCompress)
        options.push_back({ "--size", NULL, true });
    std::string error = ParseCli(argc, argv, options, &args);
    if (!error.empty())
        return Usage(error, lpszCommand);
    int nMethod = args.Has("--method") ? ParseMethod(args.Value("--method")) : -1;
    if (args.Has("--method") && nMethod <= PACK_STORE)
        return Usage("--method takes slide, huffman or zlib", lpszCommand);
    long long nSize = -1;
    if (args.Has("--size")) {
        char* pEnd;
        nSize = strtoll(args.Value("--size"), &pEnd, 10);
        if (*pEnd || !*args.Value("--size") || nSize < 0 || nSize > 0x7FFFFFFF)
            return Usage("--size takes a byte count", lpszCommand);
    }
    if (nMethod < 0)
        return Usage("--method is required", lpszCommand);
    if (!bCompress && nSize < 0)
        return Usage("decompress needs --size: the stream does not record it", lpszCommand);
    if (args.operands.size() != 2)
        return Usage("needs an input and an output file", lpszCommand);
    const char* lpszInArg = args.operands[0];
    const char* lpszOutArg = args.operands[1];
    char lpszIn[MAX_PATH], lpszOut[MAX_PATH];
    if (!LibraryPath(lpszInArg, lpszIn) || !LibraryPath(lpszOutArg, lpszOut))
        return 1;
    if (SamePath(lpszIn, lpszOut))
        return Fail("the input and the output are one file: " + ShownNative(lpszInArg));
    std::vector<BYTE> in;
    if (!ReadWholeFile(lpszIn, &in, 0x7FFFFFFF))
        return Fail("cannot read " + ShownNative(lpszInArg));
    DWORD dwIn = (DWORD)in.size();

    std::vector<BYTE> out;
    DWORD dwOut = 0;
    if (bCompress) {
        // Room for the worst case plus one byte: a full buffer means cut.
        QWORD qwRoom = CPack::EncodeRoom(nMethod, dwIn);
        out.resize(qwRoom);
        if (nMethod == PACK_SLIDE)
            dwOut = CSlide().Compress(out.data(), (DWORD)qwRoom, in.data(), dwIn);
        else if (nMethod == PACK_HUFFMAN)
            dwOut = CHuffman().Compress(out.data(), (DWORD)qwRoom, in.data(), dwIn);
        else
            dwOut = CZlib().Compress(out.data(), (DWORD)qwRoom, in.data(), dwIn);
        if (dwOut >= qwRoom)
            return Fail("cannot compress " + ShownNative(lpszInArg));
    } else {
        out.resize((size_t)nSize + 1);
        DWORD dwSize = (DWORD)nSize;
        bool bOk;
        if (nMethod == PACK_SLIDE)
            bOk = CSlide().Decompress(out.data(), dwSize, in.data(), dwIn) == dwSize;
        else if (nMethod == PACK_HUFFMAN)
            bOk = CHuffman().Decompress(out.data(), dwSize, in.data(), dwIn) == dwSize;
        else
            bOk = CZlib().DecompressChecked(out.data(), dwSize, in.data(), dwIn) == dwSize;
        if (!bOk)
            return Fail(ShownNative(lpszInArg) + " is damaged, or does not hold that many bytes");
        dwOut = dwSize;
    }
    std::string reason;
    if (!WriteFileAtomically(lpszOut, out.data(), dwOut, &reason))
        return Fail("cannot write " + ShownNative(lpszOutArg) + (reason.empty() ? "" : ": " + reason));
    if (!bCompress && nMethod != PACK_ZLIB)
        fprintf(stderr, "packtool: note: a %s stream has no check; its bytes were decoded as they are\n",
                METHOD_NAMES[nMethod]);
    return 0;
}

int Compress(int argc, char** argv)
{
    return Codec(true, argc, argv);
}

int Decompress(int argc, char** argv)
{
    return Codec(false, argc, argv);
}

const Command COMMANDS[] = {
    { "create", Create, HELP_CREATE },    { "list", List, HELP_LIST },
    { "test", Test, HELP_TEST },          { "extract", Extract, HELP_EXTRACT },
    { "cat", Cat, HELP_CAT },             { "compress", Compress, HELP_CODEC },
    { "decompress", Decompress, HELP_CODEC },
};

void PrintHelp(const Command* pOnly)
{
    fputs(USAGE_HEAD, stdout);
    for (const Command& command : COMMANDS) {
        if ((pOnly && &command != pOnly) || (!pOnly && command.pfnRun == Decompress))
            continue;
        fputs("\n", stdout);
        fputs(command.lpszHelp, stdout);
    }
    fputs(USAGE_TAIL, stdout);
}

} // namespace

int main(int argc, char** argv)
{
    StartNativeText(&argc, &argv);
    PlatRemoveTempFilesOnInterrupt();
    if (argc < 2)
        return Usage("a command is required");
    const char* lpszCommand = argv[1];
    if (strcmp(lpszCommand, "--help") == 0 || strcmp(lpszCommand, "-h") == 0 || strcmp(lpszCommand, "help") == 0) {
        PrintHelp(NULL);
        return FinishOutput("packtool", 0);
    }
    for (const Command& command : COMMANDS) {
        if (strcmp(lpszCommand, command.lpszName) != 0)
            continue;
        if (AsksForHelp(argc - 2, argv + 2)) {
            PrintHelp(&command);
            return FinishOutput("packtool", 0);
        }
        return FinishOutput("packtool", command.pfnRun(argc - 2, argv + 2));
    }
    return Usage("unknown command: " + ShownNative(lpszCommand));
}
