#include "copyblocks.h"

#include <vector>

DWORD CopyPercent(QWORD qwPos, QWORD qwSize)
{
    if (qwSize == 0)
        return 0;
    if (qwSize > COPY_PERCENT_THRESHOLD)
        return (DWORD)(qwPos / (qwSize / 100));
    return (DWORD)(qwPos * 100 / qwSize);
}

int CopyBlocks(CFile* pDest, CFile* pSource, const CopyCallbacks* pCallbacks)
{
    // The whole size, not GetSize's low 32 bits, so that a file of 4 GiB
    // or more is not taken as complete after its first bytes.
    QWORD qwSize = pSource->GetSize64();
    QWORD qwCopied = 0;
    // An OS file's position is asked for once; each block moves it by what
    // was read. A block in memory is written from where it lies.
    int bHandle = pSource->GetType() == CFILE_HANDLE;
    // Bytes someone looks at pass through the block too.
    int bBuffered = bHandle || pCallbacks->pfnRead;
    // A buffer taken and freed for every block (as CopyFrom does) cost
    // more than copying the block under Wine, whose heap hands an
    // allocation of this size back to the system when it is freed.
    std::vector<BYTE> own;
    BYTE* pBlock = pCallbacks->pBlock;
    if (bBuffered && !pBlock) {
        own.resize(COPY_BLOCK_SIZE);
        pBlock = own.data();
    }
    QWORD qwPos = pSource->GetPos64();
    for (;;) {
        pCallbacks->pfnSetPercent(pCallbacks->pParam, CopyPercent(bHandle ? qwPos : pSource->GetPos64(), qwSize));
        DWORD dwCopied;
        if (bBuffered) {
            DWORD dwRead = pSource->Read(pBlock, COPY_BLOCK_SIZE);
            qwPos += dwRead;
            if (pCallbacks->pfnRead)
                pCallbacks->pfnRead(pCallbacks->pReadParam, pBlock, dwRead);
            dwCopied = pDest->Write(pBlock, dwRead);
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
