#include "copyblocks.h"

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
    QWORD qwSize = pSource->m_qwSize;
    QWORD qwCopied = 0;
    for (;;) {
        pCallbacks->pfnSetPercent(pCallbacks->pParam, CopyPercent(pSource->GetPos64(), qwSize));
        DWORD dwCopied = pDest->CopyFrom(pSource, COPY_BLOCK_SIZE);
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
