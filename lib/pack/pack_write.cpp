// Writing a catalogue out as a new archive.
//
// The archive is written front to back into a temporary file beside the
// target and moved over it only when complete, so a failure (an unreadable
// member, a full disk) never leaves a torn archive under the target name
// nor destroys the archive that was there. The member count in the header
// is written last, once it is known how many members made it.
#include "pack/cpack.h"

#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/tempfile.h"
#include "pack/pack_util.h"
#include "platform/platform.h"

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

// Copies dwSize bytes a block at a time: a stored member of any size costs
// one block of memory.
bool CopyInBlocks(CFile* pDest, CFile* pSource, DWORD dwSize)
{
    const DWORD BLOCK = 1 << 20;
    for (DWORD dwLeft = dwSize; dwLeft;) {
        DWORD dwBlock = dwLeft < BLOCK ? dwLeft : BLOCK;
        if (pDest->CopyFrom(pSource, dwBlock) != dwBlock)
            return false;
        dwLeft -= dwBlock;
    }
    return true;
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

BYTE* CPack::Encode(int nMethod, const BYTE* pContent, DWORD dwSize, DWORD* pdwPackSize)
{
    QWORD qwRoom = EncodeRoom(nMethod, dwSize);
    if (qwRoom > 0xFFFFFFFFu)
        return NULL;
    BYTE* pBlock = new (std::nothrow) BYTE[qwRoom];
    if (!pBlock)
        return NULL;
    DWORD dwRoom = (DWORD)qwRoom, dwPacked;
    if (nMethod == PACK_SLIDE)
        dwPacked = m_pSlide->Compress(pBlock, dwRoom, pContent, dwSize);
    else if (nMethod == PACK_HUFFMAN)
        dwPacked = m_pHuffman->Compress(pBlock, dwRoom, pContent, dwSize);
    else
        dwPacked = m_pZlib->Compress(pBlock, dwRoom, pContent, dwSize);
    if (dwPacked >= dwRoom) {
        delete[] pBlock;
        return NULL;
    }
    *pdwPackSize = dwPacked;
    return pBlock;
}

int CPack::Save(const char* lpszFileName, int nMethod, PackProgressProc lpfnProgress, void* lpUserData)
{
    if (nMethod < PACK_STORE || nMethod > PACK_ZLIB)
        return 0;
    char lpszTemp[MAX_PATH];
    CFile clArchive;
    if (!CreateTempFile(&clArchive, lpszTemp, lpszFileName))
        return 0;

    DWORD dwMembers = (DWORD)m_pAllList->GetCount();
    BYTE* pDir = new (std::nothrow) BYTE[(size_t)dwMembers * DIR_ENTRY_SIZE + 1];
    DWORD dwCount = 0;
    bool bComplete = false;
    BYTE abHeader[12] = { 'P', 'A', 'C', 0 };
    StoreDword(abHeader + 8, (DWORD)nMethod);
    if (!pDir)
        goto done;
    if (clArchive.Write(abHeader, 12) != 12)
        goto done;

    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext()) {
        // A loose file is read as it is now (copied in blocks when stored,
        // whole when coded); anything else (a member of an archive file or
        // resource, a preloaded block) through its own record, decoded,
        // since names may repeat.
        bool bLoose = !p->lpData && p->nMethod == PACK_STORE && p->szPackPath[0] && p->dwOffset == 0 &&
                      !p->szResName[0];
        CFile clSource;
        if (!(bLoose ? clSource.Open(p->szPackPath, 0) : OpenContainer(p, &clSource)))
            continue; // a source that has gone is left out

        BYTE* pEntry = pDir + (size_t)dwCount * DIR_ENTRY_SIZE;
        PackDirEntry entry;
        memset(&entry, 0, sizeof(entry));
        strcpy(entry.szName, p->szName);
        QWORD qwOffset = clArchive.GetPos64();
        entry.dwOffset = (DWORD)qwOffset;
        entry.dwOrgSize = bLoose ? clSource.GetSize() : p->dwOrgSize;
        if (bLoose && clSource.m_qwSize > 0xFFFFFFFFu)
            goto done;
        if (lpfnProgress)
            lpfnProgress(&entry, 0, entry.dwOrgSize, 0, lpUserData);

        if (bLoose && nMethod == PACK_STORE) {
            entry.dwPackSize = entry.dwOrgSize;
            if (!ArchiveLengthFits(qwOffset + entry.dwPackSize + 4))
                goto done;
            if (!CopyInBlocks(&clArchive, &clSource, entry.dwOrgSize))
                goto done;
        } else {
            BYTE* pContent = new (std::nothrow) BYTE[(size_t)entry.dwOrgSize + 1];
            bool bRead = pContent && (bLoose ? clSource.Read(pContent, entry.dwOrgSize) == entry.dwOrgSize
                                             : ReadContent(p, &clSource, pContent));
            BYTE* pBlock = NULL;
            if (bRead && nMethod != PACK_STORE && entry.dwOrgSize)
                pBlock = Encode(nMethod, pContent, entry.dwOrgSize, &entry.dwPackSize);
            else if (bRead && nMethod == PACK_STORE)
                entry.dwPackSize = entry.dwOrgSize;
            // An empty content gets no block at all, whatever the method.
            bool bOk = bRead && (pBlock || nMethod == PACK_STORE || entry.dwOrgSize == 0) &&
                       ArchiveLengthFits(qwOffset + entry.dwPackSize + 4) &&
                       clArchive.Write(pBlock ? pBlock : pContent, entry.dwPackSize) == entry.dwPackSize;
            delete[] pBlock;
            delete[] pContent;
            if (!bOk)
                goto done;
        }

        memcpy(pEntry, entry.szName, PACK_NAME_SIZE);
        StoreDword(pEntry + 64, entry.dwOffset);
        StoreDword(pEntry + 68, entry.dwOrgSize);
        StoreDword(pEntry + 72, entry.dwPackSize);
        dwCount++;
        if (lpfnProgress)
            lpfnProgress(&entry, entry.dwOrgSize, entry.dwOrgSize, entry.dwPackSize, lpUserData);
    }

    {
        // An empty catalogue writes no directory at all: a 16-byte archive.
        DWORD dwDirSize = 0;
        BYTE* pDirBlock = NULL;
        if (dwCount) {
            pDirBlock = Encode(PACK_HUFFMAN, pDir, dwCount * DIR_ENTRY_SIZE, &dwDirSize);
            if (!pDirBlock)
                goto done;
            for (DWORD i = 0; i < dwDirSize; i++)
                pDirBlock[i] ^= 0xFF;
        }
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
    clArchive.Close();
    delete[] pDir;
    return FinishTempFile(lpszTemp, lpszFileName, bComplete) ? 1 : 0;
}
