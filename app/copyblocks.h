// The block loop of the copy pass: one file copied from an open source to
// an open destination in blocks of COPY_BLOCK_SIZE bytes, with the
// progress in percent reported before each block and a chance to stop
// after each full one.
#ifndef APP_COPYBLOCKS_H
#define APP_COPYBLOCKS_H

#include "file/cfile.h"

#define COPY_BLOCK_SIZE 100000
// Above this size the percentage is P / (S / 100), which cannot overflow
// 32 bits; at or below it, (P * 100) / S.
#define COPY_PERCENT_THRESHOLD 10000000

// The percentage of qwPos in qwSize, truncated; 0 for an empty file,
// which the copy then ends at 100 like any other.
DWORD CopyPercent(QWORD qwPos, QWORD qwSize);

struct CopyCallbacks {
    // Before each block, with the source's progress (0 for the first block
    // of every file), and with 100 once the file is complete.
    void (*pfnSetPercent)(void* pParam, DWORD dwPercent);
    // After each block that was not the file's last; 0 stops the copy.
    int (*pfnContinue)(void* pParam);
    void* pParam;
};

// Copies pSource, open for reading, into pDest, open for writing. Returns
// 1 when the bytes written equal the source's size; 0 when the callback
// stopped the copy or a read or write came up short in the middle of the
// file (which a short block alone cannot tell from the end of the data).
// Not reentrant: every call copies through one buffer of the program's.
int CopyBlocks(CFile* pDest, CFile* pSource, const CopyCallbacks* pCallbacks);

#endif
