#include "container/clist.h"

#include <new>
#include <stdlib.h>

// Moves a cursor onto a node and answers with that node's item.
static void* Land(ListNode** ppCursor, ListNode* lpNode)
{
    *ppCursor = lpNode;
    return lpNode ? lpNode->lpItem : NULL;
}

CList::CList() : lpHead(NULL), lpTail(NULL), lpCurrent(NULL), lpCurrent2(NULL), nCount(0)
{
}

CList::~CList()
{
    RemoveAll();
}

ListNode* CList::NewNode(void* lpItem)
{
    ListNode* lpNode = new (std::nothrow) ListNode;
    if (!lpNode)
        return NULL;
    lpNode->lpNext = NULL;
    lpNode->lpPrev = NULL;
    lpNode->lpItem = lpItem;
    return lpNode;
}

void CList::AddTail(void* lpItem)
{
    ListNode* lpNode = NewNode(lpItem);
    if (!lpNode)
        return;
    lpNode->lpPrev = lpTail;
    if (lpTail)
        lpTail->lpNext = lpNode;
    else
        lpHead = lpNode;
    lpTail = lpNode;
    nCount++;
}

void CList::AddHead(void* lpItem)
{
    ListNode* lpNode = NewNode(lpItem);
    if (!lpNode)
        return;
    lpNode->lpNext = lpHead;
    if (lpHead)
        lpHead->lpPrev = lpNode;
    else
        lpTail = lpNode;
    lpHead = lpNode;
    nCount++;
}

void CList::InsertBefore(void* lpItem)
{
    if (!lpCurrent || !lpHead) {
        AddTail(lpItem);
        return;
    }
    if (lpCurrent == lpHead) {
        AddHead(lpItem);
        return;
    }
    ListNode* lpNode = NewNode(lpItem);
    if (!lpNode)
        return;
    lpNode->lpPrev = lpCurrent->lpPrev;
    lpNode->lpNext = lpCurrent;
    lpCurrent->lpPrev->lpNext = lpNode;
    lpCurrent->lpPrev = lpNode;
    nCount++;
}

void* CList::RemoveCurrent()
{
    ListNode* lpNode = lpCurrent;
    if (!lpNode)
        return NULL;

    // The tail answers null even though a node remains before it: callers
    // walk forward with "while (item) item = RemoveCurrent() or GetNext()",
    // and there is nothing ahead of a removed tail.
    void* lpResult = NULL;
    if (lpNode->lpPrev)
        lpNode->lpPrev->lpNext = lpNode->lpNext;
    else
        lpHead = lpNode->lpNext;
    if (lpNode->lpNext) {
        lpNode->lpNext->lpPrev = lpNode->lpPrev;
        lpCurrent = lpNode->lpNext;
        lpResult = lpCurrent->lpItem;
    } else {
        lpTail = lpNode->lpPrev;
        lpCurrent = lpTail;
    }

    if (lpCurrent2 == lpNode)
        lpCurrent2 = NULL;
    delete lpNode;
    nCount--;
    return lpResult;
}

void* CList::Remove(void* lpItem)
{
    FindItem(lpItem);
    if (!lpCurrent)
        return NULL;
    return RemoveCurrent();
}

void CList::RemoveAll()
{
    // Freed node by node rather than through RemoveCurrent's results, so
    // that a null item, which would end such a loop, cannot leak the rest.
    ListNode* lpNode = lpHead;
    while (lpNode) {
        ListNode* lpNext = lpNode->lpNext;
        delete lpNode;
        lpNode = lpNext;
    }
    lpHead = lpTail = lpCurrent = lpCurrent2 = NULL;
    nCount = 0;
}

int CList::SwapCurrent()
{
    if (!lpCurrent || !lpCurrent2)
        return 0;
    void* lpItem = lpCurrent->lpItem;
    lpCurrent->lpItem = lpCurrent2->lpItem;
    lpCurrent2->lpItem = lpItem;
    return 1;
}

int CList::GetCount()
{
    return nCount;
}

// --- Cursor steps shared by both cursors --------------------------------

void* CList::StepNext(ListNode** ppCursor, int bLoop)
{
    if (!*ppCursor)
        return NULL;
    ListNode* lpNode = (*ppCursor)->lpNext;
    if (!lpNode && bLoop)
        lpNode = lpHead;
    return Land(ppCursor, lpNode);
}

void* CList::StepPrev(ListNode** ppCursor, int bLoop)
{
    if (!*ppCursor)
        return NULL;
    ListNode* lpNode = (*ppCursor)->lpPrev;
    if (!lpNode && bLoop)
        lpNode = lpTail;
    return Land(ppCursor, lpNode);
}

void* CList::LandAt(ListNode** ppCursor, int nIndex)
{
    if (nIndex < 0 || nIndex >= nCount)
        return Land(ppCursor, NULL);
    ListNode* lpNode = lpHead;
    while (nIndex-- > 0)
        lpNode = lpNode->lpNext;
    return Land(ppCursor, lpNode);
}

void* CList::LandOnItem(ListNode** ppCursor, void* lpItem)
{
    ListNode* lpNode = lpHead;
    while (lpNode && lpNode->lpItem != lpItem)
        lpNode = lpNode->lpNext;
    return Land(ppCursor, lpNode);
}

void* CList::LandRandom(ListNode** ppCursor)
{
    if (nCount == 0)
        return NULL;
    return LandAt(ppCursor, rand() % nCount);
}

// --- First cursor --------------------------------------------------------

void* CList::GetFirst()
{
    return Land(&lpCurrent, lpHead);
}

void* CList::GetLast()
{
    return Land(&lpCurrent, lpTail);
}

void* CList::GetNext()
{
    return StepNext(&lpCurrent, 0);
}

void* CList::GetPrev()
{
    return StepPrev(&lpCurrent, 0);
}

void* CList::GetNextLoop()
{
    return StepNext(&lpCurrent, 1);
}

void* CList::GetPrevLoop()
{
    return StepPrev(&lpCurrent, 1);
}

void* CList::GetAt(int nIndex)
{
    return LandAt(&lpCurrent, nIndex);
}

void* CList::FindItem(void* lpItem)
{
    return LandOnItem(&lpCurrent, lpItem);
}

void* CList::GetRandom()
{
    return LandRandom(&lpCurrent);
}

// --- Second cursor -------------------------------------------------------

void* CList::GetFirst2()
{
    return Land(&lpCurrent2, lpHead);
}

void* CList::GetLast2()
{
    return Land(&lpCurrent2, lpTail);
}

void* CList::GetNext2()
{
    return StepNext(&lpCurrent2, 0);
}

void* CList::GetPrev2()
{
    return StepPrev(&lpCurrent2, 0);
}

void* CList::GetNextLoop2()
{
    return StepNext(&lpCurrent2, 1);
}

void* CList::GetPrevLoop2()
{
    return StepPrev(&lpCurrent2, 1);
}

void* CList::GetAt2(int nIndex)
{
    return LandAt(&lpCurrent2, nIndex);
}

void* CList::FindItem2(void* lpItem)
{
    return LandOnItem(&lpCurrent2, lpItem);
}

void* CList::GetRandom2()
{
    return LandRandom(&lpCurrent2);
}

void CList::SyncCursor2()
{
    lpCurrent2 = lpCurrent;
}

void CList::SyncCursor()
{
    lpCurrent = lpCurrent2;
}

void* CList::Sort(LISTCOMPARE compare)
{
    // Selection by exchange: the second cursor marks the place being
    // filled, the first scans the rest, and every item found smaller than
    // the reference is swapped in at once and becomes the new reference.
    // That order of swaps decides where equal items end up (callers see
    // it), so it is kept exactly.
    for (GetFirst2(); lpCurrent2; GetNext2()) {
        void* lpReference = lpCurrent2->lpItem;
        for (lpCurrent = lpCurrent2; lpCurrent; lpCurrent = lpCurrent->lpNext) {
            if (compare(lpReference, lpCurrent->lpItem) > 0) {
                SwapCurrent();
                lpReference = lpCurrent2->lpItem;
            }
        }
    }
    lpCurrent = lpCurrent2 = NULL;
    return NULL;
}
