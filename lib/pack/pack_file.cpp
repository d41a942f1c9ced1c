// Pack members as files: CFile's member backing and extraction.
#include "pack/cpack.h"

#include "container/clist.h"
#include "file/path.h"
#include "file/cfile.h"
#include "file/tempfile.h"
#include "pack/pack_util.h"
#include "platform/names.h"
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <stdio.h>
#include <string.h>
#include <vector>

CFile::CFile(CPack* pPack, const char* lpszName, int nMode) : CFile()
{
    OpenPack(pPack, lpszName, nMode);
}

int CFile::OpenPack(CPack* pPack, const char* lpszName, int nMode)
{
    (void)nMode;
    Close();
    PackMember* pMember = pPack->Find(lpszName);
    if (!pMember)
        return 0;
    m_qwSize = pMember->dwOrgSize;
    if (pPack->OpenMemberFile(pMember, &m_hFile)) {
        QWORD qwPos = 0;
        PlatSetFilePos(m_hFile, 0, PLAT_SEEK_CURRENT, &qwPos);
        m_qwPos = m_qwStart = qwPos;
        m_qwEnd = m_qwStart + m_qwSize;
        m_nType = CFILE_HANDLE;
        return 1;
    }
    m_pTop = new (std::nothrow) BYTE[m_qwSize ? m_qwSize : 1];
    if (!m_pTop)
        return 0;
    if (!pPack->ReadMember(pMember, &m_pTop)) {
        delete[] m_pTop;
        m_pTop = NULL;
        return 0;
    }
    m_pCur = m_pTop;
    m_pEnd = m_pTop + m_qwSize;
    m_nType = CFILE_MEMORY;
    m_bAlloc = 1;
    return 1;
}

namespace {

enum ExtractResult { EXTRACT_DONE, EXTRACT_UNREADABLE, EXTRACT_UNWRITABLE };

// Writes one member into the folder under its own name.
ExtractResult ExtractMember(CPack* pPack, const PackMember* p, const char* lpszFolder)
{
    char lpszDest[MAX_PATH];
    // One separator between folder and name, also for a one-letter folder.
    if (!JoinPath(lpszDest, lpszFolder, p->szName))
        return EXTRACT_UNWRITABLE;
    // Only the first member of a name is extracted, so the name finds it.
    CFile clMember;
    if (!clMember.OpenPack(pPack, p->szName, 0))
        return EXTRACT_UNREADABLE;
    // The destination may be the very file the member is read from (a
    // loose member extracted into its own folder): the content goes to a
    // temporary file beside it, moved over it only when complete, so the
    // source is never cut and a failure leaves no cut file. Temporary files
    // are created exclusively, so threads never share one.
    CTempFile clDest;
    if (!clDest.Create(lpszDest, 0))
        return EXTRACT_UNWRITABLE;
    bool bOk = CopyInBlocks(clDest.File(), &clMember, clMember.GetSize());
    clMember.Close(); // Windows replaces no file that is open
    if (!clDest.Finish(bOk))
        return EXTRACT_UNWRITABLE;
    return EXTRACT_DONE;
}

struct NamedMember {
    char szKey[PACK_NAME_SIZE]; // the name with A to Z folded
    DWORD dwOrder;
    PackMember* pMember;
};

} // namespace

int CPack::FindSameFiles(PackMember** ppFirst)
{
    DWORD dwMembers = (DWORD)m_pAllList->GetCount(), i = 0;
    std::vector<NamedMember> members;
    try {
        members.resize(dwMembers);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext(), i++) {
        FoldNameCase(members[i].szKey, p->szName);
        members[i].dwOrder = i;
        members[i].pMember = p;
    }
    // Sorted by the file system's order, catalogue order within a file:
    // the members of one file lie together, their first in front.
    std::sort(members.begin(), members.end(), [](const NamedMember& a, const NamedMember& b) {
        int n = PlatCompareFileNames(a.szKey, b.szKey, PLAT_NAMES_HERE);
        return n != 0 ? n < 0 : a.dwOrder < b.dwOrder;
    });
    for (i = 0; i < dwMembers; i++) {
        bool bSame = i > 0 && PlatCompareFileNames(members[i - 1].szKey, members[i].szKey, PLAT_NAMES_HERE) == 0;
        ppFirst[members[i].dwOrder] = bSame ? ppFirst[members[i - 1].dwOrder] : members[i].pMember;
    }
    return 1;
}

int CPack::ExtractAll(const char* lpszFolder)
{
    DWORD dwMembers = (DWORD)m_pAllList->GetCount(), i = 0;
    PackMember** ppMembers = new (std::nothrow) PackMember*[dwMembers + 1];
    PackMember** ppFirst = new (std::nothrow) PackMember*[dwMembers + 1];
    if (!ppMembers || !ppFirst || !FindSameFiles(ppFirst)) {
        delete[] ppMembers;
        delete[] ppFirst;
        return 0;
    }
    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext())
        ppMembers[i++] = p;

    // Every member written has a file of its own, so they are written on
    // all threads at once.
    std::atomic<bool> bUnreadable(false), bStop(false), bLeftOut(false);
    PackMemoryGate clGate;
    RunItems(ResolveThreads(m_nThreads), dwMembers, [&](size_t nItem) {
        const PackMember* p = ppMembers[nItem];
        if (ppFirst[nItem] != p) {
            bLeftOut = true;
            return;
        }
        if (bStop)
            return;
        QWORD qwMemory = MemberMemory(p);
        clGate.Enter(qwMemory);
        ExtractResult nDone = ExtractMember(this, p, lpszFolder);
        clGate.Leave(qwMemory);
        if (nDone == EXTRACT_UNREADABLE)
            bUnreadable = true;
        if (nDone == EXTRACT_UNWRITABLE)
            bStop = true;
    });
    delete[] ppMembers;
    delete[] ppFirst;
    return bStop || bUnreadable || bLeftOut ? 0 : 1;
}
