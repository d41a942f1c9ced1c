// Pack members as files: CFile's member backing and extraction.
#include "pack/cpack.h"

#include "container/clist.h"
#include "file/cfile.h"
#include "file/tempfile.h"
#include "pack/pack_util.h"
#include "platform/platform.h"

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

int CPack::ExtractAll(const char* lpszFolder)
{
    char lpszDest[MAX_PATH], lpszTemp[MAX_PATH];
    int nResult = 1;
    for (PackMember* p = (PackMember*)m_pAllList->GetFirst(); p; p = (PackMember*)m_pAllList->GetNext()) {
        // One separator between folder and name, also for a one-letter folder.
        if (!JoinPath(lpszDest, lpszFolder, p->szName))
            return 0;
        // By name, as every lookup does: a later member of the same name is
        // written with the first one's content.
        CFile clMember;
        if (!clMember.OpenPack(this, p->szName, 0)) {
            nResult = 0;
            continue;
        }
        // The destination may be the very file the member is read from (a
        // loose member extracted into its own folder): the content goes to
        // a temporary file beside it, moved over it only when complete, so
        // the source is never cut and a failure leaves no cut file.
        CFile clDest;
        if (!CreateTempFile(&clDest, lpszTemp, lpszDest))
            return 0;
        bool bOk = clDest.CopyFrom(&clMember, clMember.GetSize()) == clMember.GetSize();
        clDest.Close();
        clMember.Close(); // Windows replaces no file that is open
        if (!FinishTempFile(lpszTemp, lpszDest, bOk))
            return 0;
    }
    return nResult;
}
