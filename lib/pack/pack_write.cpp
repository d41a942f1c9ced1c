// Writing a catalogue out as a new archive.
//
// The archive is written front to back into a temporary file beside the
// target and moved over it only when complete, so a failure (an unreadable
// member, a full disk) never leaves a torn archive under the target name
// nor destroys the archive that was there. The member count in the header
// is written last, once it is known how many members made it.
//
// With several threads, workers take members in catalogue order, each
// reading and encoding its member with codecs of its own into one of
// 2 x threads slots, and the caller's thread (the writer) appends the
// blocks in catalogue order. A worker takes member i only once member
// i - slots has been written, which bounds memory. When the writer finds
// its next member not yet taken it produces that member itself, so with
// one thread, or with no worker the system would start, it does every step
// in the order a single thread always did; while it waits for a member it
// produces a later one.
#include "pack/cpack.h"

#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/tempfile.h"
#include "pack/pack_util.h"
#include "platform/platform.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

namespace {

const DWORD DIR_ENTRY_SIZE = 76;

void StoreDword(BYTE* p, DWORD dw)
{
    p[0] = (BYTE)dw;
    p[1] = (BYTE)(dw >> 8);
    p[2] = (BYTE)(dw >> 16);
    p[3] = (BYTE)(dw >> 24);
}

} // namespace

QWORD CPack::EncodeRoom(int nMethod, DWORD dwSize)
{
    switch (nMethod) {
    case PACK_SLIDE: // a flag byte for every eight literals
        return (QWORD)dwSize + dwSize / 8 + 2;
    case PACK_HUFFMAN: // a tree of at most 2559 bits, codes of at most 8 bits a byte
        return (QWORD)dwSize + 321;
    default:
        return (QWORD)compressBound(dwSize) + 1;
    }
}

BYTE* EncodeBlock(int nMethod, const BYTE* pContent, DWORD dwSize, DWORD* pdwPackSize, PackCodecs* pCodecs)
{
    QWORD qwRoom = CPack::EncodeRoom(nMethod, dwSize);
    if (qwRoom > 0xFFFFFFFFu)
        return NULL;
    BYTE* pBlock = new (std::nothrow) BYTE[qwRoom];
    if (!pBlock)
        return NULL;
    DWORD dwRoom = (DWORD)qwRoom, dwPacked;
    if (nMethod == PACK_SLIDE)
        dwPacked = pCodecs->clSlide.Compress(pBlock, dwRoom, pContent, dwSize);
    else if (nMethod == PACK_HUFFMAN)
        dwPacked = pCodecs->clHuffman.Compress(pBlock, dwRoom, pContent, dwSize);
    else
        dwPacked = pCodecs->clZlib.Compress(pBlock, dwRoom, pContent, dwSize);
    if (dwPacked >= dwRoom) {
        delete[] pBlock;
        return NULL;
    }
    *pdwPackSize = dwPacked;
    return pBlock;
}

void StoreDirEntry(BYTE* pRecord, const PackDirEntry& entry)
{
    memcpy(pRecord, entry.szName, PACK_NAME_SIZE);
    StoreDword(pRecord + 64, entry.dwOffset);
    StoreDword(pRecord + 68, entry.dwOrgSize);
    StoreDword(pRecord + 72, entry.dwPackSize);
}

bool EncodeDirectory(const BYTE* pRecords, DWORD dwCount, BYTE** ppBlock, DWORD* pdwSize, PackCodecs* pCodecs)
{
    *ppBlock = NULL;
    *pdwSize = 0;
    if (!dwCount)
        return true;
    if ((QWORD)dwCount * DIR_ENTRY_SIZE > 0xFFFFFFFFu)
        return false;
    BYTE* pBlock = EncodeBlock(PACK_HUFFMAN, pRecords, dwCount * DIR_ENTRY_SIZE, pdwSize, pCodecs);
    if (!pBlock)
        return false;
    for (DWORD i = 0; i < *pdwSize; i++)
        pBlock[i] ^= 0xFF;
    *ppBlock = pBlock;
    return true;
}

namespace {

// A member on its way into the archive: its record and the bytes of its
// data block (pBlock, or the content itself when it is stored).
struct SaveBlock {
    PackDirEntry entry;
    BYTE* pContent;
    BYTE* pBlock;
    bool bChanged; // a loose file no longer of the size it was entered with

    void Free()
    {
        delete[] pContent;
        delete[] pBlock;
        pContent = pBlock = NULL;
    }
};

// A loose file is read as it is now (copied in blocks when stored, whole
// when coded); anything else (a member of an archive file or resource, a
// preloaded block) through its own record, decoded, since names may repeat.
bool IsLoose(const PackMember* p)
{
    return !p->lpData && p->nMethod == PACK_STORE && p->szPackPath[0] && p->dwOffset == 0 && !p->szResName[0];
}

// A loose file stored as it is goes from its file straight into the
// archive, a block at a time, so only the writer can handle it.
bool IsCopied(const PackMember* p, int nMethod)
{
    return nMethod == PACK_STORE && IsLoose(p);
}

// Opens the member's source and starts its record. False when the source
// has gone: the member is left out.
bool OpenSource(const PackMember* p, CFile* pSource, SaveBlock* pBlock)
{
    memset(pBlock, 0, sizeof(*pBlock));
    bool bLoose = IsLoose(p);
    if (!(bLoose ? pSource->Open(p->szPackPath, 0) : OpenContainer(p, pSource)))
        return false;
    strcpy(pBlock->entry.szName, p->szName);
    pBlock->entry.dwOrgSize = p->dwOrgSize;
    if (bLoose && pSource->m_qwSize != p->dwOrgSize) {
        // Fails below; the progress call shows the size it has now (cut
        // at 4 GiB), so a caller can say what changed.
        pBlock->bChanged = true;
        pBlock->entry.dwOrgSize = ArchiveLengthFits(pSource->m_qwSize) ? (DWORD)pSource->m_qwSize : 0xFFFFFFFF;
    }
    return true;
}

// Reads and encodes the member opened by OpenSource. False on any failure,
// with nothing held.
bool Produce(const PackMember* p, CFile* pSource, int nMethod, PackCodecs* pCodecs, SaveBlock* pBlock)
{
    PackDirEntry& entry = pBlock->entry;
    bool bLoose = IsLoose(p);
    if (pBlock->bChanged)
        return false;
    pBlock->pContent = new (std::nothrow) BYTE[(size_t)entry.dwOrgSize + 1];
    bool bRead = pBlock->pContent && (bLoose ? pSource->Read(pBlock->pContent, entry.dwOrgSize) == entry.dwOrgSize
                                             : ReadContent(p, pSource, pBlock->pContent, pCodecs));
    // An empty content gets no block at all, whatever the method.
    if (bRead && nMethod != PACK_STORE && entry.dwOrgSize) {
        pBlock->pBlock = EncodeBlock(nMethod, pBlock->pContent, entry.dwOrgSize, &entry.dwPackSize, pCodecs);
        bRead = pBlock->pBlock != NULL;
        // Only the block is written: the content need not wait for it.
        delete[] pBlock->pContent;
        pBlock->pContent = NULL;
    } else if (bRead && nMethod == PACK_STORE) {
        entry.dwPackSize = entry.dwOrgSize;
    }
    if (!bRead)
        pBlock->Free();
    return bRead;
}

enum SlotState { SLOT_EMPTY, SLOT_READY, SLOT_SKIPPED, SLOT_FAILED, SLOT_FOR_WRITER };

struct SaveSlot {
    SaveBlock block;
    SlotState nState;
};

// What the writer and the workers share; every field but the slots'
// blocks is guarded by the mutex, and a block belongs to whoever set or
// took its slot's state.
struct SaveState {
    PackMember** ppMembers; // in catalogue order
    DWORD dwMembers;
    int nMethod;
    PackCodecPool* pPool;
    SaveSlot* pSlots;
    DWORD dwSlots;

    std::mutex mutex;
    std::condition_variable cvChanged;
    DWORD dwNext;    // the next member to take
    DWORD dwWritten; // members the writer is done with
    bool bStop;
};

// Reads and encodes member i (taken from dwNext under the lock, which is
// not held here) into its slot.
void ProduceSlot(SaveState* s, DWORD i, PackCodecs* pCodecs)
{
    SaveSlot slot = {};
    CFile clSource;
    PackMember* p = s->ppMembers[i];
    if (IsCopied(p, s->nMethod))
        slot.nState = SLOT_FOR_WRITER;
    else if (!OpenSource(p, &clSource, &slot.block))
        slot.nState = SLOT_SKIPPED;
    else
        slot.nState = Produce(p, &clSource, s->nMethod, pCodecs, &slot.block) ? SLOT_READY : SLOT_FAILED;
    std::lock_guard<std::mutex> lock(s->mutex);
    s->pSlots[i % s->dwSlots] = slot;
    s->cvChanged.notify_all();
}

// Whether a member may be taken: one is left, and its slot is free.
bool MayTake(const SaveState* s)
{
    return s->dwNext < s->dwMembers && s->dwNext < s->dwWritten + s->dwSlots;
}

void SaveWorker(SaveState* s)
{
    PackCodecs* pCodecs = s->pPool->Take();
    if (!pCodecs)
        return; // the writer does the work itself
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
        s->cvChanged.wait(lock, [s] { return s->bStop || s->dwNext >= s->dwMembers || MayTake(s); });
        if (s->bStop || s->dwNext >= s->dwMembers)
            break;
        DWORD i = s->dwNext++;
        lock.unlock();
        ProduceSlot(s, i, pCodecs);
        lock.lock();
    }
    lock.unlock();
    s->pPool->Give(pCodecs);
}

// Writes one member's data block, copied from its source or produced.
bool WriteBlock(CFile* pArchive, CFile* pSource, SaveBlock* pBlock, bool bCopy, int* pnProblem)
{
    PackDirEntry& entry = pBlock->entry;
    if (bCopy)
        entry.dwPackSize = entry.dwOrgSize;
    if (!ArchiveLengthFits(pArchive->GetPos64() + entry.dwPackSize + 4)) {
        *pnProblem = PACK_SAVE_TOO_LARGE;
        return false;
    }
    if (bCopy)
        return CopyInBlocks(pArchive, pSource, entry.dwOrgSize);
    const BYTE* pData = pBlock->pBlock ? pBlock->pBlock : pBlock->pContent;
    return pArchive->Write(pData, entry.dwPackSize) == entry.dwPackSize;
}

// Enters the written member into the directory.
void Record(const PackDirEntry& entry, BYTE* pDir, DWORD* pdwCount)
{
    StoreDirEntry(pDir + (size_t)*pdwCount * DIR_ENTRY_SIZE, entry);
    ++*pdwCount;
}

// The writer: every member in catalogue order, from a worker's slot or
// produced here, appended to the archive. False at the first failure.
bool WriteMembers(SaveState* s, CFile* pArchive, BYTE* pDir, DWORD* pdwCount, PackProgressProc lpfnProgress,
                  void* lpUserData, int* pnProblem, const PackMember** ppProblem)
{
    PackCodecs* pCodecs = s->pPool->Take();
    bool bOk = pCodecs != NULL;
    for (DWORD i = 0; bOk && i < s->dwMembers; i++) {
        SaveSlot slot = {};
        CFile clSource;
        std::unique_lock<std::mutex> lock(s->mutex);
        bool bOwn = s->dwNext == i;
        if (bOwn) {
            s->dwNext++;
        } else {
            // While its member is on its way, the writer works on a later one
            // rather than wait idle.
            SaveSlot* pSlot = &s->pSlots[i % s->dwSlots];
            while (pSlot->nState == SLOT_EMPTY) {
                if (MayTake(s)) {
                    DWORD j = s->dwNext++;
                    lock.unlock();
                    ProduceSlot(s, j, pCodecs);
                    lock.lock();
                } else {
                    s->cvChanged.wait(lock);
                }
            }
            slot = *pSlot;
            *pSlot = {}; // empty, its buffers now the writer's
            bOwn = slot.nState == SLOT_FOR_WRITER;
        }
        lock.unlock();
        PackMember* p = s->ppMembers[i];
        if (bOwn && !OpenSource(p, &clSource, &slot.block))
            slot.nState = SLOT_SKIPPED;
        if (slot.nState != SLOT_SKIPPED) {
            PackDirEntry& entry = slot.block.entry;
            entry.dwOffset = (DWORD)pArchive->GetPos64();
            if (lpfnProgress)
                lpfnProgress(&entry, 0, entry.dwOrgSize, 0, lpUserData);
            bool bCopy = bOwn && IsCopied(p, s->nMethod);
            if (bOwn && !bCopy)
                slot.nState = Produce(p, &clSource, s->nMethod, pCodecs, &slot.block) ? SLOT_READY : SLOT_FAILED;
            bOk = !slot.block.bChanged && (bCopy || slot.nState == SLOT_READY) &&
                  WriteBlock(pArchive, &clSource, &slot.block, bCopy, pnProblem);
            if (slot.block.bChanged)
                *pnProblem = PACK_SAVE_CHANGED;
            if (!bOk)
                *ppProblem = p;
            slot.block.Free();
            if (bOk) {
                Record(entry, pDir, pdwCount);
                if (lpfnProgress)
                    lpfnProgress(&entry, entry.dwOrgSize, entry.dwOrgSize, entry.dwPackSize, lpUserData);
            }
        }
        lock.lock();
        s->dwWritten = i + 1;
        s->cvChanged.notify_all();
    }
    s->pPool->Give(pCodecs);
    std::lock_guard<std::mutex> lock(s->mutex);
    s->bStop = true;
    s->cvChanged.notify_all();
    return bOk;
}

} // namespace

int CPack::Save(const char* lpszFileName, int nMethod, PackProgressProc lpfnProgress, void* lpUserData)
{
    m_nSaveProblem = PACK_SAVE_OTHER;
    m_pSaveProblem = NULL;
    if (nMethod < PACK_STORE || nMethod > PACK_ZLIB)
        return 0;
    CTempFile clTemp;
    if (!clTemp.Create(lpszFileName, 0))
        return 0;
    CFile& clArchive = *clTemp.File();

    SaveState state;
    state.dwMembers = (DWORD)m_pAllList->GetCount();
    state.nMethod = nMethod;
    state.pPool = m_pCodecPool;
    // No more threads than members: a worker would find nothing to do.
    int nThreads = ResolveThreads(m_nThreads);
    if ((DWORD)nThreads > state.dwMembers)
        nThreads = state.dwMembers ? (int)state.dwMembers : 1;
    state.dwSlots = 2 * (DWORD)nThreads;
    state.dwNext = state.dwWritten = 0;
    state.bStop = false;
    state.ppMembers = new (std::nothrow) PackMember*[state.dwMembers + 1];
    state.pSlots = new (std::nothrow) SaveSlot[state.dwSlots];
    BYTE* pDir = new (std::nothrow) BYTE[(size_t)state.dwMembers * DIR_ENTRY_SIZE + 1];
    DWORD dwCount = 0;
    bool bWritten = false, bComplete = false;
    BYTE abHeader[12] = { 'P', 'A', 'C', 0 };
    StoreDword(abHeader + 8, (DWORD)nMethod);
    if (!state.ppMembers || !state.pSlots || !pDir)
        goto done;
    if (clArchive.Write(abHeader, 12) != 12)
        goto done;
    {
        DWORD i = 0;
        for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext())
            state.ppMembers[i++] = p;
        for (DWORD k = 0; k < state.dwSlots; k++) {
            memset(&state.pSlots[k].block, 0, sizeof(SaveBlock));
            state.pSlots[k].nState = SLOT_EMPTY;
        }
    }
    RunOnThreads(nThreads, [&](int nWorker) {
        if (nWorker)
            SaveWorker(&state);
        else
            bWritten = WriteMembers(&state, &clArchive, pDir, &dwCount, lpfnProgress, lpUserData, &m_nSaveProblem,
                                    &m_pSaveProblem);
    });
    // A worker that finished a member after the writer stopped left it in
    // its slot.
    for (DWORD k = 0; k < state.dwSlots; k++)
        state.pSlots[k].block.Free();
    if (!bWritten)
        goto done;

    {
        // An empty catalogue writes no directory at all: a 16-byte archive.
        DWORD dwDirSize = 0;
        BYTE* pDirBlock = NULL;
        if (dwCount) {
            PackCodecs* pCodecs = m_pCodecPool->Take();
            bool bCoded = pCodecs && EncodeDirectory(pDir, dwCount, &pDirBlock, &dwDirSize, pCodecs);
            m_pCodecPool->Give(pCodecs);
            if (!bCoded)
                goto done;
        }
        if (!ArchiveLengthFits(clArchive.GetPos64() + dwDirSize + 4))
            m_nSaveProblem = PACK_SAVE_TOO_LARGE;
        bool bOk = ArchiveLengthFits(clArchive.GetPos64() + dwDirSize + 4) &&
                   (!dwCount || clArchive.Write(pDirBlock, dwDirSize) == dwDirSize) &&
                   clArchive.WriteDword(dwDirSize) == 4 && clArchive.Seek(4, 0) &&
                   clArchive.WriteDword(dwCount) == 4;
        delete[] pDirBlock;
        if (!bOk)
            goto done;
    }
    bComplete = true;
done:
    delete[] pDir;
    delete[] state.ppMembers;
    delete[] state.pSlots;
    if (!clTemp.Finish(bComplete))
        return 0;
    m_nSaveProblem = PACK_SAVE_OK;
    return 1;
}
