// Pack members as files: CFile's member backing and extraction.
#include "pack/cpack.h"

#include "container/clist.h"
#include "file/cfile.h"
#include "file/tempfile.h"
#include "pack/pack_util.h"
#include "platform/platform.h"

#include <atomic>
#include <new>
#include <stdio.h>
#include <string.h>

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

// Writes one member into the folder under its own name, with the content
// that a lookup of that name finds.
ExtractResult ExtractMember(CPack* pPack, const PackMember* p, const char* lpszFolder)
{
    char lpszDest[MAX_PATH];
    // One separator between folder and name, also for a one-letter folder.
    if (!JoinPath(lpszDest, lpszFolder, p->szName))
        return EXTRACT_UNWRITABLE;
    // By name, as every lookup does: a later member of the same name is
    // written with the first one's content.
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
    bool bOk = clDest.File()->CopyFrom(&clMember, clMember.GetSize()) == clMember.GetSize();
    clMember.Close(); // Windows replaces no file that is open
    if (!clDest.Finish(bOk))
        return EXTRACT_UNWRITABLE;
    return EXTRACT_DONE;
}

} // namespace

int CPack::ExtractAll(const char* lpszFolder)
{
    std::atomic<bool> bUnreadable(false), bStop(false);
    auto Extract = [&](const PackMember* p) {
        ExtractResult nDone = ExtractMember(this, p, lpszFolder);
        if (nDone == EXTRACT_UNREADABLE)
            bUnreadable = true;
        if (nDone == EXTRACT_UNWRITABLE)
            bStop = true;
    };
    int nThreads = ResolveThreads(m_nThreads);
    if (nThreads == 1) {
        for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p && !bStop; p = (PackMember*)m_pAllList->GetNext())
            Extract(p);
        return bStop || bUnreadable ? 0 : 1;
    }

    // The first member of each name is extracted on all threads at once:
    // their destinations differ. A later member of a name goes to the same
    // destination (or one differing in letter case), so the later ones are
    // written afterwards on this thread, in catalogue order, as one thread
    // would order them.
    DWORD dwMembers = (DWORD)m_pAllList->GetCount(), i = 0;
    PackMember** ppMembers = new (std::nothrow) PackMember*[dwMembers + 1];
    if (!ppMembers)
        return 0;
    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext())
        ppMembers[i++] = p;
    RunItems(nThreads, dwMembers, [&](size_t nItem) {
        if (!bStop && Find(ppMembers[nItem]->szName) == ppMembers[nItem])
            Extract(ppMembers[nItem]);
    });
    for (i = 0; i < dwMembers && !bStop; i++)
        if (Find(ppMembers[i]->szName) != ppMembers[i])
            Extract(ppMembers[i]);
    delete[] ppMembers;
    return bStop || bUnreadable ? 0 : 1;
}
