#include "copyblocks.h"

DWORD CopyPercent(QWORD qwPos, QWORD qwSize)
{
    if (qwSize == 0)
        return 0;
    if (qwSize > COPY_PERCENT_THRESHOLD)
        return (DWORD)(qwPos / (qwSize / 100));
    return (DWORD)(qwPos * 100 / qwSize);
}

// One block buffer for the whole run. A buffer taken and freed for every
// block (as CopyFrom does) cost more than copying the block under Wine,
// whose heap hands an allocation of this size back to the system when it
// is freed: 0.5 s on a 315 MB tree whose plain copy took 0.3 s.
static BYTE s_abBlock[COPY_BLOCK_SIZE];

int CopyBlocks(CFile* pDest, CFile* pSource, const CopyCallbacks* pCallbacks)
{
    // The whole size, not GetSize's low 32 bits, so that a file of 4 GiB
    // or more is not taken as complete after its first bytes.
    QWORD qwSize = pSource->m_qwSize;
    QWORD qwCopied = 0;
    // An OS file's position is asked for once; each block moves it by what
    // was read. A block in memory is written from where it lies.
    int bHandle = pSource->m_nType == CFILE_HANDLE;
    QWORD qwPos = pSource->GetPos64();
    for (;;) {
        pCallbacks->pfnSetPercent(pCallbacks->pParam, CopyPercent(bHandle ? qwPos : pSource->GetPos64(), qwSize));
        DWORD dwCopied;
        if (bHandle) {
            DWORD dwRead = pSource->Read(s_abBlock, COPY_BLOCK_SIZE);
            qwPos += dwRead;
            dwCopied = pDest->Write(s_abBlock, dwRead);
        } else {
            dwCopied = pDest->CopyFrom(pSource, COPY_BLOCK_SIZE);
        }
        qwCopied += dwCopied;
        if (dwCopied < COPY_BLOCK_SIZE)
            break;
        if (!pCallbacks->pfnContinue(pCallbacks->pParam))
            return 0;
    }
    if (qwCopied != qwSize)
        return 0;
    pCallbacks->pfnSetPercent(pCallbacks->pParam, 100);
    return 1;
}

void StartThrottle(PercentThrottle* pThrottle, DWORD dwNow)
{
    pThrottle->dwShown = 0;
    pThrottle->dwLastSet = dwNow;
}

int ThrottlePercent(PercentThrottle* pThrottle, DWORD dwPercent, DWORD dwNow)
{
    if (dwPercent == pThrottle->dwShown)
        return 0;
    if (dwPercent != 0 && dwPercent != 100 && dwNow - pThrottle->dwLastSet < REFRESH_INTERVAL_MS)
        return 0;
    pThrottle->dwShown = dwPercent;
    pThrottle->dwLastSet = dwNow;
    return 1;
}
