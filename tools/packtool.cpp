// packtool: builds, lists, tests and extracts pack archives, and runs the
// three codecs on single files as raw streams.
#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "file/path.h"
#include "pack/cpack.h"
#include "pack/pack_util.h"
#include "platform/platform.h"

#include "nativetext.h"

#include <atomic>
#include <functional>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char USAGE[] =
    "Usage: packtool COMMAND [OPTIONS] ARGS\n"
    "\n"
    "Archives:\n"
    "  create [--method M] ARCHIVE PATH...   pack files and folder trees (M: store, slide,\n"
    "                                        huffman, zlib; default zlib)\n"
    "  list [--json] ARCHIVE                 members: name, size, stored size, ratio, offset\n"
    "                                        (--json: the same as JSON, names in UTF-8)\n"
    "  test ARCHIVE                          decode every member and report damage\n"
    "  extract [-C DIR] ARCHIVE [MEMBER...]  write all or the named members into DIR\n"
    "                                        (default: the current folder)\n"
    "  cat ARCHIVE MEMBER                    write one member to standard output\n"
    "\n"
    "Raw codec streams (they carry no length; decompression is told the size):\n"
    "  compress --method slide|huffman|zlib IN OUT\n"
    "  decompress --method slide|huffman|zlib --size N IN OUT\n"
    "\n"
    "create, test and extract take -j N before their other options: N threads\n"
    "(default: one per core).\n"
    "\n"
    "Member names are file names without folders, at most 63 bytes; a folder\n"
    "tree is flattened. Exit status: 0 on success, 1 on failure, 2 on bad usage.\n";

const char* const METHOD_NAMES[] = { "store", "slide", "huffman", "zlib" };

// -j N: threads for create, test and extract; 0 is one per core.
int g_nThreads = 0;

// Takes a leading "-j N" out of the command's arguments. False for a
// count that is not a number from 1 to 256.
bool TakeThreads(int* pArgc, char** argv)
{
    if (*pArgc < 1 || strcmp(argv[0], "-j") != 0)
        return true;
    char* pEnd;
    long n = *pArgc >= 2 ? strtol(argv[1], &pEnd, 10) : 0;
    if (*pArgc < 2 || *pEnd || n < 1 || n > 256)
        return false;
    g_nThreads = (int)n;
    *pArgc -= 2;
    memmove(argv, argv + 2, *pArgc * sizeof(char*));
    return true;
}

// Runs fnMember(i, p) for every member p, i its place in the catalogue,
// on g_nThreads threads at once; the catalogue is only read meanwhile.
void ForEachMember(CPack* pPack, const std::function<void(size_t, PackMember*)>& fnMember)
{
    std::vector<PackMember*> members;
    for (PackMember* p = (PackMember*)pPack->m_pAllList->GetFirst(); p; p = (PackMember*)pPack->m_pAllList->GetNext())
        members.push_back(p);
    std::atomic<size_t> next(0);
    RunOnThreads(g_nThreads, [&](int) {
        for (size_t i; (i = next++) < members.size();)
            fnMember(i, members[i]);
    });
}

int Fail(const char* lpszFormat, const char* lpszArg = "")
{
    fprintf(stderr, "packtool: ");
    fprintf(stderr, lpszFormat, lpszArg);
    fprintf(stderr, "\n");
    return 1;
}

int Usage(const char* lpszWhat)
{
    fprintf(stderr, "packtool: %s\nTry 'packtool --help'.\n", lpszWhat);
    return 2;
}

std::string Native(const char* lpszText)
{
    char buf[4 * MAX_PATH];
    return PlatTextToNative(lpszText, buf, sizeof(buf)) ? buf : "?";
}

bool LibraryPath(const char* lpszArg, char* lpszPath)
{
    if (PlatPathFromNative(lpszArg, lpszPath, MAX_PATH))
        return true;
    Fail("cannot use the name '%s' (too long, or not representable in code page 932)", lpszArg);
    return false;
}

int ParseMethod(const char* lpszName)
{
    for (int i = 0; i < 4; i++)
        if (strcmp(lpszName, METHOD_NAMES[i]) == 0)
            return i;
    return -1;
}

// Writes a whole buffer to a new file, through a temporary name, so that a
// failure leaves neither a cut file nor a damaged old one.
bool WriteFileAtomically(const char* lpszPath, const void* pData, DWORD dwSize)
{
    char lpszTemp[MAX_PATH];
    if (snprintf(lpszTemp, MAX_PATH, "%s.~part", lpszPath) >= MAX_PATH)
        return false;
    CFile clFile;
    bool bOk = clFile.Open(lpszTemp, 1) && clFile.Write(pData, dwSize) == dwSize;
    clFile.Close();
    if (bOk && PlatMoveFile(lpszTemp, lpszPath))
        return true;
    PlatDeleteFile(lpszTemp);
    return false;
}

bool ReadWholeFile(const char* lpszPath, std::vector<BYTE>* pData)
{
    CFile clFile;
    if (!clFile.Open(lpszPath, 0) || clFile.m_qwSize > 0x7FFFFFFF)
        return false;
    pData->resize(clFile.GetSize());
    return clFile.Read(pData->data(), clFile.GetSize()) == clFile.GetSize();
}

// --- create ---------------------------------------------------------------

struct Progress {
    QWORD qwTotal;
    QWORD qwDone;
    bool bTerminal;
};

void ShowProgress(const PackDirEntry* pEntry, DWORD dwDone, DWORD dwTotal, DWORD dwPackSize, void* lpUserData)
{
    (void)dwTotal;
    (void)dwPackSize;
    Progress* pProgress = (Progress*)lpUserData;
    if (dwDone)
        pProgress->qwDone += dwDone;
    if (!pProgress->bTerminal)
        return;
    int nPercent = pProgress->qwTotal ? (int)(pProgress->qwDone * 100 / pProgress->qwTotal) : 100;
    char bar[31];
    memset(bar, ' ', 30);
    memset(bar, '#', nPercent * 30 / 100);
    bar[30] = 0;
    fprintf(stderr, "\r[%s] %3d%% %-40.40s", bar, nPercent, Native(pEntry->szName).c_str());
    fflush(stderr);
}

int Create(int argc, char** argv)
{
    int nMethod = PACK_ZLIB, i = 0;
    if (i < argc && strcmp(argv[i], "--method") == 0) {
        if (i + 1 >= argc || (nMethod = ParseMethod(argv[i + 1])) < 0)
            return Usage("--method takes store, slide, huffman or zlib");
        i += 2;
    }
    if (argc - i < 2)
        return Usage("create needs an archive name and at least one file or folder");
    char lpszArchive[MAX_PATH], lpszPath[MAX_PATH];
    if (!LibraryPath(argv[i], lpszArchive))
        return 1;
    CPack clPack;
    for (int k = i + 1; k < argc; k++) {
        if (!LibraryPath(argv[k], lpszPath))
            return 1;
        DWORD dwAttr = PlatGetFileAttributes(lpszPath);
        if (dwAttr == INVALID_FILE_ATTRIBUTES)
            return Fail("no such file or folder: %s", argv[k]);
        bool bOk = (dwAttr & FILE_ATTRIBUTE_DIRECTORY) ? clPack.AddFolder(lpszPath) : clPack.AddFile(lpszPath);
        if (!bOk)
            return Fail("cannot enter everything below %s (names must be at most 63 bytes, and files Windows could create)", argv[k]);
    }
    clPack.SetThreads(g_nThreads);
    Progress progress = { 0, 0, PlatIsTerminal(2) != 0 };
    for (PackMember* p = (PackMember*)clPack.m_pAllList->GetFirst(); p;
         p = (PackMember*)clPack.m_pAllList->GetNext()) {
        progress.qwTotal += p->dwOrgSize;
        // Folders are flattened: a second file of a name can never be found.
        if (clPack.Find(p->szName) != p)
            fprintf(stderr, "packtool: warning: %s is packed twice; lookups find only the first\n",
                    Native(p->szName).c_str());
    }
    int nResult = clPack.Save(lpszArchive, nMethod, ShowProgress, &progress);
    if (progress.bTerminal)
        fprintf(stderr, "\n");
    if (!nResult)
        return Fail("cannot write %s", argv[i]);
    return 0;
}

// --- list, test, extract, cat -------------------------------------------

bool OpenArchive(CPack* pPack, const char* lpszArg)
{
    char lpszPath[MAX_PATH];
    if (!LibraryPath(lpszArg, lpszPath))
        return false;
    if (!pPack->OpenArchive(lpszPath)) {
        Fail("%s is not a readable pack archive (missing, or damaged)", lpszArg);
        return false;
    }
    return true;
}

// For scripts: the table's facts, names in UTF-8 whatever the console speaks.
void ListJson(CPack* pPack)
{
    PackMember* pFirst = (PackMember*)pPack->m_pAllList->GetFirst();
    printf("{\n  \"method\": %s,\n  \"members\": [", pFirst ? Json(METHOD_NAMES[pFirst->nMethod]).c_str() : "null");
    for (PackMember* p = pFirst; p; p = (PackMember*)pPack->m_pAllList->GetNext())
        printf("%s\n    {\"name\": %s, \"size\": %lu, \"stored\": %lu, \"offset\": %lu}", p == pFirst ? "" : ",",
               Json(p->szName).c_str(), (unsigned long)p->dwOrgSize, (unsigned long)p->dwPackSize,
               (unsigned long)p->dwOffset);
    printf("%s]\n}\n", pFirst ? "\n  " : "");
}

int List(int argc, char** argv)
{
    bool bJson = argc == 2 && strcmp(argv[0], "--json") == 0;
    if (argc != 1 && !bJson)
        return Usage("list needs one archive");
    CPack clPack;
    if (!OpenArchive(&clPack, argv[argc - 1]))
        return 1;
    if (bJson) {
        ListJson(&clPack);
        return 0;
    }
    PackMember* pFirst = (PackMember*)clPack.m_pAllList->GetFirst();
    printf("method: %s\n", pFirst ? METHOD_NAMES[pFirst->nMethod] : "-");
    printf("%12s %12s %7s %10s  %s\n", "size", "stored", "ratio", "offset", "name");
    QWORD qwOrg = 0, qwPack = 0;
    for (PackMember* p = pFirst; p; p = (PackMember*)clPack.m_pAllList->GetNext()) {
        double dRatio = p->dwOrgSize ? 100.0 * p->dwPackSize / p->dwOrgSize : 100.0;
        printf("%12lu %12lu %6.1f%% %10lu  %s\n", (unsigned long)p->dwOrgSize, (unsigned long)p->dwPackSize,
               dRatio, (unsigned long)p->dwOffset, Native(p->szName).c_str());
        qwOrg += p->dwOrgSize;
        qwPack += p->dwPackSize;
    }
    printf("%12llu %12llu %6.1f%% %10s  %d members\n", (unsigned long long)qwOrg, (unsigned long long)qwPack,
           qwOrg ? 100.0 * qwPack / qwOrg : 100.0, "", clPack.m_pAllList->GetCount());
    return 0;
}

int Test(int argc, char** argv)
{
    if (argc != 1)
        return Usage("test needs one archive");
    CPack clPack;
    if (!OpenArchive(&clPack, argv[0]))
        return 1;
    // Members are decoded on all threads; damage is reported in catalogue
    // order afterwards.
    int nDamaged = 0, nCount = clPack.m_pAllList->GetCount();
    std::vector<char> damaged(nCount);
    ForEachMember(&clPack, [&](size_t i, PackMember* p) {
        BYTE* pBuffer = new (std::nothrow) BYTE[(size_t)p->dwOrgSize + 1];
        damaged[i] = !pBuffer || !clPack.ReadMember(p, &pBuffer);
        delete[] pBuffer;
    });
    int i = 0;
    for (PackMember* p = (PackMember*)clPack.m_pAllList->GetFirst(); p;
         p = (PackMember*)clPack.m_pAllList->GetNext(), i++) {
        if (damaged[i]) {
            fprintf(stderr, "packtool: damaged: %s\n", Native(p->szName).c_str());
            nDamaged++;
        }
    }
    if (nDamaged) {
        fprintf(stderr, "packtool: %d of %d members damaged\n", nDamaged, nCount);
        return 1;
    }
    printf("%d members OK\n", nCount);
    return 0;
}

bool ExtractMember(CPack* pPack, const char* lpszFolder, const char* lpszName)
{
    char lpszDest[MAX_PATH];
    CFile clMember;
    if (!clMember.OpenPack(pPack, lpszName, 0)) {
        fprintf(stderr, "packtool: %s: %s\n", pPack->Find(lpszName) ? "damaged" : "no such member",
                Native(lpszName).c_str());
        return false;
    }
    std::vector<BYTE> data(clMember.GetSize());
    if (snprintf(lpszDest, MAX_PATH, "%s\\%s", lpszFolder, lpszName) >= MAX_PATH ||
        clMember.Read(data.data(), (DWORD)data.size()) != data.size() ||
        !WriteFileAtomically(lpszDest, data.data(), (DWORD)data.size())) {
        fprintf(stderr, "packtool: cannot write %s\n", Native(lpszDest).c_str());
        return false;
    }
    return true;
}

int Extract(int argc, char** argv)
{
    const char* lpszFolderArg = ".";
    int i = 0;
    if (i < argc && strcmp(argv[i], "-C") == 0) {
        if (i + 1 >= argc)
            return Usage("-C needs a folder");
        lpszFolderArg = argv[i + 1];
        i += 2;
    }
    if (i >= argc)
        return Usage("extract needs an archive");
    CPack clPack;
    char lpszFolder[MAX_PATH];
    if (!OpenArchive(&clPack, argv[i]) || !LibraryPath(lpszFolderArg, lpszFolder))
        return 1;
    CreateDirectories(lpszFolder);
    if (!PathExists(lpszFolder))
        return Fail("cannot create the folder %s", lpszFolderArg);
    bool bOk = true;
    if (i + 1 == argc) {
        std::atomic<bool> bAll(true);
        ForEachMember(&clPack, [&](size_t, PackMember* p) {
            // The first member of a name is the one lookups find; a later
            // one of the same name is not written over it, so no two
            // threads write one file.
            if (clPack.Find(p->szName) == p && !ExtractMember(&clPack, lpszFolder, p->szName))
                bAll = false;
        });
        bOk = bAll;
    } else {
        for (int k = i + 1; k < argc; k++) {
            char lpszName[MAX_PATH];
            bOk = LibraryPath(argv[k], lpszName) && ExtractMember(&clPack, lpszFolder, lpszName) && bOk;
        }
    }
    return bOk ? 0 : 1;
}

int Cat(int argc, char** argv)
{
    if (argc != 2)
        return Usage("cat needs an archive and a member name");
    CPack clPack;
    char lpszName[MAX_PATH];
    if (!OpenArchive(&clPack, argv[0]) || !LibraryPath(argv[1], lpszName))
        return 1;
    CFile clMember;
    if (!clMember.OpenPack(&clPack, lpszName, 0))
        return Fail(clPack.Find(lpszName) ? "damaged member: %s" : "no such member: %s", argv[1]);
    std::vector<BYTE> data(clMember.GetSize());
    if (clMember.Read(data.data(), (DWORD)data.size()) != data.size())
        return Fail("cannot read %s", argv[1]);
    PlatSetStdoutBinary();
    if (fwrite(data.data(), 1, data.size(), stdout) != data.size() || fflush(stdout) != 0)
        return Fail("cannot write to standard output");
    return 0;
}

// --- compress, decompress ------------------------------------------------

int Codec(bool bCompress, int argc, char** argv)
{
    int nMethod = -1, i = 0;
    long long nSize = -1;
    while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
        if (strcmp(argv[i], "--method") == 0 && i + 1 < argc) {
            nMethod = ParseMethod(argv[i + 1]);
            if (nMethod <= PACK_STORE)
                return Usage("--method takes slide, huffman or zlib");
        } else if (strcmp(argv[i], "--size") == 0 && i + 1 < argc && !bCompress) {
            char* pEnd;
            nSize = strtoll(argv[i + 1], &pEnd, 10);
            if (*pEnd || nSize < 0 || nSize > 0x7FFFFFFF)
                return Usage("--size takes a byte count");
        } else {
            return Usage("unknown option");
        }
        i += 2;
    }
    if (nMethod < 0)
        return Usage("--method is required");
    if (!bCompress && nSize < 0)
        return Usage("decompress needs --size: the stream does not record it");
    if (argc - i != 2)
        return Usage("needs an input and an output file");
    char lpszIn[MAX_PATH], lpszOut[MAX_PATH];
    if (!LibraryPath(argv[i], lpszIn) || !LibraryPath(argv[i + 1], lpszOut))
        return 1;
    std::vector<BYTE> in;
    if (!ReadWholeFile(lpszIn, &in))
        return Fail("cannot read %s", argv[i]);
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
            return Fail("cannot compress %s", argv[i]);
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
            return Fail("%s is damaged, or does not hold that many bytes", argv[i]);
        dwOut = dwSize;
    }
    if (!WriteFileAtomically(lpszOut, out.data(), dwOut))
        return Fail("cannot write %s", argv[i + 1]);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage("a command is required");
    const char* lpszCommand = argv[1];
    if (strcmp(lpszCommand, "--help") == 0 || strcmp(lpszCommand, "-h") == 0 || strcmp(lpszCommand, "help") == 0) {
        fputs(USAGE, stdout);
        return 0;
    }
    argc -= 2;
    argv += 2;
    bool bThreaded = !strcmp(lpszCommand, "create") || !strcmp(lpszCommand, "test") || !strcmp(lpszCommand, "extract");
    if (bThreaded && !TakeThreads(&argc, argv))
        return Usage("-j takes a thread count from 1 to 256");
    if (strcmp(lpszCommand, "create") == 0)
        return Create(argc, argv);
    if (strcmp(lpszCommand, "list") == 0)
        return List(argc, argv);
    if (strcmp(lpszCommand, "test") == 0)
        return Test(argc, argv);
    if (strcmp(lpszCommand, "extract") == 0)
        return Extract(argc, argv);
    if (strcmp(lpszCommand, "cat") == 0)
        return Cat(argc, argv);
    if (strcmp(lpszCommand, "compress") == 0)
        return Codec(true, argc, argv);
    if (strcmp(lpszCommand, "decompress") == 0)
        return Codec(false, argc, argv);
    return Usage("unknown command");
}
