// Property: a sequence of catalogue calls gives the results of a model
// written from the catalogue's contract. The input lays out a tree of
// source files (names with letter-case variants, duplicates in other
// folders, names Windows cannot create), then enters them as loose files
// and folders, saves archives of every method, reopens them and damaged
// ones, and asks Find, ReadMember, OpenPack, GetSourcePath, Preload and
// ExtractAll (into a folder of its own, the members' own folders, or one
// that does not exist). After every Save and ExtractAll the files on disk
// must be exactly the model's: nothing destroyed, nothing cut, nothing
// left behind. Any difference aborts.
#include "call_sequence.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "pack/cpack.h"

#include <algorithm>
#include <dirent.h>
#include <map>
#include <string.h>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;

struct NameInfo {
    const char* lpszName; // as the library sees it (code page 932)
    const char* lpszHost; // as the host's file system holds it (UTF-8)
    bool bRefused;        // not a name a file on Windows can have
};

// A and a fold together; the two katakana differ only in a second byte
// (0x41, 0x61), which is compared as it is. 0x5C is the second byte of
// the last one, not a separator.
const NameInfo NAMES[] = {
    { "a.bin", "a.bin", false },
    { "A.BIN", "A.BIN", false },
    { "b", "b", false },
    { "B", "B", false },
    { ".d", ".d", false },
    { "conx.bin", "conx.bin", false },
    { "\x83\x41.x", "\xe3\x82\xa2.x", false },
    { "\x83\x61.x", "\xe3\x83\x82.x", false },
    { "\x83\x5c.s", "\xe3\x82\xbd.s", false },
    { "con", "con", true },
    { "Nul.txt", "Nul.txt", true },
    { "lpt1.q", "lpt1.q", true },
    { "COM9", "COM9", true },
    { "e.", "e.", true },
    { "f ", "f ", true },
    { "g<h", "g<h", true },
    { "i\x01", "i\x01", true },
};
const unsigned NAME_COUNT = sizeof(NAMES) / sizeof(NAMES[0]);

// The source folders: a root, two levels below it and a folder that a
// walk skips for its leading dot.
const char* const FOLDERS[] = { "src", "src/s1", "src/s1/s2", "src/.h" };
const unsigned FOLDER_COUNT = 4;

bool IsLead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Names compared as the catalogue does: A to Z folded in single-byte
// characters only, a second byte taken as it is. nLess < 0 orders too.
int FoldCompare(const std::string& a, const std::string& b)
{
    bool bTrail = false;
    for (size_t i = 0;; i++) {
        unsigned char x = i < a.size() ? a[i] : 0, y = i < b.size() ? b[i] : 0;
        if (!bTrail) {
            if (x >= 'a' && x <= 'z')
                x -= 0x20;
            if (y >= 'a' && y <= 'z')
                y -= 0x20;
        }
        if (x != y || x == 0)
            return x < y ? -1 : x > y ? 1 : 0;
        bTrail = !bTrail && IsLead(x);
    }
}

bool FoldEqual(const std::string& a, const std::string& b)
{
    return FoldCompare(a, b) == 0;
}

// The order a folder walk meets its entries: by name, letter case ignored.
bool WalkLess(const std::string& a, const std::string& b)
{
    return FoldCompare(a, b) < 0;
}

struct Member {
    std::string name;   // library form
    std::string source; // library full path of its container
    std::string host;   // host path of its container
    int nMethod = PACK_STORE;
    bool bLoose = false;     // a file entered by itself: its content is the file's now
    bool bFolder = false;    // a folder entered as a file: nothing to read
    bool bPreloaded = false; // content frozen in memory
    DWORD dwOrgSize = 0;
    Bytes content; // an archive member's or a preloaded member's
};

struct Archive {
    std::string host;
    int nMethod;
    std::vector<std::pair<std::string, Bytes>> members;
    Bytes bytes; // the archive file
};

struct Model {
    std::string root;                 // host scratch folder
    std::map<std::string, Bytes> disk; // every file below src, dst and arc
    std::vector<Member> members;
    std::vector<Archive> archives;
    std::vector<std::string> damaged; // host paths of archives that fail validation
    unsigned nFiles = 0;

    std::string Host(const std::string& rel) const { return root + "/" + rel; }
};

std::string HostName(const std::string& name)
{
    for (const NameInfo& n : NAMES)
        if (name == n.lpszName)
            return n.lpszHost;
    return name;
}

std::string LibraryName(const std::string& hostName)
{
    for (const NameInfo& n : NAMES)
        if (hostName == n.lpszHost)
            return n.lpszName;
    return hostName;
}

// A host path as the library names it: every component in code page 932.
std::string Lib(const std::string& host)
{
    std::string path;
    for (size_t nStart = 0; nStart <= host.size();) {
        size_t nEnd = std::min(host.find('/', nStart), host.size());
        path += LibraryName(host.substr(nStart, nEnd - nStart)) + (nEnd < host.size() ? "/" : "");
        nStart = nEnd + 1;
    }
    return LibraryPath(path);
}

bool IsRefused(const std::string& name)
{
    for (const NameInfo& n : NAMES)
        if (name == n.lpszName)
            return n.bRefused;
    return false;
}

std::string BaseName(const std::string& host)
{
    return host.substr(host.rfind('/') + 1);
}

bool IsFolder(const std::string& host)
{
    struct stat st;
    return stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Bytes Pattern(CallInput& in)
{
    Bytes bytes(in.Byte() % 40);
    BYTE bSeed = in.Byte(), bStep = in.Byte();
    // Runs of four, and with a step of 0 one byte throughout (a code tree
    // of one leaf): every coder has something to shrink.
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (BYTE)(bSeed + (i / 4) * bStep);
    return bytes;
}

// The content a member gives now, or false when it cannot be read.
bool Content(const Model& m, const Member& mb, Bytes* pContent)
{
    if (mb.bFolder)
        return false;
    if (!mb.bLoose || mb.bPreloaded) {
        *pContent = mb.content;
        return true;
    }
    auto it = m.disk.find(mb.host);
    if (it == m.disk.end() || it->second.size() < mb.dwOrgSize)
        return false;
    pContent->assign(it->second.begin(), it->second.begin() + mb.dwOrgSize);
    return true;
}

const Member* Find(const Model& m, const std::string& name)
{
    for (const Member& mb : m.members)
        if (FoldEqual(mb.name, name))
            return &mb;
    return NULL;
}

// Every file below the scratch folder is the model's, byte for byte.
void CheckDisk(const Model& m, const std::string& folder)
{
    if (DIR* pDir = opendir(folder.c_str())) {
        while (struct dirent* pEntry = readdir(pDir)) {
            std::string name = pEntry->d_name, path = folder + "/" + name;
            if (name == "." || name == "..")
                continue;
            if (IsFolder(path)) {
                CheckDisk(m, path);
                continue;
            }
            auto it = m.disk.find(path);
            if (it == m.disk.end())
                fprintf(stderr, "a file the model does not know: %s\n", path.c_str());
            EXPECT(it != m.disk.end());
            Bytes bytes;
            EXPECT(ReadHostFile(path, &bytes));
            if (bytes != it->second)
                fprintf(stderr, "differs from the model: %s (%zu bytes, the model's %zu)\n", path.c_str(),
                        bytes.size(), it->second.size());
            EXPECT(bytes == it->second);
        }
        closedir(pDir);
    }
}

void CheckAllFiles(const Model& m)
{
    CheckDisk(m, m.root);
    for (const auto& file : m.disk)
        EXPECT(access(file.first.c_str(), F_OK) == 0);
}

// --- Entering ---------------------------------------------------------

bool ModelAddFile(Model& m, const std::string& host)
{
    std::string name = LibraryName(BaseName(host));
    bool bFolder = IsFolder(host);
    auto it = m.disk.find(host);
    if ((!bFolder && it == m.disk.end()) || IsRefused(name))
        return false;
    Member mb;
    mb.name = name;
    mb.source = Lib(host);
    mb.host = host;
    mb.bLoose = true;
    mb.bFolder = bFolder;
    mb.dwOrgSize = bFolder ? 0 : (DWORD)it->second.size();
    m.members.push_back(mb);
    return true;
}

bool ModelAddFolder(Model& m, const std::string& host)
{
    if (!IsFolder(host))
        return false;
    std::vector<std::string> entries;
    DIR* pDir = opendir(host.c_str());
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string name = pEntry->d_name;
        if (name != "." && name != "..")
            entries.push_back(name);
    }
    closedir(pDir);
    std::sort(entries.begin(), entries.end(),
              [](const std::string& a, const std::string& b) { return WalkLess(LibraryName(a), LibraryName(b)); });
    bool bAll = true;
    for (const std::string& name : entries) {
        std::string path = host + "/" + name;
        if (IsFolder(path)) {
            if (name[0] != '.' && !ModelAddFolder(m, path))
                bAll = false;
        } else if (!ModelAddFile(m, path)) {
            bAll = false;
        }
    }
    return bAll;
}

// An archive is known by its bytes: a copy (an extracted one) is sound
// as the original is.
bool ModelOpenArchive(Model& m, const std::string& host)
{
    auto it = m.disk.find(host);
    for (const Archive& ar : m.archives) {
        if (it == m.disk.end() || ar.bytes != it->second)
            continue;
        for (const auto& entry : ar.members) {
            Member mb;
            mb.name = entry.first;
            mb.source = Lib(host);
            mb.host = host;
            mb.nMethod = ar.nMethod;
            mb.dwOrgSize = (DWORD)entry.second.size();
            mb.content = entry.second;
            m.members.push_back(mb);
        }
        return true;
    }
    return false;
}

bool StartsWithPac(const Model& m, const std::string& host)
{
    auto it = m.disk.find(host);
    return it != m.disk.end() && it->second.size() >= 3 && memcmp(it->second.data(), "PAC", 3) == 0;
}

// A file or folder of the scratch tree, chosen by the input: a source
// file, a folder, an archive (sound or damaged), an extracted file or a
// name nothing has.
std::string AnyPath(CallInput& in, const Model& m)
{
    unsigned n = in.Byte();
    if (n < 0x80 && !m.disk.empty()) {
        auto it = m.disk.begin();
        std::advance(it, n % m.disk.size());
        return it->first;
    }
    if (n < 0xF0)
        return m.Host(FOLDERS[n % FOLDER_COUNT]);
    return m.Host("src/missing");
}

// --- Checks of one member ----------------------------------------------

void CheckFind(CPack& pack, const Model& m, const std::string& name)
{
    PackMember* p = pack.Find(name.c_str());
    const Member* f = Find(m, name);
    TRACE("  find %s: %s\n", name.c_str(), f ? f->source.c_str() : "none");
    EXPECT((p != NULL) == (f != NULL));
    if (!f)
        return;
    EXPECT(f->name == p->szName);
    EXPECT(f->source == p->szPackPath);
    EXPECT(f->dwOrgSize == p->dwOrgSize);
    EXPECT(f->nMethod == p->nMethod);
}

void CheckReadMember(CPack& pack, const Model& m, const std::string& name)
{
    const Member* f = Find(m, name);
    Bytes want;
    bool bReadable = f && Content(m, *f, &want);
    // A buffer of exactly the member's size: a write beyond it is caught.
    Bytes got(f && f->dwOrgSize ? f->dwOrgSize : 1);
    BYTE* pBuffer = got.data();
    TRACE("  read member %s: %d\n", name.c_str(), bReadable);
    EXPECT(pack.ReadMember(name.c_str(), &pBuffer) == (bReadable ? 1 : 0));
    got.resize(f ? f->dwOrgSize : 0);
    if (bReadable)
        EXPECT(got == want);
}

void CheckOpenPack(CPack& pack, const Model& m, const std::string& name)
{
    const Member* f = Find(m, name);
    Bytes want;
    bool bInPlace = f && !f->bFolder && f->nMethod == PACK_STORE && !f->bPreloaded;
    bool bOpens;
    if (bInPlace && f->bLoose) {
        // Read in place: bounded by the member and by the file as it is now.
        const Bytes& file = m.disk.at(f->host);
        want.assign(file.begin(), file.begin() + std::min<size_t>(file.size(), f->dwOrgSize));
        bOpens = true;
    } else {
        bOpens = f && Content(m, *f, &want);
    }
    TRACE("  open pack %s: %d\n", name.c_str(), bOpens);
    CFile clFile;
    EXPECT(clFile.OpenPack(&pack, name.c_str(), 0) == (bOpens ? 1 : 0));
    if (!bOpens)
        return;
    EXPECT(clFile.m_nType == (bInPlace ? CFILE_HANDLE : CFILE_MEMORY));
    EXPECT(clFile.GetSize() == f->dwOrgSize);
    Bytes got(std::max<size_t>(want.size(), 1));
    EXPECT(clFile.Read(got.data(), f->dwOrgSize + 100) == want.size());
    got.resize(want.size());
    EXPECT(got == want);
    // Nothing before the member, nothing after it.
    BYTE ab[64];
    EXPECT(clFile.Seek(-20, 0) == 1);
    EXPECT(clFile.Read(ab, sizeof(ab)) == 0);
    EXPECT(clFile.Seek(1, 2) == 1);
    EXPECT(clFile.Read(ab, sizeof(ab)) == 0);
    if (!want.empty() && want.size() == f->dwOrgSize) {
        EXPECT(clFile.Seek(-1, 2) == 1);
        EXPECT(clFile.Read(ab, sizeof(ab)) == 1 && ab[0] == want.back());
    }
}

void CheckSourcePath(CPack& pack, const Model& m, const std::string& name)
{
    const Member* f = NULL;
    for (const Member& mb : m.members)
        if (FoldEqual(mb.name, name) && mb.nMethod == PACK_STORE) {
            f = &mb;
            break;
        }
    char szPath[PACK_PATH_SIZE] = "unchanged";
    EXPECT(pack.GetSourcePath(szPath, name.c_str()) == (f ? 1 : 0));
    if (f)
        EXPECT(f->source == szPath);
}

// --- Whole-catalogue operations ---------------------------------------

void Preload(CPack& pack, Model& m)
{
    TRACE("  preload\n");
    pack.Preload();
    for (Member& mb : m.members) {
        if (mb.bPreloaded || mb.bFolder)
            continue;
        // A member whose file no longer holds its block stays with the file.
        if (Content(m, mb, &mb.content))
            mb.bPreloaded = true;
    }
}

void ExtractAll(CallInput& in, CPack& pack, Model& m)
{
    std::string folder;
    unsigned nWhere = in.Pick(FOLDER_COUNT + 2);
    if (nWhere < FOLDER_COUNT)
        folder = m.Host(FOLDERS[nWhere]); // where loose members come from
    else if (nWhere == FOLDER_COUNT)
        folder = m.Host("dst");
    else
        folder = m.Host("dst/missing");
    std::string lib = Lib(folder) + (in.Byte() & 1 ? "\\" : "");
    bool bExists = IsFolder(folder);

    // Members whose names fold to one are one file here: the first is
    // written, the others are left out (and the result says so).
    int nWant = 1;
    for (const Member& mb : m.members) {
        Bytes content;
        if (Find(m, mb.name) != &mb) {
            nWant = 0;
            continue;
        }
        if (!Content(m, mb, &content)) {
            nWant = 0;
            continue;
        }
        if (!bExists) {
            nWant = 0;
            break;
        }
        m.disk[folder + "/" + HostName(mb.name)] = content;
    }
    TRACE("  extract all into %s: %d\n", lib.c_str(), nWant);
    EXPECT(pack.ExtractAll(lib.c_str()) == nWant);
    CheckAllFiles(m);
}

void Save(CallInput& in, CPack& pack, Model& m)
{
    int nMethod = in.Pick(4);
    unsigned nTarget = in.Pick(8);
    std::string host;
    bool bWritable = true;
    if (nTarget == 0) { // a folder that does not exist
        host = m.Host("arc/missing/x.pac");
        bWritable = false;
    } else if (nTarget == 1) { // a read-only file, which stays as it is
        host = m.Host("arc/ro" + std::to_string(m.nFiles++) + ".pac");
        m.disk[host] = Bytes(5, 'r');
        WriteHostFile(host, m.disk[host]);
        chmod(host.c_str(), 0444);
        bWritable = false;
    } else if (nTarget == 2) { // a file that is replaced
        host = m.Host("arc/old" + std::to_string(m.nFiles++) + ".pac");
        m.disk[host] = Bytes(7, 'o');
        WriteHostFile(host, m.disk[host]);
    } else {
        host = m.Host("arc/k" + std::to_string(m.nFiles++) + ".pac");
    }

    Archive ar;
    ar.host = host;
    ar.nMethod = nMethod;
    for (const Member& mb : m.members) {
        if (mb.bFolder)
            continue; // its source does not open: left out
        Bytes content;
        if (mb.bLoose && !mb.bPreloaded) {
            // The file as it is now, whole; one that changed size since it
            // was entered (an extraction wrote over it) fails the archive.
            auto it = m.disk.find(mb.host);
            if (it == m.disk.end() || it->second.size() != mb.dwOrgSize)
                bWritable = false;
            else
                content = it->second;
        } else {
            Content(m, mb, &content); // its own record, decoded
        }
        ar.members.push_back(std::make_pair(mb.name, content));
    }
    TRACE("  save %s method %d: %d\n", host.c_str(), nMethod, bWritable);
    EXPECT(pack.Save(Lib(host).c_str(), nMethod, NULL, NULL) == (bWritable ? 1 : 0));
    if (bWritable) {
        ReadHostFile(host, &ar.bytes);
        m.disk[host] = ar.bytes;
        m.archives.push_back(ar);
        // The archive holds what the model says, in its order.
        CPack clCheck;
        EXPECT(clCheck.OpenArchive(Lib(host).c_str()) == 1);
        EXPECT(clCheck.m_pAllList->GetCount() == (int)ar.members.size());
        size_t i = 0;
        for (PackMember* p = (PackMember*)clCheck.m_pAllList->GetFirst(); p;
             p = (PackMember*)clCheck.m_pAllList->GetNext(), i++) {
            EXPECT(ar.members[i].first == p->szName && p->nMethod == nMethod);
            Bytes got(std::max<size_t>(p->dwOrgSize, 1));
            BYTE* pBuffer = got.data();
            EXPECT(p->dwOrgSize == ar.members[i].second.size());
            EXPECT(clCheck.ReadMember(p, &pBuffer) == 1);
            got.resize(p->dwOrgSize);
            EXPECT(got == ar.members[i].second);
        }
        // A damaged copy: a method no coder has.
        std::string bad = m.Host("arc/bad" + std::to_string(m.nFiles++) + ".pac");
        Bytes bytes = m.disk[host];
        bytes[8] = 9;
        m.disk[bad] = bytes;
        WriteHostFile(bad, bytes);
        m.damaged.push_back(bad);
    }
    CheckAllFiles(m);
}

std::string MemberName(CallInput& in, const Model& m)
{
    unsigned n = in.Byte();
    if (n < 0x40 && !m.members.empty())
        return m.members[n % m.members.size()].name;
    if (n < 0xF0)
        return NAMES[n % NAME_COUNT].lpszName;
    return "s1"; // a folder's name
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CallInput in(pData, nSize);
    Model m;
    m.root = ScratchFolder("catalogue_ops_fuzzer");
    for (const char* lpszFolder : { "src", "src/s1", "src/s1/s2", "src/.h", "dst", "arc" })
        mkdir(m.Host(lpszFolder).c_str(), 0700);

    // The source tree: names that fold together only in different
    // folders, so that the walk's order is the names' order.
    for (unsigned nFiles = in.Byte() % 12; nFiles; nFiles--) {
        std::string folder = m.Host(FOLDERS[in.Pick(FOLDER_COUNT)]);
        const NameInfo& name = NAMES[in.Pick(NAME_COUNT)];
        Bytes content = Pattern(in);
        bool bClash = false;
        for (const auto& file : m.disk)
            if (file.first.rfind('/') == folder.size() && file.first.compare(0, folder.size(), folder) == 0 &&
                FoldEqual(LibraryName(BaseName(file.first)), name.lpszName))
                bClash = true;
        if (bClash)
            continue;
        std::string host = folder + "/" + name.lpszHost;
        m.disk[host] = content;
        WriteHostFile(host, content);
    }

    CPack pack;
    for (int nOps = 0; !in.Empty() && nOps < 48; nOps++) {
        switch (in.Pick(16)) {
        case 0:
        case 1: {
            std::string host = AnyPath(in, m);
            bool bWant = ModelAddFile(m, host);
            TRACE("  add file %s: %d\n", host.c_str(), bWant);
            EXPECT(pack.AddFile(Lib(host).c_str()) == (bWant ? 1 : 0));
            break;
        }
        case 2: {
            unsigned nFolder = in.Byte();
            if (nFolder >= 0xF0) {
                // "" is the current folder.
                char szCwd[4096];
                EXPECT(getcwd(szCwd, sizeof(szCwd)) != NULL);
                EXPECT(chdir(m.Host("src").c_str()) == 0);
                bool bWant = ModelAddFolder(m, m.Host("src"));
                TRACE("  add folder \"\": %d\n", bWant);
                int nGot = pack.AddFolder("");
                EXPECT(chdir(szCwd) == 0);
                EXPECT(nGot == (bWant ? 1 : 0));
                break;
            }
            std::string host = nFolder & 0x80 ? m.Host("src/missing") : m.Host(FOLDERS[nFolder % FOLDER_COUNT]);
            bool bWant = ModelAddFolder(m, host);
            TRACE("  add folder %s: %d\n", host.c_str(), bWant);
            EXPECT(pack.AddFolder((Lib(host) + (nFolder & 0x40 ? "\\" : "")).c_str()) == (bWant ? 1 : 0));
            break;
        }
        case 3: { // an archive, sound or damaged
            unsigned n = in.Byte();
            std::vector<std::string> all;
            for (const Archive& ar : m.archives)
                all.push_back(ar.host);
            all.insert(all.end(), m.damaged.begin(), m.damaged.end());
            if (all.empty())
                break;
            std::string host = all[n % all.size()];
            bool bWant = ModelOpenArchive(m, host);
            TRACE("  open archive %s: %d\n", host.c_str(), bWant);
            EXPECT(pack.OpenArchive(Lib(host).c_str()) == (bWant ? 1 : 0));
            break;
        }
        case 4: { // Open: empties, then an archive, a file or a folder
            std::string host = AnyPath(in, m);
            bool bSlash = in.Byte() & 1;
            m.members.clear();
            bool bWant;
            if (bSlash && IsFolder(host))
                bWant = ModelAddFolder(m, host);
            else if (bSlash)
                bWant = false;
            else if (StartsWithPac(m, host))
                bWant = ModelOpenArchive(m, host); // a damaged one enters nothing
            else
                bWant = ModelAddFile(m, host);
            TRACE("  open %s%s: %d\n", host.c_str(), bSlash ? "/" : "", bWant);
            EXPECT(pack.Open((Lib(host) + (bSlash ? "\\" : "")).c_str()) == (bWant ? 1 : 0));
            break;
        }
        case 5:
            TRACE("  init\n");
            EXPECT(pack.Init() == 1);
            m.members.clear();
            break;
        case 6:
            Save(in, pack, m);
            break;
        case 7:
            Preload(pack, m);
            break;
        case 8:
            ExtractAll(in, pack, m);
            break;
        case 9:
        case 10:
            CheckReadMember(pack, m, MemberName(in, m));
            break;
        case 11:
        case 12:
            CheckOpenPack(pack, m, MemberName(in, m));
            break;
        case 13:
            CheckSourcePath(pack, m, MemberName(in, m));
            break;
        default:
            CheckFind(pack, m, MemberName(in, m));
            break;
        }
        EXPECT(pack.m_pAllList->GetCount() == (int)m.members.size());
    }
    return 0;
}
