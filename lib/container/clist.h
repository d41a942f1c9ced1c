// CList: a doubly linked list of opaque item pointers with two independent
// cursors.
//
// The list owns its nodes and never its items: it does not look into,
// copy or free what the pointers point to.
//
// Items must not be null. Every traversal returns the item of the node it
// lands on and uses null for "no node", so a null item would end a walk
// early; nothing checks this.
//
// The first cursor (lpCurrent) is moved by GetFirst ... GetRandom and by
// the removals; the second (lpCurrent2) only by the "2" twins and by
// SyncCursor2. A cursor that is "none" is null; Next, Prev and Loop
// operations on it return null until a First, Last or At operation places
// it again.
#ifndef CONTAINER_CLIST_H
#define CONTAINER_CLIST_H

#include "file/cbase.h"

struct ListNode {
    ListNode* lpNext; // null at the tail
    ListNode* lpPrev; // null at the head
    void* lpItem;
};

// Sort's ordering: greater than 0 when item a must come after item b.
typedef int (*LISTCOMPARE)(void* lpItemA, void* lpItemB);

class CList : public CBase {
public:
    CList();
    // RemoveAll: the nodes are freed, the items are not.
    virtual ~CList();

    // --- Insertion ------------------------------------------------------
    // No cursor moves. When a node cannot be allocated the insertion does
    // nothing at all: the list, its count and both cursors stay as they
    // were. A caller that must know compares GetCount before and after.

    // Appends after the tail.
    void AddTail(void* lpItem);
    // Puts the item before the head.
    void AddHead(void* lpItem);
    // Links the item just before the first cursor's node; with no first
    // cursor it appends at the tail. The cursor stays on its node.
    void InsertBefore(void* lpItem);

    // --- Removal (only the first cursor moves) --------------------------

    // Unlinks and frees the first cursor's node. The cursor moves to the
    // following node and its item is returned, except at the tail: there
    // the cursor moves to the preceding node (none if the list is now
    // empty) and the result is null, so a forward walk that removes as it
    // goes stops there. With no first cursor nothing happens and the
    // result is null.
    void* RemoveCurrent();
    // FindItem(lpItem), then RemoveCurrent(): the result is RemoveCurrent's
    // (null also when the removed node was the tail). If no node holds the
    // item: null, the list unchanged, the first cursor none.
    void* Remove(void* lpItem);
    // Frees every node; both cursors none, count 0.
    void RemoveAll();

    // A second cursor on a node that a removal frees is set to none, so it
    // can never be followed into freed memory.

    // Exchanges the items of the two cursors' nodes; the nodes stay where
    // they are. Returns 0 (and does nothing) if either cursor is none.
    int SwapCurrent();
    int GetCount();

    // --- First cursor ---------------------------------------------------
    // Each returns the item of the node the cursor lands on, or null when
    // it lands on none.

    void* GetFirst();
    void* GetLast();
    // Off either end the cursor becomes none.
    void* GetNext();
    void* GetPrev();
    // These wrap: after the tail comes the head, before the head the tail.
    void* GetNextLoop();
    void* GetPrevLoop();
    // nIndex 0 is the head; outside 0 .. GetCount() - 1: null, cursor none.
    void* GetAt(int nIndex);
    // The first node from the head that holds this very pointer; null and
    // cursor none if there is none.
    void* FindItem(void* lpItem);
    // A node chosen by rand() modulo the count; null on an empty list.
    // The runtime's rand() bounds the draw: where it stops at 32767 (the
    // Windows runtime), only the first 32768 nodes can be drawn.
    void* GetRandom();

    // --- Second cursor: the same operations, moving only lpCurrent2 ------

    void* GetFirst2();
    void* GetLast2();
    void* GetNext2();
    void* GetPrev2();
    void* GetNextLoop2();
    void* GetPrevLoop2();
    void* GetAt2(int nIndex);
    void* FindItem2(void* lpItem);
    void* GetRandom2();

    // SyncCursor2 puts the second cursor where the first is; SyncCursor the
    // first where the second is.
    void SyncCursor2();
    void SyncCursor();

    // Orders the items ascending by compare, moving items between nodes
    // (an exchange selection sort, about n * n / 2 calls of compare). Not
    // stable: equal items may change their order. Both cursors are none
    // afterwards. Always returns null.
    void* Sort(LISTCOMPARE compare);

    ListNode* lpHead;
    ListNode* lpTail;
    ListNode* lpCurrent;
    ListNode* lpCurrent2;
    int nCount;

private:
    ListNode* NewNode(void* lpItem);
    void* StepNext(ListNode** ppCursor, int bLoop);
    void* StepPrev(ListNode** ppCursor, int bLoop);
    void* LandAt(ListNode** ppCursor, int nIndex);
    void* LandOnItem(ListNode** ppCursor, void* lpItem);
    void* LandRandom(ListNode** ppCursor);
};

#endif
