// Archive deltas: the layout is docs/archive-delta-format.md, and the limits
// below are part of it.
#include "pack/pack_delta.h"

#include "codec/bytes.h"

#include "codec/cdelta.h"
#include "file/cfile.h"
#include "pack/cpack.h"
#include "pack/pack_util.h"
#include "platform/hash.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string.h>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace {

const BYTE g_abMagic[4] = {'G', 'P', 'K', 'D'};
const DWORD PACK_DELTA_VERSION = 1;
const DWORD HEADER_SIZE = 12; // of an archive
const DWORD DIR_ENTRY_SIZE = 76;
// Pieces of stored bytes copied from the delta to the archive, and between
// two questions to the caller.
const size_t PIECE_SIZE = 64 << 10;

// How a member's bytes travel. The content kinds are coded again on the
// way in; the block kinds are the data block itself.
enum {
    KIND_CONTENT = 0,       // the content as it is
    KIND_CONTENT_ZLIB = 1,  // the content as a CZlib stream
    KIND_CONTENT_DELTA = 2, // a CDelta from an old member's content
    KIND_BLOCK = 3,         // the data block as it is
    KIND_BLOCK_DELTA = 4,   // a CDelta from an old member's data block
    KIND_COUNT
};


// The SHA-256 of what identifies the old archive without reading it whole:
// its header, its directory block and its trailer (the directory names
// every member's offset and sizes).
bool OldArchiveDigest(CFile* pOld, const PackArchiveLayout& layout, BYTE abDigest[PLAT_SHA256_SIZE])
{
    PlatSha256 sha;
    BYTE abHeader[HEADER_SIZE];
    if (!sha.Begin() || !pOld->Seek64(0, 0) || pOld->Read(abHeader, HEADER_SIZE) != HEADER_SIZE)
        return false;
    sha.Add(abHeader, HEADER_SIZE);
    std::unique_ptr<BYTE[]> pTail(new (std::nothrow) BYTE[(size_t)layout.dwDirSize + 4]);
    DWORD dwTail = layout.dwDirSize + 4;
    if (!pTail || !pOld->Seek64(pOld->m_qwSize - dwTail, 0) || pOld->Read(pTail.get(), dwTail) != dwTail)
        return false;
    sha.Add(pTail.get(), dwTail);
    return sha.End(abDigest) != 0;
}

// A member of an archive as the reader's record for it.
PackMember MemberOf(const PackDirEntry& entry, DWORD dwMethod)
{
    PackMember member;
    memset(&member, 0, sizeof(member));
    member.dwOffset = entry.dwOffset;
    member.dwOrgSize = entry.dwOrgSize;
    member.dwPackSize = entry.dwPackSize;
    member.nMethod = (int)dwMethod;
    return member;
}

// An old member's decoded content, or its data block as stored.
std::unique_ptr<BYTE[]> LoadOld(CFile* pOld, const PackArchiveLayout& layout, DWORD dwIndex, bool bBlock,
                                PackCodecs* pCodecs, size_t* pnSize)
{
    const PackDirEntry& entry = layout.entries[dwIndex];
    *pnSize = bBlock ? entry.dwPackSize : entry.dwOrgSize;
    std::unique_ptr<BYTE[]> pData(new (std::nothrow) BYTE[*pnSize + 1]);
    if (!pData)
        return nullptr;
    PackMember member = MemberOf(entry, layout.dwMethod);
    bool bOk = bBlock ? pOld->Seek64(entry.dwOffset, 0) && pOld->Read(pData.get(), entry.dwPackSize) == entry.dwPackSize
                      : ReadContent(&member, pOld, pData.get(), pCodecs) != 0;
    return bOk ? std::move(pData) : nullptr;
}

// The data block Save writes for a content: the content itself when
// stored, nothing when empty, else the method's coder's output. Null when
// memory runs out; *ppOwned holds what was allocated.
const BYTE* CodeContent(DWORD dwMethod, const BYTE* pContent, DWORD dwSize, DWORD* pdwBlock,
                        std::unique_ptr<BYTE[]>* ppOwned, PackCodecs* pCodecs)
{
    if (dwMethod == PACK_STORE || dwSize == 0) {
        *pdwBlock = dwMethod == PACK_STORE ? dwSize : 0;
        return pContent ? pContent : (const BYTE*)"";
    }
    ppOwned->reset(EncodeBlock((int)dwMethod, pContent, dwSize, pdwBlock, pCodecs));
    return ppOwned->get();
}

// The delta, pulled in order through the caller's procedure.
class DeltaInput {
public:
    DeltaInput(DeltaReadProc pfnRead, void* pParam)
        : m_pfnRead(pfnRead), m_pParam(pParam), m_nPos(0), m_nEnd(0), m_bEnd(false), m_qwLimit(0)
    {
    }
    bool Init()
    {
        m_pBuffer.reset(new (std::nothrow) BYTE[PIECE_SIZE]);
        return m_pBuffer != NULL;
    }
    bool Read(void* pDest, size_t nSize)
    {
        BYTE* p = (BYTE*)pDest;
        while (nSize) {
            if (m_nPos == m_nEnd && !Fill())
                return false;
            size_t n = std::min(nSize, m_nEnd - m_nPos);
            memcpy(p, m_pBuffer.get() + m_nPos, n);
            m_nPos += n;
            p += n;
            nSize -= n;
        }
        return true;
    }
    bool ReadByte(BYTE* pb) { return Read(pb, 1); }
    bool ReadVarint(QWORD* pqwValue)
    {
        QWORD qwValue = 0;
        for (int nShift = 0; nShift < 64; nShift += 7) {
            BYTE b;
            if (!ReadByte(&b) || (nShift == 63 && b > 1))
                return false;
            qwValue |= (QWORD)(b & 0x7F) << nShift;
            if (!(b & 0x80)) {
                *pqwValue = qwValue;
                return true;
            }
        }
        return false;
    }
    // True when the delta has no byte more.
    bool AtEnd() { return m_nPos == m_nEnd && !Fill(); }
    // Serves the next m_qwLimit bytes to CDelta::Apply, then its end.
    static int ReadPayload(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
    {
        DeltaInput* pIn = (DeltaInput*)pParam;
        *pnRead = 0;
        if (!pIn->m_qwLimit)
            return 1;
        if (pIn->m_nPos == pIn->m_nEnd && !pIn->Fill())
            return 0; // the delta ended inside a payload
        size_t n = (size_t)std::min((QWORD)std::min(nSize, pIn->m_nEnd - pIn->m_nPos), pIn->m_qwLimit);
        memcpy(pBuf, pIn->m_pBuffer.get() + pIn->m_nPos, n);
        pIn->m_nPos += n;
        pIn->m_qwLimit -= n;
        *pnRead = n;
        return 1;
    }

private:
    bool Fill()
    {
        if (m_bEnd)
            return false;
        size_t nRead = 0;
        if (!m_pfnRead(m_pParam, m_pBuffer.get(), PIECE_SIZE, &nRead) || nRead > PIECE_SIZE || nRead == 0) {
            m_bEnd = true;
            return false;
        }
        m_nPos = 0;
        m_nEnd = nRead;
        return true;
    }

    DeltaReadProc m_pfnRead;
    void* m_pParam;
    std::unique_ptr<BYTE[]> m_pBuffer;
    size_t m_nPos, m_nEnd;
    bool m_bEnd;

public:
    QWORD m_qwLimit;
};

// The new archive as it is written, front to back, hashed on the way.
struct ArchiveOutput {
    CFile* pFile;
    PlatSha256 sha;
    QWORD qwDone;
    QWORD qwTotal;
    PackDeltaContinueProc pfnContinue;
    void* pParam;

    bool Write(const void* pData, size_t nSize)
    {
        const BYTE* p = (const BYTE*)pData;
        if (nSize > qwTotal - qwDone)
            return false;
        while (nSize) {
            DWORD dwPiece = (DWORD)std::min(nSize, (size_t)1 << 20);
            if (pFile->Write(p, dwPiece) != dwPiece)
                return false;
            sha.Add(p, dwPiece);
            qwDone += dwPiece;
            p += dwPiece;
            nSize -= dwPiece;
            if (pfnContinue && !pfnContinue(pParam, qwDone, qwTotal))
                return false;
        }
        return true;
    }
    static int WriteProc(void* pParam, const void* pBuf, size_t nSize)
    {
        return ((ArchiveOutput*)pParam)->Write(pBuf, nSize);
    }
};

// A content being rebuilt in memory, to be coded once complete.
struct ContentSink {
    BYTE* p;
    size_t nSize;
    size_t nAt;

    static int WriteProc(void* pParam, const void* pBuf, size_t nSize)
    {
        ContentSink* pSink = (ContentSink*)pParam;
        if (nSize > pSink->nSize - pSink->nAt)
            return 0;
        memcpy(pSink->p + pSink->nAt, pBuf, nSize);
        pSink->nAt += nSize;
        return 1;
    }
};

// One member's record in the delta, as read.
struct MemberRecord {
    PackDirEntry entry;
    BYTE bKind;
    DWORD dwBase;
    QWORD qwPayload;
};

bool ReadMemberRecord(DeltaInput* pIn, const PackDeltaHeader& header, DWORD dwOldCount, MemberRecord* pRecord)
{
    BYTE bNameSize;
    QWORD qwContent, qwBlock, qwBase = 0;
    memset(&pRecord->entry, 0, sizeof(pRecord->entry));
    if (!pIn->ReadByte(&bNameSize) || bNameSize == 0 || bNameSize > PACK_NAME_SIZE ||
        !pIn->Read(pRecord->entry.szName, bNameSize) || !memchr(pRecord->entry.szName, 0, PACK_NAME_SIZE))
        return false;
    if (!pIn->ReadByte(&pRecord->bKind) || pRecord->bKind >= KIND_COUNT || !pIn->ReadVarint(&qwContent) ||
        !pIn->ReadVarint(&qwBlock))
        return false;
    bool bDelta = pRecord->bKind == KIND_CONTENT_DELTA || pRecord->bKind == KIND_BLOCK_DELTA;
    if (bDelta && (!pIn->ReadVarint(&qwBase) || qwBase >= dwOldCount))
        return false;
    if (!pIn->ReadVarint(&pRecord->qwPayload))
        return false;
    // A content that is coded again is held whole: never more than the
    // header announced.
    bool bContent = pRecord->bKind <= KIND_CONTENT_DELTA;
    if (qwContent > (bContent ? header.dwLargestContent : 0xFFFFFFFFu) || qwBlock > 0xFFFFFFFFu)
        return false;
    pRecord->entry.dwOrgSize = (DWORD)qwContent;
    pRecord->entry.dwPackSize = (DWORD)qwBlock;
    pRecord->dwBase = (DWORD)qwBase;
    // Stored bytes are exactly as long as what they stand for.
    if (pRecord->bKind == KIND_CONTENT && pRecord->qwPayload != qwContent)
        return false;
    if (pRecord->bKind == KIND_BLOCK && pRecord->qwPayload != qwBlock)
        return false;
    if (pRecord->bKind == KIND_CONTENT_ZLIB && pRecord->qwPayload > CPack::EncodeRoom(PACK_ZLIB, (DWORD)qwContent))
        return false;
    return true;
}

// Copies the next qwSize bytes of the delta into the archive.
bool CopyPayload(DeltaInput* pIn, ArchiveOutput* pOut, QWORD qwSize, BYTE* pPiece)
{
    while (qwSize) {
        size_t n = (size_t)std::min(qwSize, (QWORD)PIECE_SIZE);
        if (!pIn->Read(pPiece, n) || !pOut->Write(pPiece, n))
            return false;
        qwSize -= n;
    }
    return true;
}

// Runs the CDelta that follows in the delta (its payload) on a base.
bool ApplyPayload(DeltaInput* pIn, QWORD qwPayload, const BYTE* pBase, size_t nBase, DeltaWriteProc pfnWrite,
                  void* pWriteParam)
{
    CDelta clDelta;
    pIn->m_qwLimit = qwPayload;
    bool bOk = clDelta.Apply(pBase, nBase, DeltaInput::ReadPayload, pIn, pfnWrite, pWriteParam) != 0;
    return bOk && pIn->m_qwLimit == 0;
}

// Writes one member's data block.
bool WriteMember(DeltaInput* pIn, ArchiveOutput* pOut, const MemberRecord& record, DWORD dwMethod, CFile* pOld,
                 const PackArchiveLayout& oldLayout, PackCodecs* pCodecs, BYTE* pPiece)
{
    const PackDirEntry& entry = record.entry;
    size_t nBase = 0;
    std::unique_ptr<BYTE[]> pBase;
    if (record.bKind == KIND_CONTENT_DELTA || record.bKind == KIND_BLOCK_DELTA) {
        pBase = LoadOld(pOld, oldLayout, record.dwBase, record.bKind == KIND_BLOCK_DELTA, pCodecs, &nBase);
        if (!pBase)
            return false;
    }
    if (record.bKind == KIND_BLOCK)
        return CopyPayload(pIn, pOut, record.qwPayload, pPiece);
    if (record.bKind == KIND_BLOCK_DELTA)
        return ApplyPayload(pIn, record.qwPayload, pBase.get(), nBase, ArchiveOutput::WriteProc, pOut);
    // A stored content is its own block: it goes straight to the archive.
    if (dwMethod == PACK_STORE && entry.dwPackSize != entry.dwOrgSize)
        return false;
    if (dwMethod == PACK_STORE && record.bKind == KIND_CONTENT)
        return CopyPayload(pIn, pOut, record.qwPayload, pPiece);
    if (dwMethod == PACK_STORE && record.bKind == KIND_CONTENT_DELTA)
        return ApplyPayload(pIn, record.qwPayload, pBase.get(), nBase, ArchiveOutput::WriteProc, pOut);

    std::unique_ptr<BYTE[]> pContent(new (std::nothrow) BYTE[(size_t)entry.dwOrgSize + 1]);
    if (!pContent)
        return false;
    if (record.bKind == KIND_CONTENT) {
        if (!pIn->Read(pContent.get(), entry.dwOrgSize))
            return false;
    } else if (record.bKind == KIND_CONTENT_ZLIB) {
        std::unique_ptr<BYTE[]> pStream(new (std::nothrow) BYTE[(size_t)record.qwPayload + 1]);
        CZlib& clZlib = pCodecs->clZlib;
        if (!pStream || !pIn->Read(pStream.get(), (size_t)record.qwPayload) ||
            clZlib.DecompressChecked(pContent.get(), entry.dwOrgSize, pStream.get(), (DWORD)record.qwPayload) !=
                entry.dwOrgSize)
            return false;
    } else {
        ContentSink sink = {pContent.get(), entry.dwOrgSize, 0};
        if (!ApplyPayload(pIn, record.qwPayload, pBase.get(), nBase, ContentSink::WriteProc, &sink) ||
            sink.nAt != entry.dwOrgSize)
            return false;
        pBase.reset(); // the old content is no longer needed while coding
    }
    DWORD dwBlock = 0;
    std::unique_ptr<BYTE[]> pOwned;
    const BYTE* pBlock = CodeContent(dwMethod, pContent.get(), entry.dwOrgSize, &dwBlock, &pOwned, pCodecs);
    if (dwMethod != PACK_STORE)
        pContent.reset();
    return pBlock && dwBlock == entry.dwPackSize && pOut->Write(pBlock, dwBlock);
}

} // namespace

int PackDeltaReadHeader(const void* pBuf, size_t nSize, PackDeltaHeader* pHeader)
{
    const BYTE* p = (const BYTE*)pBuf;
    if (nSize < PACK_DELTA_HEADER_SIZE || memcmp(p, g_abMagic, 4) != 0 || GetLE(p + 4, 4) != PACK_DELTA_VERSION)
        return 0;
    pHeader->qwOldSize = GetLE(p + 8, 8);
    pHeader->qwNewSize = GetLE(p + 48, 8);
    pHeader->dwMembers = (DWORD)GetLE(p + 96, 4);
    pHeader->dwLargestContent = (DWORD)GetLE(p + 100, 4);
    memcpy(pHeader->abNewDigest, p + 56, sizeof(pHeader->abNewDigest));
    return 1;
}

int PackDeltaApplyFrom(CFile* pOld, DeltaReadProc pfnRead, void* pReadParam, CFile* pOut,
                       PackDeltaContinueProc pfnContinue, void* pParam)
{
    DeltaInput in(pfnRead, pReadParam);
    std::unique_ptr<PackCodecs> pCodecs(new (std::nothrow) PackCodecs);
    std::unique_ptr<BYTE[]> pPiece(new (std::nothrow) BYTE[PIECE_SIZE]);
    BYTE abHeader[PACK_DELTA_HEADER_SIZE];
    PackDeltaHeader header;
    if (!pCodecs || !pPiece || !in.Init() || !in.Read(abHeader, sizeof(abHeader)) ||
        !PackDeltaReadHeader(abHeader, sizeof(abHeader), &header))
        return 0;
    DWORD dwMethod = (DWORD)GetLE(abHeader + 88, 4), dwHeaderByte = (DWORD)GetLE(abHeader + 92, 4);
    // An archive is 16 bytes at least and within the format's 4 GiB.
    if (dwMethod > PACK_ZLIB || dwHeaderByte > 0xFF || header.qwNewSize < HEADER_SIZE + 4 ||
        !ArchiveLengthFits(header.qwNewSize))
        return 0;

    // The old archive must be the one the delta was made from.
    PackArchiveLayout oldLayout;
    BYTE abDigest[PLAT_SHA256_SIZE];
    if (pOld->m_qwSize != header.qwOldSize || !ReadArchiveLayout(pOld, &pCodecs->clHuffman, &oldLayout) ||
        !OldArchiveDigest(pOld, oldLayout, abDigest) || memcmp(abDigest, abHeader + 16, PLAT_SHA256_SIZE) != 0)
        return 0;

    ArchiveOutput out;
    out.pFile = pOut;
    out.qwDone = 0;
    out.qwTotal = header.qwNewSize;
    out.pfnContinue = pfnContinue;
    out.pParam = pParam;
    BYTE abArchiveHeader[HEADER_SIZE] = {'P', 'A', 'C', (BYTE)dwHeaderByte};
    PutLE(abArchiveHeader + 4, header.dwMembers, 4);
    PutLE(abArchiveHeader + 8, dwMethod, 4);
    if (!out.sha.Begin() || !out.Write(abArchiveHeader, HEADER_SIZE))
        return 0;

    // The directory grows with the members read, never ahead of the delta.
    std::vector<BYTE> records;
    DWORD dwLargest = 0;
    for (DWORD i = 0; i < header.dwMembers; i++) {
        MemberRecord record;
        if (!ReadMemberRecord(&in, header, (DWORD)oldLayout.entries.size(), &record))
            return 0;
        // The block must leave room for the directory's length at least.
        if (record.entry.dwPackSize > out.qwTotal - 4 - out.qwDone)
            return 0;
        record.entry.dwOffset = (DWORD)out.qwDone;
        if (record.bKind <= KIND_CONTENT_DELTA)
            dwLargest = std::max(dwLargest, record.entry.dwOrgSize);
        if (!WriteMember(&in, &out, record, dwMethod, pOld, oldLayout, pCodecs.get(), pPiece.get()) ||
            out.qwDone != (QWORD)record.entry.dwOffset + record.entry.dwPackSize)
            return 0;
        try {
            records.resize(records.size() + DIR_ENTRY_SIZE);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        StoreDirEntry(&records[records.size() - DIR_ENTRY_SIZE], record.entry);
    }
    // The announced largest content is exact, so that no byte of the
    // delta goes unchecked.
    if (!in.AtEnd() || dwLargest != header.dwLargestContent)
        return 0;

    BYTE* pDirBlock = NULL;
    DWORD dwDirSize = 0;
    BYTE abTrailer[4];
    if (!EncodeDirectory(records.data(), header.dwMembers, &pDirBlock, &dwDirSize, pCodecs.get()))
        return 0;
    std::unique_ptr<BYTE[]> pOwnedDir(pDirBlock);
    PutLE(abTrailer, dwDirSize, 4);
    if (!out.Write(pDirBlock, dwDirSize) || !out.Write(abTrailer, 4) || out.qwDone != out.qwTotal ||
        !out.sha.End(abDigest))
        return 0;
    return memcmp(abDigest, abHeader + 56, PLAT_SHA256_SIZE) == 0;
}

int PackDeltaApply(const char* lpszOldArchive, DeltaReadProc pfnRead, void* pReadParam, CFile* pOut,
                   PackDeltaContinueProc pfnContinue, void* pParam)
{
    CFile clOld;
    if (!clOld.Open(lpszOldArchive, 0))
        return 0;
    return PackDeltaApplyFrom(&clOld, pfnRead, pReadParam, pOut, pfnContinue, pParam);
}

namespace {

struct MemoryDelta {
    const std::vector<BYTE>* pDelta;
    size_t nAt;

    static int ReadProc(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
    {
        MemoryDelta* p = (MemoryDelta*)pParam;
        *pnRead = std::min(nSize, p->pDelta->size() - p->nAt);
        memcpy(pBuf, p->pDelta->data() + p->nAt, *pnRead);
        p->nAt += *pnRead;
        return 1;
    }
};

// The file extension of a name field, for pairing renamed members.
std::string Extension(const char* lpszName)
{
    const char* pDot = strrchr(lpszName, '.');
    return pDot ? std::string(pDot) : std::string();
}

// Old members whose names the new archive no longer has, sorted by
// content size: the bases a renamed member is tried against.
class RenameCandidates {
public:
    RenameCandidates(const PackArchiveLayout& oldLayout, const PackArchiveLayout& newLayout) : m_old(oldLayout)
    {
        std::unordered_set<std::string> newNames;
        for (const PackDirEntry& entry : newLayout.entries)
            newNames.insert(entry.szName);
        for (DWORD i = 0; i < (DWORD)oldLayout.entries.size(); i++)
            if (!newNames.count(oldLayout.entries[i].szName))
                m_bySize.push_back(i);
        std::stable_sort(m_bySize.begin(), m_bySize.end(),
                         [&](DWORD a, DWORD b) { return m_old.entries[a].dwOrgSize < m_old.entries[b].dwOrgSize; });
    }
    // The nearest in size among a few, one of the same extension first;
    // false when there is none.
    bool Best(const PackDirEntry& entry, DWORD dwSize, DWORD* pdwIndex) const
    {
        auto it = std::lower_bound(m_bySize.begin(), m_bySize.end(), dwSize,
                                   [&](DWORD i, DWORD dw) { return m_old.entries[i].dwOrgSize < dw; });
        size_t nAt = it - m_bySize.begin(), nFrom = nAt > 8 ? nAt - 8 : 0, nTo = std::min(nAt + 8, m_bySize.size());
        std::string ext = Extension(entry.szName);
        bool bFound = false, bSameExt = false;
        QWORD qwBest = 0;
        for (size_t k = nFrom; k < nTo; k++) {
            const PackDirEntry& old = m_old.entries[m_bySize[k]];
            bool bExt = Extension(old.szName) == ext;
            QWORD qwDiff = old.dwOrgSize > dwSize ? old.dwOrgSize - dwSize : dwSize - old.dwOrgSize;
            if (!bFound || (bExt && !bSameExt) || (bExt == bSameExt && qwDiff < qwBest)) {
                bFound = true;
                bSameExt = bExt;
                qwBest = qwDiff;
                *pdwIndex = m_bySize[k];
            }
        }
        return bFound;
    }

private:
    const PackArchiveLayout& m_old;
    std::vector<DWORD> m_bySize;
};

// How one member travels: the smallest of the ways tried.
struct Choice {
    BYTE bKind;
    DWORD dwBase;
    std::vector<BYTE> payload;
};

void TryDelta(const BYTE* pBase, size_t nBase, const BYTE* pData, size_t nData, BYTE bKind, DWORD dwBase,
              Choice* pBest)
{
    Choice choice = {bKind, dwBase, {}};
    CDelta clDelta;
    if (clDelta.Make(pBase, nBase, pData, nData, &choice.payload) && choice.payload.size() < pBest->payload.size())
        *pBest = std::move(choice);
}

} // namespace

int PackDeltaMake(const BYTE* pOld, size_t nOld, const BYTE* pNew, size_t nNew, std::vector<BYTE>* pDelta)
{
    if (!ArchiveLengthFits(nOld) || !ArchiveLengthFits(nNew))
        return 0;
    try {
        std::unique_ptr<PackCodecs> pCodecs(new PackCodecs);
        CFile clOld, clNew;
        clOld.OpenMemory((void*)pOld, (DWORD)nOld, 0);
        clNew.OpenMemory((void*)pNew, (DWORD)nNew, 0);
        PackArchiveLayout oldLayout, newLayout;
        BYTE abOldDigest[PLAT_SHA256_SIZE], abNewDigest[PLAT_SHA256_SIZE];
        PlatSha256 sha;
        if (!ReadArchiveLayout(&clOld, &pCodecs->clHuffman, &oldLayout) ||
            !ReadArchiveLayout(&clNew, &pCodecs->clHuffman, &newLayout) ||
            !OldArchiveDigest(&clOld, oldLayout, abOldDigest) || !sha.Begin())
            return 0;
        sha.Add(pNew, nNew);
        if (!sha.End(abNewDigest))
            return 0;

        // The k-th new member of a name takes the k-th old one of that name
        // as its base (the last when the old archive has fewer): flattened
        // trees repeat names such as __init__.py in their order.
        std::unordered_map<std::string, std::vector<DWORD>> oldByName;
        std::unordered_map<std::string, size_t> seen;
        for (DWORD i = 0; i < (DWORD)oldLayout.entries.size(); i++)
            oldByName[oldLayout.entries[i].szName].push_back(i);
        RenameCandidates renames(oldLayout, newLayout);

        std::vector<BYTE> delta(PACK_DELTA_HEADER_SIZE);
        BYTE* pHeader = delta.data();
        memcpy(pHeader, g_abMagic, 4);
        PutLE(pHeader + 4, PACK_DELTA_VERSION, 4);
        PutLE(pHeader + 8, nOld, 8);
        memcpy(pHeader + 16, abOldDigest, PLAT_SHA256_SIZE);
        PutLE(pHeader + 48, nNew, 8);
        memcpy(pHeader + 56, abNewDigest, PLAT_SHA256_SIZE);
        PutLE(pHeader + 88, newLayout.dwMethod, 4);
        PutLE(pHeader + 92, newLayout.bHeaderByte, 4);
        PutLE(pHeader + 96, newLayout.entries.size(), 4);
        DWORD dwLargest = 0;

        for (const PackDirEntry& entry : newLayout.entries) {
            const BYTE* pBlock = pNew + entry.dwOffset;
            PackMember member = MemberOf(entry, newLayout.dwMethod);
            std::unique_ptr<BYTE[]> pContent(new BYTE[(size_t)entry.dwOrgSize + 1]);
            // A content the coder gives the block back from travels as
            // content; any other block as it is.
            bool bContent = ReadContent(&member, &clNew, pContent.get(), pCodecs.get()) != 0;
            if (bContent) {
                DWORD dwBlock = 0;
                std::unique_ptr<BYTE[]> pOwned;
                const BYTE* pAgain = CodeContent(newLayout.dwMethod, pContent.get(), entry.dwOrgSize, &dwBlock,
                                                 &pOwned, pCodecs.get());
                bContent = pAgain && dwBlock == entry.dwPackSize && memcmp(pAgain, pBlock, dwBlock) == 0;
            }
            auto itSame = oldByName.find(entry.szName);
            DWORD dwSame = 0;
            if (itSame != oldByName.end()) {
                size_t k = seen[entry.szName]++;
                dwSame = itSame->second[std::min(k, itSame->second.size() - 1)];
            }
            Choice best;
            if (bContent) {
                dwLargest = std::max(dwLargest, entry.dwOrgSize);
                best = {KIND_CONTENT, 0, std::vector<BYTE>(pContent.get(), pContent.get() + entry.dwOrgSize)};
                if (entry.dwOrgSize) {
                    DWORD dwPacked = 0;
                    std::unique_ptr<BYTE[]> pPacked(
                        EncodeBlock(PACK_ZLIB, pContent.get(), entry.dwOrgSize, &dwPacked, pCodecs.get()));
                    if (pPacked && dwPacked < best.payload.size())
                        best = {KIND_CONTENT_ZLIB, 0, std::vector<BYTE>(pPacked.get(), pPacked.get() + dwPacked)};
                    // The old member of the same name, or for a new name
                    // one whose name has gone (a member renamed).
                    DWORD dwBase = 0;
                    bool bBase = itSame != oldByName.end();
                    if (bBase)
                        dwBase = dwSame;
                    else
                        bBase = renames.Best(entry, entry.dwOrgSize, &dwBase);
                    size_t nBase = 0;
                    std::unique_ptr<BYTE[]> pBase;
                    if (bBase)
                        pBase = LoadOld(&clOld, oldLayout, dwBase, false, pCodecs.get(), &nBase);
                    if (pBase)
                        TryDelta(pBase.get(), nBase, pContent.get(), entry.dwOrgSize, KIND_CONTENT_DELTA, dwBase,
                                 &best);
                }
            } else {
                best = {KIND_BLOCK, 0, std::vector<BYTE>(pBlock, pBlock + entry.dwPackSize)};
                size_t nBase = 0;
                std::unique_ptr<BYTE[]> pBase;
                if (itSame != oldByName.end() && entry.dwPackSize)
                    pBase = LoadOld(&clOld, oldLayout, dwSame, true, pCodecs.get(), &nBase);
                if (pBase)
                    TryDelta(pBase.get(), nBase, pBlock, entry.dwPackSize, KIND_BLOCK_DELTA, dwSame, &best);
            }

            // The name field up to its last non-zero byte.
            BYTE bNameSize = PACK_NAME_SIZE;
            while (bNameSize > 1 && entry.szName[bNameSize - 1] == 0)
                bNameSize--;
            delta.push_back(bNameSize);
            delta.insert(delta.end(), entry.szName, entry.szName + bNameSize);
            delta.push_back(best.bKind);
            PutVarint(&delta, entry.dwOrgSize);
            PutVarint(&delta, entry.dwPackSize);
            if (best.bKind == KIND_CONTENT_DELTA || best.bKind == KIND_BLOCK_DELTA)
                PutVarint(&delta, best.dwBase);
            PutVarint(&delta, best.payload.size());
            delta.insert(delta.end(), best.payload.begin(), best.payload.end());
        }
        PutLE(delta.data() + 100, dwLargest, 4);

        // The proof: the delta applied once gives the new archive.
        std::unique_ptr<BYTE[]> pAgain(new BYTE[nNew]);
        CFile clAgain;
        clAgain.OpenMemory(pAgain.get(), (DWORD)nNew, 1);
        MemoryDelta reader = {&delta, 0};
        clOld.Seek64(0, 0);
        if (!PackDeltaApplyFrom(&clOld, MemoryDelta::ReadProc, &reader, &clAgain, NULL, NULL) ||
            memcmp(pAgain.get(), pNew, nNew) != 0)
            return 0;
        pDelta->swap(delta);
        return 1;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
