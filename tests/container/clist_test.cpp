#include "container/clist.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <new>
#include <set>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

// Node allocation fails while this is set. The list allocates through the
// nothrow form only, so replacing that form reaches it and nothing else;
// the real allocation still goes through the ordinary operator new, so a
// node is released by its matching delete.
static bool g_bFailNothrowNew = false;

void* operator new(std::size_t nSize, const std::nothrow_t&) noexcept
{
    if (g_bFailNothrowNew)
        return nullptr;
    try {
        return ::operator new(nSize);
    } catch (...) {
        return nullptr;
    }
}

namespace {

// Items are the letters of this string, so a list reads as a word.
char g_abLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

void* Item(char c)
{
    return &g_abLetters[c - 'A'];
}

char Letter(void* lpItem)
{
    return lpItem ? *(char*)lpItem : '-';
}

CList* Fill(CList* pList, const char* lpszWord)
{
    for (; *lpszWord; lpszWord++)
        pList->AddTail(Item(*lpszWord));
    return pList;
}

// The list read through its links rather than its cursors, checking that
// the back links, the tail and the count agree with the forward links.
std::string Contents(const CList& list)
{
    std::string word;
    const ListNode* lpPrev = NULL;
    for (const ListNode* lpNode = list.lpHead; lpNode; lpNode = lpNode->lpNext) {
        if (lpNode->lpPrev != lpPrev)
            return "<broken back link>";
        word += Letter(lpNode->lpItem);
        lpPrev = lpNode;
    }
    if (list.lpTail != lpPrev)
        return "<broken tail>";
    if (list.nCount != (int)word.size())
        return "<count " + std::to_string(list.nCount) + " for " + word + ">";
    return word;
}

char At(const ListNode* lpNode)
{
    return lpNode ? Letter(lpNode->lpItem) : '-';
}

// --- Both cursors -------------------------------------------------------
// The two cursors have the same traversal operations; every case below
// runs once for each and also checks that the other cursor stays put.

struct CursorOps {
    const char* lpszName;
    ListNode* CList::*pCursor;
    ListNode* CList::*pOther;
    void* (CList::*First)();
    void* (CList::*Last)();
    void* (CList::*Next)();
    void* (CList::*Prev)();
    void* (CList::*NextLoop)();
    void* (CList::*PrevLoop)();
    void* (CList::*GetAt)(int);
    void* (CList::*Find)(void*);
    void* (CList::*Random)();
};

const CursorOps g_first = {"First", &CList::lpCurrent, &CList::lpCurrent2, &CList::GetFirst,
    &CList::GetLast, &CList::GetNext, &CList::GetPrev, &CList::GetNextLoop, &CList::GetPrevLoop,
    &CList::GetAt, &CList::FindItem, &CList::GetRandom};
const CursorOps g_second = {"Second", &CList::lpCurrent2, &CList::lpCurrent, &CList::GetFirst2,
    &CList::GetLast2, &CList::GetNext2, &CList::GetPrev2, &CList::GetNextLoop2,
    &CList::GetPrevLoop2, &CList::GetAt2, &CList::FindItem2, &CList::GetRandom2};

void PrintTo(const CursorOps& ops, std::ostream* pOut)
{
    *pOut << ops.lpszName << " cursor";
}

class CListCursor : public ::testing::TestWithParam<CursorOps> {
protected:
    // Builds the list and parks the other cursor on its middle node.
    void Make(const char* lpszWord)
    {
        Fill(&m_list, lpszWord);
        m_list.*GetParam().pOther = m_list.lpHead ? m_list.lpHead->lpNext : NULL;
        m_lpOther = m_list.*GetParam().pOther;
    }
    void TearDown() override { EXPECT_EQ(m_lpOther, m_list.*GetParam().pOther); }

    char First() { return Letter((m_list.*GetParam().First)()); }
    char Last() { return Letter((m_list.*GetParam().Last)()); }
    char Next() { return Letter((m_list.*GetParam().Next)()); }
    char Prev() { return Letter((m_list.*GetParam().Prev)()); }
    char NextLoop() { return Letter((m_list.*GetParam().NextLoop)()); }
    char PrevLoop() { return Letter((m_list.*GetParam().PrevLoop)()); }
    char GetAt(int nIndex) { return Letter((m_list.*GetParam().GetAt)(nIndex)); }
    char Find(void* lpItem) { return Letter((m_list.*GetParam().Find)(lpItem)); }
    void* Random() { return (m_list.*GetParam().Random)(); }
    ListNode* Cursor() { return m_list.*GetParam().pCursor; }

    CList m_list;
    ListNode* m_lpOther = NULL;
};

TEST_P(CListCursor, EmptyListGivesNothing)
{
    Make("");
    EXPECT_EQ('-', First());
    EXPECT_EQ('-', Last());
    EXPECT_EQ('-', GetAt(0));
    EXPECT_EQ(nullptr, Random());
    EXPECT_EQ('-', Next());
    EXPECT_EQ('-', PrevLoop());
    EXPECT_EQ(nullptr, Cursor());
}

TEST_P(CListCursor, WalkingOffEitherEndClearsTheCursor)
{
    Make("ABC");
    EXPECT_EQ('A', First());
    EXPECT_EQ('B', Next());
    EXPECT_EQ('C', Next());
    EXPECT_EQ('-', Next());
    EXPECT_EQ(nullptr, Cursor());
    EXPECT_EQ('-', Next());
    EXPECT_EQ('-', Prev());

    EXPECT_EQ('C', Last());
    EXPECT_EQ('B', Prev());
    EXPECT_EQ('A', Prev());
    EXPECT_EQ('-', Prev());
    EXPECT_EQ('-', Prev());
    EXPECT_EQ('-', NextLoop());
}

TEST_P(CListCursor, LoopsWrapAround)
{
    Make("ABC");
    EXPECT_EQ('-', NextLoop()); // no cursor yet
    EXPECT_EQ('C', Last());
    EXPECT_EQ('A', NextLoop());
    EXPECT_EQ('C', PrevLoop());
    EXPECT_EQ('B', PrevLoop());

    m_list.RemoveAll();
    Make("Q");
    EXPECT_EQ('Q', First());
    EXPECT_EQ('Q', NextLoop());
    EXPECT_EQ('Q', PrevLoop());
    EXPECT_EQ(m_list.lpHead, Cursor());
}

TEST_P(CListCursor, GetAtChecksTheIndex)
{
    Make("ABC");
    EXPECT_EQ('A', GetAt(0));
    EXPECT_EQ('C', GetAt(2));
    EXPECT_EQ('-', Next()); // index 2 is the tail
    First();
    EXPECT_EQ('-', GetAt(3));
    EXPECT_EQ(nullptr, Cursor());
    First();
    EXPECT_EQ('-', GetAt(-1));
    EXPECT_EQ(nullptr, Cursor());
}

TEST_P(CListCursor, FindItemLandsOnTheFirstHolder)
{
    Make("ABAC");
    EXPECT_EQ('A', Find(Item('A')));
    EXPECT_EQ(m_list.lpHead, Cursor());
    EXPECT_EQ('C', Find(Item('C')));
    EXPECT_EQ(m_list.lpTail, Cursor());
    // Same letter, different pointer: not the item.
    char cOtherA = 'A';
    EXPECT_EQ('-', Find(&cOtherA));
    EXPECT_EQ(nullptr, Cursor());
}

TEST_P(CListCursor, RandomDrawsEveryNodeAndLandsOnIt)
{
    srand(1);
    Make("Z");
    EXPECT_EQ(Item('Z'), Random());
    EXPECT_EQ(Item('Z'), Random());

    m_list.RemoveAll();
    Make("ABCDE");
    std::set<char> seen;
    for (int i = 0; i < 500; i++) {
        void* lpItem = Random();
        ASSERT_NE(nullptr, lpItem);
        ASSERT_EQ(lpItem, Cursor()->lpItem);
        seen.insert(Letter(lpItem));
    }
    EXPECT_EQ((std::set<char>{'A', 'B', 'C', 'D', 'E'}), seen);
}

INSTANTIATE_TEST_SUITE_P(Both, CListCursor, ::testing::Values(g_first, g_second),
    [](const ::testing::TestParamInfo<CursorOps>& info) { return info.param.lpszName; });

// --- Insertion ----------------------------------------------------------

TEST(CListInsert, HeadAndTailLinkBothWays)
{
    CList clList;
    clList.AddHead(Item('B'));
    EXPECT_EQ("B", Contents(clList));
    clList.AddTail(Item('C'));
    clList.AddHead(Item('A'));
    clList.AddTail(Item('D'));
    EXPECT_EQ("ABCD", Contents(clList));
    EXPECT_EQ(4, clList.GetCount());
    EXPECT_EQ(nullptr, clList.lpCurrent);
}

TEST(CListInsert, InsertBeforeFollowsTheCursor)
{
    CList clList;
    clList.InsertBefore(Item('C')); // empty: appends
    clList.InsertBefore(Item('D')); // no cursor: appends
    EXPECT_EQ("CD", Contents(clList));

    clList.GetFirst();
    clList.InsertBefore(Item('A')); // on the head: prepends
    EXPECT_EQ("ACD", Contents(clList));
    EXPECT_EQ('C', At(clList.lpCurrent));

    clList.GetNext();
    clList.InsertBefore(Item('B')); // inside: just before the cursor
    clList.InsertBefore(Item('X'));
    EXPECT_EQ("ACBXD", Contents(clList));
    EXPECT_EQ('D', At(clList.lpCurrent));

    clList.GetNext(); // off the tail: no cursor again
    clList.InsertBefore(Item('E'));
    EXPECT_EQ("ACBXDE", Contents(clList));
}

TEST(CListInsert, FailedAllocationLeavesTheListAsItWas)
{
    CList clList;
    g_bFailNothrowNew = true;
    clList.AddTail(Item('A'));
    clList.AddHead(Item('A'));
    clList.InsertBefore(Item('A'));
    g_bFailNothrowNew = false;
    EXPECT_EQ("", Contents(clList));
    EXPECT_EQ(nullptr, clList.lpHead);

    Fill(&clList, "ABC");
    clList.GetAt(1);
    clList.GetFirst2();
    g_bFailNothrowNew = true;
    clList.AddTail(Item('X'));
    clList.AddHead(Item('X'));
    clList.InsertBefore(Item('X'));
    g_bFailNothrowNew = false;
    EXPECT_EQ("ABC", Contents(clList));
    EXPECT_EQ('B', At(clList.lpCurrent));
    EXPECT_EQ('A', At(clList.lpCurrent2));
}

// --- Removal ------------------------------------------------------------

TEST(CListRemove, RemoveCurrentByPosition)
{
    struct Case {
        const char* lpszWord;
        int nIndex;
        char cResult;
        char cCursor;
        const char* lpszAfter;
    } aCases[] = {
        {"ABC", 1, 'C', 'C', "AC"}, // inside: on to the following node
        {"ABC", 0, 'B', 'B', "BC"}, // head
        {"ABC", 2, '-', 'B', "AB"}, // tail: null, cursor on the new tail
        {"A", 0, '-', '-', ""},     // only node
    };
    for (const Case& c : aCases) {
        SCOPED_TRACE(std::string(c.lpszWord) + " at " + std::to_string(c.nIndex));
        CList clList;
        Fill(&clList, c.lpszWord);
        clList.GetAt(c.nIndex);
        EXPECT_EQ(c.cResult, Letter(clList.RemoveCurrent()));
        EXPECT_EQ(c.cCursor, At(clList.lpCurrent));
        EXPECT_EQ(c.lpszAfter, Contents(clList));
    }

    CList clList;
    Fill(&clList, "AB");
    EXPECT_EQ(nullptr, clList.RemoveCurrent()); // no cursor: nothing happens
    EXPECT_EQ("AB", Contents(clList));
}

TEST(CListRemove, RemovingWhileWalkingForward)
{
    // The catalogue's pattern: drop some members in one forward pass.
    CList clList;
    Fill(&clList, "AEBCIDOU");
    void* lpItem = clList.GetFirst();
    while (lpItem) {
        if (strchr("AEIOU", Letter(lpItem)))
            lpItem = clList.RemoveCurrent();
        else
            lpItem = clList.GetNext();
    }
    EXPECT_EQ("BCD", Contents(clList));

    for (lpItem = clList.GetFirst(); lpItem;)
        lpItem = clList.RemoveCurrent();
    EXPECT_EQ("", Contents(clList));
    EXPECT_EQ(nullptr, clList.lpHead);
}

TEST(CListRemove, RemoveFindsThePointer)
{
    CList clList;
    Fill(&clList, "ABCD");
    EXPECT_EQ('C', Letter(clList.Remove(Item('B'))));
    EXPECT_EQ('-', Letter(clList.Remove(Item('D')))); // the tail: removed, yet null
    EXPECT_EQ("AC", Contents(clList));

    clList.GetFirst();
    EXPECT_EQ(nullptr, clList.Remove(Item('Q')));
    EXPECT_EQ(nullptr, clList.lpCurrent);
    EXPECT_EQ("AC", Contents(clList));
}

TEST(CListRemove, RemoveAllClearsCursorsAndTheListStaysUsable)
{
    CList clList;
    Fill(&clList, "ABC");
    clList.GetAt(1);
    clList.GetLast2();
    clList.RemoveAll();
    EXPECT_EQ("", Contents(clList));
    EXPECT_EQ(nullptr, clList.lpCurrent);
    EXPECT_EQ(nullptr, clList.lpCurrent2);
    EXPECT_EQ(nullptr, clList.GetNext());
    EXPECT_EQ(nullptr, clList.GetPrevLoop2());

    clList.AddTail(Item('D'));
    EXPECT_EQ("D", Contents(clList));
    EXPECT_EQ('D', Letter(clList.GetFirst()));
}

TEST(CListRemove, SecondCursorOnARemovedNodeIsCleared)
{
    CList clList;
    Fill(&clList, "ABC");
    clList.GetAt(1);
    clList.GetAt2(1);
    clList.RemoveCurrent();
    EXPECT_EQ(nullptr, clList.lpCurrent2);
    EXPECT_EQ(nullptr, clList.GetNext2());

    clList.GetFirst2(); // elsewhere: untouched
    clList.Remove(Item('C'));
    EXPECT_EQ('A', At(clList.lpCurrent2));
}

// --- Two cursors together -----------------------------------------------

TEST(CListTwoCursors, SwapExchangesItemsNotNodes)
{
    CList clList;
    Fill(&clList, "ABC");
    EXPECT_EQ(0, clList.SwapCurrent());
    clList.GetLast2();
    EXPECT_EQ(0, clList.SwapCurrent());
    EXPECT_EQ("ABC", Contents(clList));

    ListNode* lpHead = clList.lpHead;
    clList.GetFirst();
    EXPECT_EQ(1, clList.SwapCurrent());
    EXPECT_EQ("CBA", Contents(clList));
    EXPECT_EQ(lpHead, clList.lpCurrent);
}

TEST(CListTwoCursors, SyncCopiesOneCursorIntoTheOther)
{
    CList clList;
    Fill(&clList, "ABC");
    clList.GetAt(2);
    clList.SyncCursor2();
    EXPECT_EQ('B', Letter(clList.GetPrev2()));
    clList.SyncCursor();
    EXPECT_EQ('A', Letter(clList.GetPrev()));
    EXPECT_EQ('B', At(clList.lpCurrent2));
}

// --- Sort ---------------------------------------------------------------

int CompareLetters(void* lpA, void* lpB)
{
    return *(char*)lpA - *(char*)lpB;
}

int CompareFirstChars(void* lpA, void* lpB)
{
    return **(const char**)lpA - **(const char**)lpB;
}

TEST(CListSort, OrdersAscendingAndClearsCursors)
{
    CList clList;
    Fill(&clList, "CAB");
    clList.GetFirst();
    clList.GetFirst2();
    EXPECT_EQ(nullptr, clList.Sort(CompareLetters));
    EXPECT_EQ("ABC", Contents(clList));
    EXPECT_EQ(nullptr, clList.lpCurrent);
    EXPECT_EQ(nullptr, clList.lpCurrent2);

    CList clEmpty;
    clEmpty.Sort(CompareLetters);
    EXPECT_EQ("", Contents(clEmpty));
}

// Sorts the names by their first letter and reads them back.
std::string SortByFirstChar(std::vector<const char*> names)
{
    CList clList;
    for (const char*& lpszName : names)
        clList.AddTail(&lpszName);
    clList.Sort(CompareFirstChars);
    std::string order;
    for (void* lpItem = clList.GetFirst(); lpItem; lpItem = clList.GetNext())
        order += std::string(*(const char**)lpItem) + " ";
    return order;
}

TEST(CListSort, EqualItemsEndWhereTheSwapsPutThem)
{
    // b1 is swapped with a, which carries it past b2.
    EXPECT_EQ("a b2 b1 ", SortByFirstChar({"b1", "b2", "a"}));
    // Here the swap leaves b1 before b2, and equal items are never swapped.
    EXPECT_EQ("a b1 b2 ", SortByFirstChar({"b1", "a", "b2"}));
}

TEST(CListSort, AgreesWithAReferenceSortOnManyItems)
{
    srand(7);
    std::string word;
    for (int i = 0; i < 300; i++)
        word += (char)('A' + rand() % 26);
    CList clList;
    Fill(&clList, word.c_str());
    clList.Sort(CompareLetters);
    std::sort(word.begin(), word.end());
    EXPECT_EQ(word, Contents(clList));
}

} // namespace
