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
    // COPY_BLOCK_SIZE bytes the caller keeps for a whole run: a buffer
    // taken and freed for every file cost more than copying a small file
    // under Wine. Null: the call takes one of its own.
    BYTE* pBlock;
    // Optional (null: none): shown each block read, before it is written,
    // so a hash of the source needs no second read.
    void (*pfnRead)(void* pReadParam, const BYTE* pData, DWORD dwSize);
    void* pReadParam;
};

// Copies pSource, open for reading, into pDest, open for writing. Returns
// 1 when the bytes written equal the source's size; 0 when the callback
// stopped the copy or a read or write came up short in the middle of the
// file (which a short block alone cannot tell from the end of the data).
int CopyBlocks(CFile* pDest, CFile* pSource, const CopyCallbacks* pCallbacks);

// Which of the positions a copy reports reach the progress bar, when the
// bar is brought up to date at most once every REFRESH_INTERVAL_MS: a
// position between 0 and 100 only when the last one set is that old, 0
// and 100 always, so that every file still starts at 0 and ends at 100 on
// the bar; a position the bar shows already, never. Times are milliseconds
// of any clock that wraps at 2^32.
#define REFRESH_INTERVAL_MS 10
struct PercentThrottle {
    DWORD dwShown;
    DWORD dwLastSet;
};
// The bar shows 0, set at dwNow.
void StartThrottle(PercentThrottle* pThrottle, DWORD dwNow);
// Whether dwPercent is to be set now; when it is, it counts as set.
int ThrottlePercent(PercentThrottle* pThrottle, DWORD dwPercent, DWORD dwNow);

#endif
