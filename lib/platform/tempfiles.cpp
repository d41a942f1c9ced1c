#include "platform/tempfiles.h"

#include <atomic>
#include <new>
#include <string.h>
#include <thread>

struct TempEntry {
    std::atomic<int> nState; // 0 free, 1 claimed, 2 live
    TempEntry* pNext;        // set before the entry is published, never changed
    char abName[TEMP_NAME_BYTES];
};

static std::atomic<TempEntry*> g_pEntries(nullptr);
static std::atomic<int> g_nCreating(0);
static std::atomic<bool> g_bInterrupted(false);

TempEntry* ClaimTempEntry(const void* pName, size_t nBytes)
{
    if (nBytes > TEMP_NAME_BYTES)
        return nullptr;
    TempEntry* pEntry = nullptr;
    for (TempEntry* p = g_pEntries.load(); p && !pEntry; p = p->pNext) {
        int nFree = 0;
        if (p->nState.compare_exchange_strong(nFree, 1))
            pEntry = p;
    }
    if (!pEntry) {
        pEntry = new (std::nothrow) TempEntry;
        if (!pEntry)
            return nullptr;
        pEntry->nState.store(1);
        pEntry->pNext = g_pEntries.load();
        while (!g_pEntries.compare_exchange_weak(pEntry->pNext, pEntry)) {
        }
    }
    // Claimed: no handler reads the name until the entry is live.
    memcpy(pEntry->abName, pName, nBytes);
    return pEntry;
}

bool EnterTempCreation()
{
    // Counted before the mark is read, and the handler marks before it
    // reads the count: one of the two sees the other.
    g_nCreating.fetch_add(1);
    if (!g_bInterrupted.load())
        return true;
    g_nCreating.fetch_sub(1);
    return false;
}

void LeaveTempCreation(TempEntry* pEntry, bool bCreated)
{
    pEntry->nState.store(bCreated ? 2 : 0);
    g_nCreating.fetch_sub(1);
}

void ForgetTempEntry(TempEntry* pEntry)
{
    if (pEntry)
        pEntry->nState.store(0);
}

void DeleteTempEntries(void (*pfnDelete)(const void* pName))
{
    g_bInterrupted.store(true);
    while (g_nCreating.load() != 0)
        std::this_thread::yield();
    // No entry goes live any more. One forgotten meanwhile may be claimed
    // again and its name rewritten: a copy is used only when the entry is
    // still live after it was taken.
    char abName[TEMP_NAME_BYTES];
    for (TempEntry* p = g_pEntries.load(); p; p = p->pNext) {
        if (p->nState.load() != 2)
            continue;
        memcpy(abName, p->abName, TEMP_NAME_BYTES);
        if (p->nState.load() == 2)
            pfnDelete(abName);
    }
}
