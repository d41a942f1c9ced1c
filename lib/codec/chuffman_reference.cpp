#include "codec/chuffman_reference.h"

#include <string.h>

// FetchByte's end of input; as a byte it reads 0xFF, so a reader that runs
// past the end sees 1 bits.
#define HUFF_END 0xFFFF
// LoadTree's result for an internal node beyond the last number.
#define HUFF_EXCESS_NODE (-1)

CHuffmanReference::CHuffmanReference()
{
    ResetState();
}

CHuffmanReference::~CHuffmanReference()
{
}

void CHuffmanReference::ResetState()
{
    lpSrcBuf = NULL;
    dwSrcSize = 0;
    dwSrcPos = 0;
    lpDestBuf = NULL;
    dwDestSize = 0;
    dwDestPos = 0;
    nInBits = 0;
    nOutFree = 8;
    byBitBuf = 0;
    nHeapSize = 0;
    memset(anHeap, 0, sizeof(anHeap));
    memset(anParent, 0, sizeof(anParent));
    memset(anLeft, 0, sizeof(anLeft));
    memset(anRight, 0, sizeof(anRight));
    memset(adwFreq, 0, sizeof(adwFreq));
    nNextNode = HUFF_FIRST_INTERNAL;
    memset(abCodeBits, 0, sizeof(abCodeBits));
}

WORD CHuffmanReference::FetchByte()
{
    if (dwSrcPos >= dwSrcSize)
        return HUFF_END;
    return lpSrcBuf[dwSrcPos++];
}

int CHuffmanReference::EmitByte(BYTE bData)
{
    if (dwDestPos >= dwDestSize)
        return 0;
    lpDestBuf[dwDestPos++] = bData;
    return 1;
}

void CHuffmanReference::WriteBit(int nBit)
{
    nOutFree--;
    if (nBit)
        byBitBuf |= (BYTE)(1 << nOutFree);
    if (nOutFree == 0) {
        EmitByte(byBitBuf);
        byBitBuf = 0;
        nOutFree = 8;
    }
}

void CHuffmanReference::WriteBits(int nCount, WORD wBits)
{
    while (nCount > 0) {
        nCount--;
        WriteBit((wBits >> nCount) & 1);
    }
}

int CHuffmanReference::ReadBit()
{
    nInBits--;
    if (nInBits < 0) {
        nInBits = 7;
        byBitBuf = (BYTE)FetchByte();
    }
    return (byBitBuf >> nInBits) & 1;
}

int CHuffmanReference::ReadBits(int nCount)
{
    int nValue = 0;
    while (nCount-- > 0)
        nValue = (nValue << 1) | ReadBit();
    return nValue;
}

// Equal weights take the left child, and a parent that is no heavier than
// the lighter child stays: the tie rules the stored format depends on.
void CHuffmanReference::SiftDown(int i)
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

void CHuffmanReference::StoreTree(int k)
{
    if (k < HUFF_FIRST_INTERNAL) {
        WriteBit(0);
        WriteBits(8, (WORD)k);
        return;
    }
    WriteBit(1);
    StoreTree(anLeft[k]);
    StoreTree(anRight[k]);
}

// Node numbers stop at 510, so at most 255 internal nodes are built and
// the recursion stays within 256 levels whatever the bits. A node past the
// last number is not built and its subtrees are not read: it stands as a
// leaf that decodes to 0xFF.
short CHuffmanReference::LoadTree()
{
    if (ReadBit() == 0)
        return (short)ReadBits(8);
    short i = nNextNode++;
    if (i >= HUFF_NODES)
        return HUFF_EXCESS_NODE;
    anLeft[i] = LoadTree();
    anRight[i] = LoadTree();
    return i;
}

DWORD CHuffmanReference::Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;

    WORD c;
    while ((c = FetchByte()) != HUFF_END)
        adwFreq[c]++;

    // An empty input leaves the heap empty and its first entry 0: the tree
    // is then the single leaf for byte 0.
    anHeap[1] = 0;
    nHeapSize = 0;
    for (int v = 0; v < 256; v++) {
        if (adwFreq[v] != 0)
            anHeap[++nHeapSize] = (short)v;
    }
    for (int i = nHeapSize / 2; i >= 1; i--)
        SiftDown(i);

    memset(anParent, 0, sizeof(anParent));
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

    dwSrcPos = 0;
    while ((c = FetchByte()) != HUFF_END) {
        // The parent links give the code leaf end first; write it reversed.
        int nBits = 0;
        for (int j = c; anParent[j] != 0;) {
            abCodeBits[nBits++] = anParent[j] < 0;
            j = anParent[j] < 0 ? -anParent[j] : anParent[j];
        }
        while (nBits > 0)
            WriteBit(abCodeBits[--nBits]);
    }
    // Completes a partly filled last byte with 0 bits; on an empty buffer it
    // writes nothing (the leftover bits are never flushed).
    WriteBits(7, 0);
    return dwDestPos;
}

DWORD CHuffmanReference::Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;

    // A tree always ends, and every internal node built has both links
    // set, so each walk below ends at a leaf or an excess node (-1, which
    // is written as 0xFF).
    short nRoot = LoadTree();
    for (DWORD n = 0; n < dwDestSize; n++) {
        int k = nRoot;
        while (k >= HUFF_FIRST_INTERNAL)
            k = ReadBit() ? anRight[k] : anLeft[k];
        EmitByte((BYTE)k);
    }
    return dwDestPos;
}
