#include "codec/chuffman.h"

#include <string.h>

// LoadTree's result for an internal node beyond the last number. As a byte
// it is 0xFF, and it is taken for a leaf wherever a node is tested.
#define HUFF_EXCESS_NODE (-1)
#define HUFF_TABLE_SIZE (1 << HUFF_TABLE_BITS)
// Table entry fields (see adwTable).
#define HUFF_ENTRY_FIRST_BYTE_SHIFT 8
#define HUFF_ENTRY_SECOND_BYTE_SHIFT 16
#define HUFF_ENTRY_COUNT_SHIFT 24
#define HUFF_ENTRY_FIRST_SHIFT 26

namespace {

// Big-endian loads and stores through bytes: no alignment or aliasing
// assumptions, and compilers turn them into one load or store and a swap.
inline QWORD LoadBigEndian64(const BYTE* p)
{
    return (QWORD)p[0] << 56 | (QWORD)p[1] << 48 | (QWORD)p[2] << 40 | (QWORD)p[3] << 32 |
           (QWORD)p[4] << 24 | (QWORD)p[5] << 16 | (QWORD)p[6] << 8 | (QWORD)p[7];
}

inline void StoreBigEndian32(BYTE* p, DWORD dw)
{
    p[0] = (BYTE)(dw >> 24);
    p[1] = (BYTE)(dw >> 16);
    p[2] = (BYTE)(dw >> 8);
    p[3] = (BYTE)dw;
}

} // namespace

CHuffman::CHuffman()
{
    ResetState();
}

CHuffman::~CHuffman()
{
}

// The tables are rebuilt by every call before use, so only what a call
// reads before writing it is cleared.
void CHuffman::ResetState()
{
    lpSrcBuf = NULL;
    dwSrcSize = 0;
    dwSrcPos = 0;
    lpDestBuf = NULL;
    dwDestSize = 0;
    dwDestPos = 0;
    qwOut = 0;
    nOutBits = 0;
    qwIn = 0;
    nInBits = 0;
    nHeapSize = 0;
    memset(anHeap, 0, sizeof(anHeap));
    memset(anParent, 0, sizeof(anParent));
    memset(adwFreq, 0, sizeof(adwFreq));
    nNextNode = HUFF_FIRST_INTERNAL;
}

// Whole 32-bit words go out as soon as they are complete; only the last
// few bytes of a cut stream go out one at a time.
void CHuffman::PutBits(QWORD qwBits, int nCount)
{
    qwOut = qwOut << nCount | qwBits;
    nOutBits += nCount;
    if (nOutBits < 32)
        return;
    nOutBits -= 32;
    DWORD dwWord = (DWORD)(qwOut >> nOutBits);
    if (dwDestSize - dwDestPos >= 4) {
        StoreBigEndian32(lpDestBuf + dwDestPos, dwWord);
        dwDestPos += 4;
        return;
    }
    for (int nShift = 24; nShift >= 0 && dwDestPos < dwDestSize; nShift -= 8)
        lpDestBuf[dwDestPos++] = (BYTE)(dwWord >> nShift);
}

// The last byte is completed with 0 bits; nothing is added on a boundary.
void CHuffman::FlushBits()
{
    int nPad = (8 - nOutBits % 8) % 8;
    qwOut <<= nPad;
    nOutBits += nPad;
    while (nOutBits > 0 && dwDestPos < dwDestSize) {
        nOutBits -= 8;
        lpDestBuf[dwDestPos++] = (BYTE)(qwOut >> nOutBits);
    }
    nOutBits = 0;
}

// Equal weights take the left child, and a parent that is no heavier than
// the lighter child stays: the tie rules the stored format depends on.
void CHuffman::SiftDown(int i)
{
    short nKey = anHeap[i];
    for (;;) {
        int j = 2 * i;
        if (j > nHeapSize)
            break;
        if (j < nHeapSize && adwFreq[anHeap[j]] > adwFreq[anHeap[j + 1]])
            j++;
        if (adwFreq[nKey] <= adwFreq[anHeap[j]])
            break;
        anHeap[i] = anHeap[j];
        i = j;
    }
    anHeap[i] = nKey;
}

void CHuffman::StoreTree(int k)
{
    if (k < HUFF_FIRST_INTERNAL) {
        PutBits((QWORD)k, 9); // a 0 bit, then the byte value
        return;
    }
    PutBits(1, 1);
    StoreTree(anLeft[k]);
    StoreTree(anRight[k]);
}

DWORD CHuffman::Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;
    const BYTE* pSrc = this->lpSrcBuf;

    // Four counters per value: consecutive equal bytes would otherwise
    // wait on each other's increment.
    DWORD adwCounts[4][256];
    memset(adwCounts, 0, sizeof(adwCounts));
    DWORD i = 0;
    for (; dwSrcSize - i >= 4; i += 4) {
        adwCounts[0][pSrc[i]]++;
        adwCounts[1][pSrc[i + 1]]++;
        adwCounts[2][pSrc[i + 2]]++;
        adwCounts[3][pSrc[i + 3]]++;
    }
    for (; i < dwSrcSize; i++)
        adwCounts[0][pSrc[i]]++;
    for (int v = 0; v < 256; v++)
        adwFreq[v] = adwCounts[0][v] + adwCounts[1][v] + adwCounts[2][v] + adwCounts[3][v];

    // An empty input leaves the heap empty and its first entry 0: the tree
    // is then the single leaf for byte 0.
    anHeap[1] = 0;
    nHeapSize = 0;
    for (int v = 0; v < 256; v++) {
        if (adwFreq[v] != 0)
            anHeap[++nHeapSize] = (short)v;
    }
    for (int h = nHeapSize / 2; h >= 1; h--)
        SiftDown(h);

    short k = anHeap[1];
    short nNext = HUFF_FIRST_INTERNAL;
    while (nHeapSize > 1) {
        // The lighter node taken first becomes the left child (bit 0).
        short a = anHeap[1];
        anHeap[1] = anHeap[nHeapSize--];
        SiftDown(1);
        short b = anHeap[1];
        k = nNext++;
        adwFreq[k] = adwFreq[a] + adwFreq[b];
        anHeap[1] = k;
        SiftDown(1);
        anParent[a] = k;
        anParent[b] = (short)-k;
        anLeft[k] = a;
        anRight[k] = b;
    }
    StoreTree(k);

    // Codes from the parent links, leaf end first into the low bits. A
    // single-leaf tree gives every byte the empty code.
    for (int v = 0; v < 256; v++) {
        DWORD dwCode = 0;
        int nLen = 0;
        for (int j = v; adwFreq[v] != 0 && anParent[j] != 0; nLen++) {
            if (nLen < HUFF_TABLE_CODE_BITS)
                dwCode |= (DWORD)(anParent[j] < 0) << nLen;
            j = anParent[j] < 0 ? -anParent[j] : anParent[j];
        }
        adwCode[v] = dwCode;
        abCodeLen[v] = (BYTE)(nLen < 255 ? nLen : 255);
    }

    // The stream's exact length is known now, so the main loop can store
    // 8 bytes at a time, its last few bytes still pending, as long as the
    // store ends inside the stream (and inside the destination): later
    // stores and the tail complete those bytes, and nothing past the
    // result is ever touched.
    QWORD qwTotalBits = (QWORD)dwDestPos * 8 + (QWORD)nOutBits;
    int nLongest = 0;
    for (int v = 0; v < 256; v++) {
        qwTotalBits += (QWORD)adwFreq[v] * abCodeLen[v];
        if (adwFreq[v] != 0 && abCodeLen[v] > nLongest)
            nLongest = abCodeLen[v];
    }
    QWORD qwEnd = (qwTotalBits + 7) / 8;
    DWORD dwEnd = qwEnd < dwDestSize ? (DWORD)qwEnd : dwDestSize;

    // A single leaf: empty codes, nothing to write per byte.
    i = nLongest == 0 ? dwSrcSize : 0;
    if (nLongest > 0 && nLongest <= HUFF_TABLE_CODE_BITS && dwEnd >= 8) {
        // Locals: stores through a BYTE pointer could alias the members.
        BYTE* pDest = this->lpDestBuf;
        DWORD dwPos = dwDestPos, dwLast = dwEnd - 8;
        QWORD qwBits = qwOut;
        int nBits = nOutBits;
        // Two codes of at most 24 bits on at most 7 pending bits: 55 bits.
        while (dwSrcSize - i >= 2 && dwPos <= dwLast) {
            BYTE c0 = pSrc[i], c1 = pSrc[i + 1];
            i += 2;
            qwBits = qwBits << abCodeLen[c0] | adwCode[c0];
            qwBits = qwBits << abCodeLen[c1] | adwCode[c1];
            nBits += abCodeLen[c0] + abCodeLen[c1];
            QWORD qwTop = qwBits << (64 - nBits); // nBits is 2..55 here
            for (int b = 0; b < 8; b++)
                pDest[dwPos + b] = (BYTE)(qwTop >> (56 - 8 * b));
            dwPos += (DWORD)(nBits >> 3);
            nBits &= 7;
        }
        dwDestPos = dwPos;
        qwOut = qwBits;
        nOutBits = nBits;
    }
    for (; i < dwSrcSize; i++) {
        BYTE c = pSrc[i];
        if (abCodeLen[c] <= HUFF_TABLE_CODE_BITS) {
            PutBits(adwCode[c], abCodeLen[c]);
            continue;
        }
        // A long code: the path from the parent links, written root first.
        BYTE abBits[256];
        int nBits = 0;
        for (int j = c; anParent[j] != 0; j = anParent[j] < 0 ? -anParent[j] : anParent[j])
            abBits[nBits++] = anParent[j] < 0;
        while (nBits > 0)
            PutBits(abBits[--nBits], 1);
    }
    FlushBits();
    return dwDestPos;
}

void CHuffman::Refill()
{
    if (dwSrcSize - dwSrcPos >= 8) {
        qwIn |= LoadBigEndian64(lpSrcBuf + dwSrcPos) >> nInBits;
        dwSrcPos += (63 - nInBits) >> 3;
        nInBits |= 56;
        return;
    }
    // Near the end, a byte at a time; past it, 0xFF bytes.
    while (nInBits <= 56) {
        QWORD qwByte = dwSrcPos < dwSrcSize ? lpSrcBuf[dwSrcPos++] : 0xFF;
        qwIn |= qwByte << (56 - nInBits);
        nInBits += 8;
    }
}

int CHuffman::TakeBits(int nCount)
{
    if (nInBits < nCount)
        Refill();
    int nValue = (int)(qwIn >> (64 - nCount));
    qwIn <<= nCount;
    nInBits -= nCount;
    return nValue;
}

// Node numbers stop at 510, so at most 255 internal nodes are built and
// the recursion stays within 256 levels whatever the bits. A node past the
// last number is not built and its subtrees are not read: it stands as a
// leaf that decodes to 0xFF.
short CHuffman::LoadTree()
{
    if (TakeBits(1) == 0)
        return (short)TakeBits(8);
    short i = nNextNode++;
    if (i >= HUFF_NODES)
        return HUFF_EXCESS_NODE;
    anLeft[i] = LoadTree();
    anRight[i] = LoadTree();
    return i;
}

// Every entry whose bits start with dwCode (nDepth bits) gets node k's
// outcome: its byte if k is a leaf, else, at the table's depth, k itself.
void CHuffman::FillTable(int k, int nDepth, DWORD dwCode)
{
    if (k < HUFF_FIRST_INTERNAL) {
        DWORD dwEntry = (DWORD)nDepth | (DWORD)(BYTE)k << HUFF_ENTRY_FIRST_BYTE_SHIFT | 1u << HUFF_ENTRY_COUNT_SHIFT |
                        (DWORD)nDepth << HUFF_ENTRY_FIRST_SHIFT;
        int nFree = HUFF_TABLE_BITS - nDepth;
        DWORD* pEntry = adwTable + (dwCode << nFree);
        for (DWORD j = 0; j < (1u << nFree); j++)
            pEntry[j] = dwEntry;
        return;
    }
    if (nDepth == HUFF_TABLE_BITS) {
        adwTable[dwCode] = (DWORD)HUFF_TABLE_BITS | (DWORD)k << HUFF_ENTRY_FIRST_BYTE_SHIFT;
        return;
    }
    FillTable(anLeft[k], nDepth + 1, dwCode << 1);
    FillTable(anRight[k], nDepth + 1, dwCode << 1 | 1);
}

BYTE CHuffman::WalkFrom(int k)
{
    while (k >= HUFF_FIRST_INTERNAL)
        k = TakeBits(1) ? anRight[k] : anLeft[k];
    return (BYTE)k;
}

DWORD CHuffman::Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;

    short nRoot = LoadTree();
    if (nRoot < HUFF_FIRST_INTERNAL) {
        // A single leaf: empty codes, nothing more is read.
        if (dwDestSize)
            memset(lpDestBuf, (BYTE)nRoot, dwDestSize);
        return dwDestSize;
    }

    FillTable(nRoot, 0, 0);
    // Pair each entry's byte with the next one when both codes fit in the
    // table's bits; the second is looked up by the bits after the first.
    const DWORD dwMask = HUFF_TABLE_SIZE - 1;
    for (DWORD i = 0; i < HUFF_TABLE_SIZE; i++) {
        DWORD dwEntry = adwTable[i];
        if ((dwEntry >> HUFF_ENTRY_COUNT_SHIFT & 3) == 0)
            continue;
        int nFirst = (int)(dwEntry >> HUFF_ENTRY_FIRST_SHIFT & 15);
        DWORD dwNext = adwTable[(i << nFirst) & dwMask];
        int nSecond = (int)(dwNext >> HUFF_ENTRY_FIRST_SHIFT & 15);
        if ((dwNext >> HUFF_ENTRY_COUNT_SHIFT & 3) == 0 || nFirst + nSecond > HUFF_TABLE_BITS)
            continue;
        adwTable[i] = (DWORD)(nFirst + nSecond) | (dwEntry & 0xFF00) | (dwNext & 0xFF00) << 8 |
                      2u << HUFF_ENTRY_COUNT_SHIFT | (DWORD)nFirst << HUFF_ENTRY_FIRST_SHIFT;
    }

    // Locals in the loop: stores through a BYTE pointer could alias the
    // members. One refill gives at least 56 bits, enough for four lookups
    // of at most HUFF_TABLE_BITS bits; both bytes of a pair are stored
    // whatever the count, so eight places must be free. A longer code
    // leaves the loop for the bit-by-bit walk and comes back.
    BYTE* pOut = this->lpDestBuf;
    BYTE* pEnd = pOut + dwDestSize;
    const BYTE* pSrc = this->lpSrcBuf;
    QWORD qwBits = qwIn;
    int nBits = nInBits;
    DWORD dwPos = dwSrcPos;
    while (pEnd - pOut >= 8 && dwSrcSize - dwPos >= 8) {
        qwBits |= LoadBigEndian64(pSrc + dwPos) >> nBits;
        dwPos += (DWORD)(63 - nBits) >> 3;
        nBits |= 56;
        DWORD dwEntry = 0;
        for (int nLookup = 0; nLookup < 4; nLookup++) {
            dwEntry = adwTable[qwBits >> (64 - HUFF_TABLE_BITS)];
            int nLen = (int)(dwEntry & 0xFF);
            qwBits <<= nLen;
            nBits -= nLen;
            DWORD dwCount = dwEntry >> HUFF_ENTRY_COUNT_SHIFT & 3;
            if (dwCount == 0)
                break;
            pOut[0] = (BYTE)(dwEntry >> HUFF_ENTRY_FIRST_BYTE_SHIFT);
            pOut[1] = (BYTE)(dwEntry >> HUFF_ENTRY_SECOND_BYTE_SHIFT);
            pOut += dwCount;
        }
        if ((dwEntry >> HUFF_ENTRY_COUNT_SHIFT & 3) == 0) {
            qwIn = qwBits;
            nInBits = nBits;
            dwSrcPos = dwPos;
            *pOut++ = WalkFrom((int)(dwEntry >> HUFF_ENTRY_FIRST_BYTE_SHIFT & 0xFFFF));
            qwBits = qwIn;
            nBits = nInBits;
            dwPos = dwSrcPos;
        }
    }
    qwIn = qwBits;
    nInBits = nBits;
    dwSrcPos = dwPos;

    // The last bytes and the end of the input: two places, refills that
    // check their bytes.
    while (pEnd - pOut >= 2) {
        if (nInBits < HUFF_TABLE_BITS)
            Refill();
        DWORD dwEntry = adwTable[qwIn >> (64 - HUFF_TABLE_BITS)];
        int nLen = (int)(dwEntry & 0xFF);
        qwIn <<= nLen;
        nInBits -= nLen;
        DWORD dwCount = dwEntry >> HUFF_ENTRY_COUNT_SHIFT & 3;
        if (dwCount != 0) {
            pOut[0] = (BYTE)(dwEntry >> HUFF_ENTRY_FIRST_BYTE_SHIFT);
            pOut[1] = (BYTE)(dwEntry >> HUFF_ENTRY_SECOND_BYTE_SHIFT);
            pOut += dwCount;
        } else {
            *pOut++ = WalkFrom((int)(dwEntry >> HUFF_ENTRY_FIRST_BYTE_SHIFT & 0xFFFF));
        }
    }
    if (pOut < pEnd)
        *pOut = WalkFrom(nRoot);
    return dwDestSize;
}
