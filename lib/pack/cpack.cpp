// The catalogue: set-up, the name hash, lookup and entering members.
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

#include <new>
#include <stdio.h>
#include <string.h>
#include <atomic>
#include <thread>
#include <vector>

CPack::CPack()
    : m_pAllList(NULL), m_pSlide(NULL), m_pHuffman(NULL), m_pZlib(NULL), m_pIndex(NULL), m_pCodecPool(NULL),
      m_nThreads(1), m_nSaveProblem(PACK_SAVE_OK), m_pSaveProblem(NULL)
{
    memset(m_pHashList, 0, sizeof(m_pHashList));
    Init();
}

CPack::CPack(const char* lpszPath)
    : m_pAllList(NULL), m_pSlide(NULL), m_pHuffman(NULL), m_pZlib(NULL), m_pIndex(NULL), m_pCodecPool(NULL),
      m_nThreads(1), m_nSaveProblem(PACK_SAVE_OK), m_pSaveProblem(NULL)
{
    memset(m_pHashList, 0, sizeof(m_pHashList));
    Open(lpszPath);
}

CPack::~CPack()
{
    Clear();
}

int CPack::Init()
{
    Clear();
    m_pSlide = new (std::nothrow) CSlide;
    m_pHuffman = new (std::nothrow) CHuffman;
    m_pZlib = new (std::nothrow) CZlib;
    m_pIndex = new (std::nothrow) PackIndex;
    m_pCodecPool = new (std::nothrow) PackCodecPool;
    bool bOk = m_pSlide && m_pHuffman && m_pZlib && m_pIndex && m_pCodecPool;
    for (int i = 0; i < PACK_HASH_SIZE && bOk; i++)
        bOk = (m_pHashList[i] = new (std::nothrow) CList) != NULL;
    if (bOk)
        bOk = (m_pAllList = new (std::nothrow) CList) != NULL;
    if (!bOk) {
        Clear();
        return 0;
    }
    return 1;
}

void CPack::Clear()
{
    // The buckets own the records; the list of all members only refers to
    // them.
    for (int i = 0; i < PACK_HASH_SIZE; i++) {
        CList* pList = m_pHashList[i];
        if (!pList)
            continue;
        for (PackMember* p = (PackMember*)pList->GetFirst(); p; p = (PackMember*)pList->GetNext()) {
            delete[] p->lpData;
            delete p;
        }
        delete pList;
        m_pHashList[i] = NULL;
    }
    delete m_pAllList;
    m_pAllList = NULL;
    delete m_pSlide;
    m_pSlide = NULL;
    delete m_pHuffman;
    m_pHuffman = NULL;
    delete m_pZlib;
    m_pZlib = NULL;
    delete m_pIndex;
    m_pIndex = NULL;
    delete m_pCodecPool;
    m_pCodecPool = NULL;
}

void CPack::SetThreads(int nThreads)
{
    m_nThreads = nThreads < 0 ? 0 : nThreads;
}

int CPack::GetSaveProblem(const PackMember** ppMember) const
{
    if (ppMember)
        *ppMember = m_pSaveProblem;
    return m_nSaveProblem;
}

int CPack::Hash(const char* lpszName)
{
    int h = 0;
    for (const char* p = lpszName; *p; p++) {
        int x = (signed char)*p;
        // (x + 32) * 8 == x * 8 + 256: a capital hashes as its small letter.
        h ^= (x >= 0x41 && x <= 0x5A) ? x * 8 + 256 : x * 8;
    }
    return h & 0x3FF;
}

// Both answer what walking the name's bucket would: the first member
// entered under the name, and the first of them stored without compression.
PackMember* CPack::Find(const char* lpszName)
{
    return m_pIndex->Find(lpszName);
}

int CPack::GetSourcePath(char* lpszPath, const char* lpszName)
{
    PackMember* p = m_pIndex->FindStored(lpszName);
    if (!p)
        return 0;
    strcpy(lpszPath, p->szPackPath);
    return 1;
}

int CPack::Enter(const PackMember& member)
{
    PackMember* p = m_pIndex->Reserve() ? new (std::nothrow) PackMember(member) : NULL;
    if (!p)
        return 0;
    CList* pBucket = m_pHashList[Hash(p->szName)];
    int nBucket = pBucket->GetCount(), nAll = m_pAllList->GetCount();
    pBucket->AddTail(p);
    m_pAllList->AddTail(p);
    if (pBucket->GetCount() == nBucket + 1 && m_pAllList->GetCount() == nAll + 1) {
        m_pIndex->Enter(p);
        return 1;
    }
    // Out of memory for a node: undo whatever half was linked.
    if (pBucket->GetCount() != nBucket)
        pBucket->Remove(p);
    if (m_pAllList->GetCount() != nAll)
        m_pAllList->Remove(p);
    delete p;
    return 0;
}

bool ArchiveLengthFits(QWORD qwLength)
{
    return qwLength <= 0xFFFFFFFFu;
}

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

QWORD MemberMemory(const PackMember* pMember)
{
    bool bInPlace = pMember->nMethod == PACK_STORE && !pMember->lpData && pMember->szPackPath[0];
    return bInPlace ? 0 : (QWORD)pMember->dwOrgSize + pMember->dwPackSize;
}

PackMemoryGate::PackMemoryGate(QWORD qwBudget) : m_qwBudget(qwBudget), m_qwHeld(0) {}

void PackMemoryGate::Enter(QWORD qwBytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvLeft.wait(lock, [&] { return m_qwHeld == 0 || m_qwHeld + qwBytes <= m_qwBudget; });
    m_qwHeld += qwBytes;
}

void PackMemoryGate::Leave(QWORD qwBytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_qwHeld -= qwBytes;
    m_cvLeft.notify_all();
}

bool JoinPath(char* lpszDst, const char* lpszFolder, const char* lpszName)
{
    size_t nLen = strlen(lpszFolder);
    bool bSep = nLen > 0 && !IsSeparatorAt(lpszFolder, (int)nLen - 1);
    int n = snprintf(lpszDst, MAX_PATH, "%s%s%s", lpszFolder, bSep ? "\\" : "", lpszName);
    return n > 0 && n < MAX_PATH;
}

PackCodecPool::PackCodecPool() : m_pFree(NULL) {}

PackCodecPool::~PackCodecPool()
{
    while (PackCodecs* p = m_pFree) {
        m_pFree = p->pNext;
        delete p;
    }
}

PackCodecs* PackCodecPool::Take()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (PackCodecs* p = m_pFree) {
            m_pFree = p->pNext;
            return p;
        }
    }
    return new (std::nothrow) PackCodecs;
}

void PackCodecPool::Give(PackCodecs* pCodecs)
{
    if (!pCodecs)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    pCodecs->pNext = m_pFree;
    m_pFree = pCodecs;
}

int ResolveThreads(int nThreads)
{
    if (nThreads >= 1)
        return nThreads;
    unsigned nCores = std::thread::hardware_concurrency();
    return nCores ? (int)nCores : 1;
}

void RunOnThreads(int nThreads, const std::function<void(int nWorker)>& fnWork)
{
    std::vector<std::thread> threads;
    for (int i = 1; i < ResolveThreads(nThreads); i++) {
        try {
            threads.emplace_back(fnWork, i);
        } catch (const std::exception&) {
            break; // no thread, or no memory for one: fewer workers
        }
    }
    fnWork(0);
    for (std::thread& thread : threads)
        thread.join();
}

void RunItems(int nThreads, size_t nItems, const std::function<void(size_t nItem)>& fnItem)
{
    std::atomic<size_t> next(0);
    RunOnThreads(nThreads, [&](int) {
        for (size_t i; (i = next++) < nItems;)
            fnItem(i);
    });
}

DWORD CPack::GetMemberCount()
{
    return m_pAllList ? (DWORD)m_pAllList->GetCount() : 0;
}

PackMember* CPack::GetFirstMember()
{
    return m_pAllList ? (PackMember*)m_pAllList->GetFirst() : NULL;
}

PackMember* CPack::GetNextMember()
{
    return m_pAllList ? (PackMember*)m_pAllList->GetNext() : NULL;
}
