// The catalogue's name index: open addressing with linear probing over the
// folded names' hashes.
#include "pack/pack_index.h"

#include "file/path.h"

#include <new>
#include <string.h>

namespace {

// FNV-1a over the folded bytes, then a final mix so that the low bits that
// pick the slot depend on every byte.
DWORD HashFolded(const BYTE* pFolded, int nLen)
{
    DWORD h = 2166136261u;
    for (int i = 0; i < nLen; i++)
        h = (h ^ pFolded[i]) * 16777619u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

} // namespace

int FoldName(BYTE abFolded[PACK_NAME_SIZE], const char* lpszName)
{
    size_t nLen = strlen(lpszName);
    if (nLen >= PACK_NAME_SIZE)
        return -1;
    FoldNameCase((char*)abFolded, lpszName);
    return (int)nLen;
}

PackIndex::PackIndex() : m_pSlots(NULL), m_dwMask(0), m_dwUsed(0) {}

PackIndex::~PackIndex()
{
    delete[] m_pSlots;
}

bool PackIndex::Reserve(DWORD dwMore)
{
    // At most half full: a hit costs about one and a half probes, a miss two
    // and a half.
    QWORD qwNeed = ((QWORD)m_dwUsed + dwMore) * 2, qwSlots = m_pSlots ? (QWORD)m_dwMask + 1 : 0;
    if (qwNeed <= qwSlots)
        return true;
    for (qwSlots = qwSlots ? qwSlots : 64; qwSlots < qwNeed;)
        qwSlots *= 2;
    if (qwSlots > 0x80000000u)
        return false;
    Slot* pSlots = new (std::nothrow) Slot[qwSlots];
    if (!pSlots)
        return false;
    memset(pSlots, 0, sizeof(Slot) * qwSlots);
    DWORD dwMask = (DWORD)qwSlots - 1;
    for (DWORD i = 0; m_pSlots && i <= m_dwMask; i++) {
        if (!m_pSlots[i].pFirst)
            continue;
        DWORD j = m_pSlots[i].dwHash & dwMask;
        while (pSlots[j].pFirst)
            j = (j + 1) & dwMask;
        pSlots[j] = m_pSlots[i];
    }
    delete[] m_pSlots;
    m_pSlots = pSlots;
    m_dwMask = dwMask;
    return true;
}

PackIndex::Slot* PackIndex::Probe(const char* lpszName, DWORD* pdwHash) const
{
    BYTE abKey[PACK_NAME_SIZE], abName[PACK_NAME_SIZE];
    int nLen = FoldName(abKey, lpszName);
    if (nLen < 0 || !m_pSlots)
        return NULL;
    DWORD dwHash = *pdwHash = HashFolded(abKey, nLen);
    DWORD j = dwHash & m_dwMask;
    for (; m_pSlots[j].pFirst; j = (j + 1) & m_dwMask) {
        const Slot& slot = m_pSlots[j];
        if (slot.dwHash == dwHash && FoldName(abName, slot.pFirst->szName) == nLen &&
            memcmp(abName, abKey, nLen) == 0)
            break;
    }
    return &m_pSlots[j];
}

void PackIndex::Enter(PackMember* pMember)
{
    DWORD dwHash;
    Slot* pSlot = Probe(pMember->szName, &dwHash);
    if (!pSlot)
        return; // no member's name is that long
    if (!pSlot->pFirst) {
        pSlot->dwHash = dwHash;
        pSlot->pFirst = pMember;
        m_dwUsed++;
    }
    if (!pSlot->pStored && pMember->nMethod == PACK_STORE)
        pSlot->pStored = pMember;
}

PackMember* PackIndex::Find(const char* lpszName) const
{
    DWORD dwHash;
    const Slot* pSlot = Probe(lpszName, &dwHash);
    return pSlot ? pSlot->pFirst : NULL;
}

PackMember* PackIndex::FindStored(const char* lpszName) const
{
    DWORD dwHash;
    const Slot* pSlot = Probe(lpszName, &dwHash);
    return pSlot ? pSlot->pStored : NULL;
}
