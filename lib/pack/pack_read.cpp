// Entering archives, files and folder trees, and reading members back.
#include "pack/cpack.h"

#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/path.h"
#include "pack/pack_index.h"
#include "pack/pack_util.h"
#include "platform/platform.h"
#include "platform/volume.h"

#include <new>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

const DWORD HEADER_SIZE = 12;
const DWORD TRAILER_SIZE = 4;
const DWORD DIR_ENTRY_SIZE = 76;

DWORD LoadDword(const BYTE* p)
{
    return (DWORD)p[0] | (DWORD)p[1] << 8 | (DWORD)p[2] << 16 | (DWORD)p[3] << 24;
}

// The most content a block of dwPackSize bytes can decode to, so that a
// record stating more is refused before anything of its size is
// allocated. A Huffman block whose tree is a single leaf (its first bit 0)
// has no such bound and is not covered here.
QWORD LargestContent(DWORD dwMethod, DWORD dwPackSize)
{
    QWORD qwPack = dwPackSize;
    switch (dwMethod) {
    case PACK_STORE:
        return qwPack;
    case PACK_SLIDE: {
        // A group is a flag byte and 8 items; the item that gives most per
        // byte is a match, 2 bytes for at most 18. So a full group gives at
        // most 144 bytes from 17, and the last, cut group of r bytes at
        // most (r - 1) / 2 matches and, for an even r, one literal more.
        QWORD qwGroups = qwPack / 17, qwRest = qwPack % 17;
        return qwGroups * 144 + (qwRest ? (qwRest - 1) / 2 * 18 + (qwRest - 1) % 2 : 0);
    }
    case PACK_HUFFMAN:
        // Two leaves or more: every content byte has a code of a bit at
        // least, after a tree of 19 bits at least (an internal node and
        // two leaves of 9 bits).
        return qwPack * 8 < 19 ? 0 : qwPack * 8 - 19;
    default:
        // zlib: 2 header and 4 check bytes around the deflate data, in
        // which a match (a length and a distance code, a bit each at
        // least) gives at most 258 bytes: 1032 bytes a byte.
        return qwPack < 6 ? 0 : (qwPack - 6) * 1032;
    }
}

// Whether the Huffman block at qwOffset starts with a tree of a single
// leaf (a first bit 0). Save writes a file of one repeated byte so, and
// such a block yields any length from a few bytes.
bool IsSingleLeafTree(CFile* pFile, QWORD qwOffset, DWORD dwPackSize)
{
    BYTE bFirst = 0xFF;
    return dwPackSize && pFile->Seek64(qwOffset, 0) && pFile->Read(&bFirst, 1) == 1 && !(bFirst & 0x80);
}

// A member name must be a plain file name that Windows creates as given:
// the archive has one flat name space, and extraction joins names to a
// folder, so a name that climbs out of it ("..", a separator, a drive)
// would write elsewhere, a device name would write to the device, and a
// name Windows alters (a trailing dot or space dropped, a malformed
// character made a stand-in) or refuses would not be the member's.
bool IsPlainName(const char* lpszName)
{
    return CheckComponentName(lpszName) == NAME_OK;
}

// Whether the directory block pBlock (dwDirSize bytes, inverted back) is
// exactly the coder's stream of the qwDirBytes of records decoded from it.
// No records: no block.
bool IsWholeDirectory(CHuffman* pCoder, const BYTE* pDir, QWORD qwDirBytes, const BYTE* pBlock, DWORD dwDirSize)
{
    if (!qwDirBytes)
        return dwDirSize == 0;
    QWORD qwRoom = CPack::EncodeRoom(PACK_HUFFMAN, (DWORD)qwDirBytes);
    if (qwDirBytes > 0xFFFFFFFFu || qwRoom < dwDirSize)
        return false;
    BYTE* pAgain = new (std::nothrow) BYTE[qwRoom];
    bool bWhole = pAgain && pCoder->Compress(pAgain, (DWORD)qwRoom, pDir, (DWORD)qwDirBytes) == dwDirSize &&
                  memcmp(pAgain, pBlock, dwDirSize) == 0;
    delete[] pAgain;
    return bWhole;
}

} // namespace

int CPack::Open(const char* lpszPath)
{
    if (!Init())
        return 0;
    if (OpenArchive(lpszPath))
        return 1;
    // A file that begins like an archive is one: a damaged archive is
    // refused, never served as a loose file of that name.
    CFile clFile;
    char abMagic[3];
    if (clFile.Open(lpszPath, 0) && clFile.Read(abMagic, 3) == 3 && memcmp(abMagic, "PAC", 3) == 0)
        return 0;
    clFile.Close();
    if (AddFile(lpszPath))
        return 1;
    return AddFolder(lpszPath);
}

int CPack::OpenArchive(const char* lpszPath)
{
    CFile clFile;
    char lpszFullPath[MAX_PATH];
    if (!clFile.Open(lpszPath, 0))
        return 0;
    if (!PlatGetFullPathName(lpszPath, MAX_PATH, lpszFullPath, NULL))
        return 0;
    return AddArchive(&clFile, lpszFullPath, "", "");
}

int CPack::OpenResourceArchive(const char* lpszName, const char* lpszType)
{
    // Members remember the resource by name, so integer identifiers and
    // names that do not fit the record cannot be served later.
    if (IS_INTRESOURCE(lpszName) || IS_INTRESOURCE(lpszType) || strlen(lpszName) >= PACK_NAME_SIZE ||
        strlen(lpszType) >= PACK_NAME_SIZE)
        return 0;
    CFile clFile;
    if (!clFile.OpenResource(lpszName, lpszType))
        return 0;
    return AddArchive(&clFile, "", lpszName, lpszType);
}

bool ReadArchiveLayout(CFile* pFile, CHuffman* pHuffman, PackArchiveLayout* pLayout)
{
    BYTE abHeader[HEADER_SIZE];
    if (pFile->m_qwSize < HEADER_SIZE + TRAILER_SIZE || !ArchiveLengthFits(pFile->m_qwSize))
        return false;
    DWORD dwLength = pFile->GetSize();
    pFile->Seek64(0, 0);
    if (pFile->Read(abHeader, HEADER_SIZE) != HEADER_SIZE || memcmp(abHeader, "PAC", 3) != 0)
        return false;
    DWORD dwCount = LoadDword(abHeader + 4);
    DWORD dwMethod = LoadDword(abHeader + 8);
    // Positions are 64-bit: an archive may be longer than a signed 32-bit
    // seek reaches.
    pFile->Seek64(dwLength - TRAILER_SIZE, 0);
    DWORD dwDirSize = pFile->ReadDword();
    if (dwMethod > PACK_ZLIB || dwDirSize > dwLength - HEADER_SIZE - TRAILER_SIZE)
        return false;
    // A directory record always holds both a zero byte and a non-zero
    // byte, so its code tree has two leaves at least and every record byte
    // costs a bit or more: N * 76 bytes never come from fewer than
    // N * 76 / 8 bytes of directory.
    QWORD qwDirBytes = (QWORD)dwCount * DIR_ENTRY_SIZE;
    if (qwDirBytes > (QWORD)dwDirSize * 8)
        return false;
    DWORD dwDataEnd = dwLength - TRAILER_SIZE - dwDirSize;

    DWORD dwNextBlock;
    BYTE* pBlock = new (std::nothrow) BYTE[dwDirSize + 1];
    BYTE* pDir = new (std::nothrow) BYTE[qwDirBytes + 1];
    bool bResult = false;
    if (!pBlock || !pDir)
        goto done;
    pFile->Seek64(dwDataEnd, 0);
    if (pFile->Read(pBlock, dwDirSize) != dwDirSize)
        goto done;
    for (DWORD i = 0; i < dwDirSize; i++)
        pBlock[i] ^= 0xFF;
    if (dwCount && pHuffman->Decompress(pDir, (DWORD)qwDirBytes, pBlock, dwDirSize) != qwDirBytes)
        goto done;
    // The directory must be the whole block: a count lowered by one would
    // decode the first records and hide the rest. The coder's stream is
    // fully determined by its input, so coding the records again gives the
    // block back exactly when nothing was left over or changed.
    if (!IsWholeDirectory(pHuffman, pDir, qwDirBytes, pBlock, dwDirSize))
        goto done;

    // Check every record before taking any, so a damaged archive gives
    // nothing. The blocks lie back to back in directory order and fill the
    // data area, as the writer lays them out: no byte belongs to no member.
    dwNextBlock = HEADER_SIZE;
    for (DWORD i = 0; i < dwCount; i++) {
        const BYTE* pRec = pDir + i * DIR_ENTRY_SIZE;
        DWORD dwOffset = LoadDword(pRec + 64), dwOrgSize = LoadDword(pRec + 68);
        DWORD dwPackSize = LoadDword(pRec + 72);
        if (!memchr(pRec, 0, PACK_NAME_SIZE) || !IsPlainName((const char*)pRec))
            goto done;
        if (dwOffset != dwNextBlock || (QWORD)dwOffset + dwPackSize > dwDataEnd)
            goto done;
        dwNextBlock = dwOffset + dwPackSize;
        bool bSizeFits = dwMethod == PACK_STORE ? dwPackSize == dwOrgSize
                                                : dwOrgSize <= LargestContent(dwMethod, dwPackSize);
        if (!bSizeFits && !(dwMethod == PACK_HUFFMAN && IsSingleLeafTree(pFile, dwOffset, dwPackSize)))
            goto done;
    }
    if (dwNextBlock != dwDataEnd)
        goto done;
    try {
        pLayout->entries.resize(dwCount);
    } catch (const std::bad_alloc&) {
        goto done;
    }
    for (DWORD i = 0; i < dwCount; i++) {
        const BYTE* pRec = pDir + i * DIR_ENTRY_SIZE;
        PackDirEntry& entry = pLayout->entries[i];
        // The whole field, bytes after the NUL included: a rebuild must
        // write them again as they were.
        memcpy(entry.szName, pRec, PACK_NAME_SIZE);
        entry.dwOffset = LoadDword(pRec + 64);
        entry.dwOrgSize = LoadDword(pRec + 68);
        entry.dwPackSize = LoadDword(pRec + 72);
    }
    pLayout->bHeaderByte = abHeader[3];
    pLayout->dwMethod = dwMethod;
    pLayout->dwDirSize = dwDirSize;
    bResult = true;
done:
    delete[] pBlock;
    delete[] pDir;
    return bResult;
}

int CPack::AddArchive(CFile* pFile, const char* lpszPackPath, const char* lpszResName,
                      const char* lpszResType)
{
    PackArchiveLayout layout;
    if (!ReadArchiveLayout(pFile, m_pHuffman, &layout))
        return 0;
    DWORD dwCount = (DWORD)layout.entries.size();
    // Room in the name index for every member at once, rather than growing
    // it step by step.
    if (!m_pIndex->Reserve(dwCount))
        return 0;
    for (const PackDirEntry& entry : layout.entries) {
        PackMember member;
        memset(&member, 0, sizeof(member));
        strcpy(member.szName, entry.szName);
        strcpy(member.szPackPath, lpszPackPath);
        strcpy(member.szResName, lpszResName);
        strcpy(member.szResType, lpszResType);
        member.dwOffset = entry.dwOffset;
        member.dwOrgSize = entry.dwOrgSize;
        member.dwPackSize = entry.dwPackSize;
        member.nMethod = (int)layout.dwMethod;
        if (!Enter(member))
            return 0;
    }
    return 1;
}

int CPack::AddFile(const char* lpszPath)
{
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst(lpszPath, &fd);
    if (!hFind)
        return 0;
    PlatFindClose(hFind);
    // A record holds 32-bit sizes: a file of 4 GiB or more is refused, not
    // cut to its size modulo 4 GiB.
    if (!ArchiveLengthFits((QWORD)fd.nFileSizeHigh << 32 | fd.nFileSizeLow))
        return 0;

    PackMember member;
    memset(&member, 0, sizeof(member));
    char* pFilePart = NULL;
    if (!PlatGetFullPathName(lpszPath, PACK_PATH_SIZE, member.szPackPath, &pFilePart))
        return 0;
    char lpszName[MAX_PATH];
    GetFileName(lpszName, member.szPackPath);
    // A name the format cannot hold is refused rather than cut, which
    // would serve the file under a name nobody asked for.
    if (strlen(lpszName) >= PACK_NAME_SIZE || !IsPlainName(lpszName))
        return 0;
    strcpy(member.szName, lpszName);
    member.dwOrgSize = member.dwPackSize = fd.nFileSizeLow;
    member.nMethod = PACK_STORE;
    return Enter(member);
}

namespace {

// AddFolder with the folders walked so far.
int AddTree(CPack* pPack, const char* lpszPath, std::vector<PlatFileId>* pSeen)
{
    // A folder reached again through a link (a loop back up the tree, or a
    // second way in) is not walked again: the walk would not end, or add
    // its files twice.
    PlatFileId id;
    if (PlatGetFileId(lpszPath, &id)) {
        for (const PlatFileId& seen : *pSeen)
            if (PlatSameFile(&seen, &id))
                return 0;
        pSeen->push_back(id);
    }
    char lpszPattern[MAX_PATH], lpszEntry[MAX_PATH];
    // An empty path is the current folder: "*.*" and bare entry names.
    if (!JoinPath(lpszPattern, lpszPath, "*.*"))
        return 0;
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst(lpszPattern, &fd);
    if (!hFind)
        return 0;
    // Every entry is tried; the result says whether all of them made it.
    int nResult = 1;
    do {
        bool bFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A name with no code-page-932 form can be neither opened through
        // the library nor looked up: it is no member, as on every system.
        if ((bFolder && fd.cFileName[0] == '.') || fd.bNoCp932Name)
            continue;
        if (!JoinPath(lpszEntry, lpszPath, fd.cFileName)) {
            nResult = 0;
            continue;
        }
        if (!(bFolder ? AddTree(pPack, lpszEntry, pSeen) : pPack->AddFile(lpszEntry)))
            nResult = 0;
    } while (PlatFindNext(hFind, &fd));
    PlatFindClose(hFind);
    return nResult;
}

} // namespace

int CPack::AddFolder(const char* lpszPath)
{
    std::vector<PlatFileId> seen;
    return AddTree(this, lpszPath, &seen);
}

int CPack::OpenMemberFile(PackMember* pMember, HANDLE* phFile)
{
    if (pMember->nMethod != PACK_STORE || pMember->lpData)
        return 0;
    HANDLE hFile = pMember->szPackPath[0] ? PlatOpenFile(pMember->szPackPath, 0) : NULL;
    if (!hFile || !PlatSetFilePos(hFile, pMember->dwOffset, PLAT_SEEK_BEGIN, NULL)) {
        PlatCloseFile(hFile);
        *phFile = NULL;
        return 0;
    }
    *phFile = hFile;
    return 1;
}

int CPack::OpenMemberFile(const char* lpszName, HANDLE* phFile)
{
    PackMember* pMember = Find(lpszName);
    return pMember ? OpenMemberFile(pMember, phFile) : 0;
}

int OpenContainer(const PackMember* pMember, CFile* pFile)
{
    if (pMember->lpData)
        // A block of 0 bytes would open unbounded; nothing is read from it.
        return pFile->OpenMemory(pMember->lpData, pMember->dwPackSize ? pMember->dwPackSize : 1, 0);
    if (pMember->szPackPath[0])
        return pFile->Open(pMember->szPackPath, 0);
    return pFile->OpenResource(pMember->szResName, pMember->szResType);
}

namespace {

int Decode(int nMethod, BYTE* pDest, DWORD dwOrgSize, const BYTE* pBlock, DWORD dwPackSize, PackCodecs* pCodecs)
{
    switch (nMethod) {
    case PACK_SLIDE:
        // The stream carries no end mark: one that stops early is cut.
        return pCodecs->clSlide.Decompress(pDest, dwOrgSize, pBlock, dwPackSize) == dwOrgSize;
    case PACK_HUFFMAN:
        // A Huffman stream always yields the size asked for; damage cannot
        // be told from the bytes.
        pCodecs->clHuffman.Decompress(pDest, dwOrgSize, pBlock, dwPackSize);
        return 1;
    case PACK_ZLIB:
        return pCodecs->clZlib.DecompressChecked(pDest, dwOrgSize, pBlock, dwPackSize) == dwOrgSize;
    default:
        return 0;
    }
}

} // namespace

int ReadContent(const PackMember* pMember, CFile* pFile, BYTE* pDest, PackCodecs* pCodecs)
{
    // An empty member is empty whatever its block holds.
    if (pMember->dwOrgSize == 0)
        return 1;
    pFile->Seek64(pMember->dwOffset, 0);
    if (pMember->nMethod == PACK_STORE)
        return pFile->Read(pDest, pMember->dwOrgSize) == pMember->dwOrgSize;
    BYTE* pBlock = new (std::nothrow) BYTE[pMember->dwPackSize + 1];
    if (!pBlock)
        return 0;
    int nResult = pFile->Read(pBlock, pMember->dwPackSize) == pMember->dwPackSize &&
                  Decode(pMember->nMethod, pDest, pMember->dwOrgSize, pBlock, pMember->dwPackSize, pCodecs);
    delete[] pBlock;
    return nResult;
}

int CPack::ReadMember(PackMember* pMember, BYTE** ppBuffer)
{
    // A codec set of its own, so that reads may run on several threads.
    PackCodecs* pCodecs = m_pCodecPool->Take();
    CFile clFile;
    int nResult = pCodecs && OpenContainer(pMember, &clFile) && ReadContent(pMember, &clFile, *ppBuffer, pCodecs);
    m_pCodecPool->Give(pCodecs);
    return nResult;
}

int CPack::ReadMember(const char* lpszName, BYTE** ppBuffer)
{
    PackMember* pMember = Find(lpszName);
    return pMember ? ReadMember(pMember, ppBuffer) : 0;
}

void CPack::Preload()
{
    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext()) {
        if (p->lpData)
            continue;
        // A member whose block cannot be loaded whole stays served from its
        // container, as before.
        CFile clFile;
        BYTE* pData = new (std::nothrow) BYTE[p->dwPackSize + 1];
        if (!pData || !OpenContainer(p, &clFile)) {
            delete[] pData;
            continue;
        }
        clFile.Seek64(p->dwOffset, 0);
        if (clFile.Read(pData, p->dwPackSize) != p->dwPackSize) {
            delete[] pData;
            continue;
        }
        p->lpData = pData;
        p->dwOffset = 0;
    }
}
