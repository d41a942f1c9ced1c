#include "codec/cslide_reference.h"

#include <string.h>

// Root slot of the tree for leading byte c: anRight[SLIDE_ROOT + c].
#define SLIDE_ROOT (SLIDE_NIL + 1)

CSlideReference::CSlideReference()
{
    ResetState();
}

CSlideReference::~CSlideReference()
{
}

void CSlideReference::ResetState()
{
    // The zero ring is part of the format: leading zero bytes of an input
    // are coded as matches into it.
    memset(abRing, 0, sizeof(abRing));
    nMatchPos = 0;
    nMatchLen = 0;
    memset(anParent, 0, sizeof(anParent));
    memset(anLeft, 0, sizeof(anLeft));
    memset(anRight, 0, sizeof(anRight));
    lpSrcBuf = NULL;
    dwSrcSize = 0;
    dwSrcPos = 0;
    lpDestBuf = NULL;
    dwDestSize = 0;
    dwDestPos = 0;
}

int CSlideReference::FetchByte()
{
    if (dwSrcPos >= dwSrcSize)
        return -1;
    return lpSrcBuf[dwSrcPos++];
}

int CSlideReference::EmitByte(BYTE bData)
{
    if (dwDestPos >= dwDestSize)
        return 0;
    lpDestBuf[dwDestPos++] = bData;
    return 1;
}

void CSlideReference::ResetTrees()
{
    for (int c = 0; c < 256; c++)
        anRight[SLIDE_ROOT + c] = SLIDE_NIL;
    for (int p = 0; p < SLIDE_RING_SIZE; p++)
        anParent[p] = SLIDE_NIL;
}

// Inserts the string at ring position r into the tree of its first byte
// and leaves the longest earlier match in nMatchPos/nMatchLen. The longest
// match is always on the search path (it is r's neighbour in order), and
// ties keep the first one met. An earlier string equal in all 18 bytes is
// replaced by r, so equal strings are never in a tree twice; the reported
// match is then the older position.
void CSlideReference::InsertString(int r)
{
    const BYTE* pKey = &abRing[r];
    int p = SLIDE_ROOT + pKey[0];
    int nCmp = 1;

    anLeft[r] = anRight[r] = SLIDE_NIL;
    nMatchLen = 0;
    for (;;) {
        if (nCmp >= 0) {
            if (anRight[p] == SLIDE_NIL) {
                anRight[p] = r;
                anParent[r] = p;
                return;
            }
            p = anRight[p];
        } else {
            if (anLeft[p] == SLIDE_NIL) {
                anLeft[p] = r;
                anParent[r] = p;
                return;
            }
            p = anLeft[p];
        }
        // Byte 0 is equal within a tree; order by bytes 1..17.
        int i;
        for (i = 1; i < SLIDE_MAX_MATCH; i++) {
            nCmp = pKey[i] - abRing[p + i];
            if (nCmp != 0)
                break;
        }
        if (i > nMatchLen) {
            nMatchPos = p;
            nMatchLen = i;
            if (i >= SLIDE_MAX_MATCH)
                break;
        }
    }

    // Full match: r takes p's place.
    anParent[r] = anParent[p];
    anLeft[r] = anLeft[p];
    anRight[r] = anRight[p];
    anParent[anLeft[p]] = r;
    anParent[anRight[p]] = r;
    // A node under a root slot hangs off its right link, so the left link
    // of a root slot (beyond anLeft) is never touched.
    if (anRight[anParent[p]] == p)
        anRight[anParent[p]] = r;
    else
        anLeft[anParent[p]] = r;
    anParent[p] = SLIDE_NIL;
}

void CSlideReference::RemoveString(int p)
{
    if (anParent[p] == SLIDE_NIL)
        return;

    int q;
    if (anRight[p] == SLIDE_NIL) {
        q = anLeft[p];
    } else if (anLeft[p] == SLIDE_NIL) {
        q = anRight[p];
    } else {
        // Two children: p's in-order predecessor, the greatest node of the
        // left subtree, takes its place.
        q = anLeft[p];
        if (anRight[q] != SLIDE_NIL) {
            do {
                q = anRight[q];
            } while (anRight[q] != SLIDE_NIL);
            anRight[anParent[q]] = anLeft[q];
            anParent[anLeft[q]] = anParent[q];
            anLeft[q] = anLeft[p];
            anParent[anLeft[p]] = q;
        }
        anRight[q] = anRight[p];
        anParent[anRight[p]] = q;
    }
    anParent[q] = anParent[p];
    if (anRight[anParent[p]] == p)
        anRight[anParent[p]] = q;
    else
        anLeft[anParent[p]] = q;
    anParent[p] = SLIDE_NIL;
}

// The coder walks two ring positions: r, where the look-ahead starts, and
// s, the oldest byte, which the next input byte overwrites. s is always
// r + 18 modulo 4096, so the window holds the 4078 strings before r.
DWORD CSlideReference::Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;
    ResetTrees();

    // One group: flag byte, then up to 8 items of 1 or 2 bytes.
    BYTE abCode[1 + 8 * 2];
    int nCodePos = 1;
    BYTE bMask = 1;
    abCode[0] = 0;

    int s = 0;
    int r = SLIDE_START;
    int nLen = 0;
    int c;
    while (nLen < SLIDE_MAX_MATCH && (c = FetchByte()) >= 0)
        abRing[r + nLen++] = (BYTE)c;
    if (nLen == 0)
        return 0;
    // The 18 strings before r start in the zero area of the fresh ring, so
    // a run of zero bytes at the start of the input matches them.
    for (int i = 1; i <= SLIDE_MAX_MATCH; i++)
        InsertString(r - i);
    InsertString(r);

    do {
        if (nMatchLen > nLen)
            nMatchLen = nLen;
        if (nMatchLen < SLIDE_MIN_MATCH) {
            nMatchLen = 1;
            abCode[0] |= bMask;
            abCode[nCodePos++] = abRing[r];
        } else {
            abCode[nCodePos++] = (BYTE)nMatchPos;
            abCode[nCodePos++] = (BYTE)(((nMatchPos >> 4) & 0xF0) | (nMatchLen - SLIDE_MIN_MATCH));
        }
        bMask = (BYTE)(bMask << 1);
        if (bMask == 0) {
            for (int i = 0; i < nCodePos; i++)
                EmitByte(abCode[i]);
            abCode[0] = 0;
            nCodePos = 1;
            bMask = 1;
        }

        // Slide past the bytes just coded, reading as many new ones.
        int nLast = nMatchLen;
        int i;
        for (i = 0; i < nLast && (c = FetchByte()) >= 0; i++) {
            RemoveString(s);
            abRing[s] = (BYTE)c;
            if (s < SLIDE_MAX_MATCH - 1)
                abRing[SLIDE_RING_SIZE + s] = (BYTE)c;
            s = (s + 1) & SLIDE_RING_MASK;
            r = (r + 1) & SLIDE_RING_MASK;
            InsertString(r);
        }
        // At the end of the input the look-ahead shrinks instead; the stale
        // ring bytes past it only lengthen matches that are cut to nLen.
        for (; i < nLast; i++) {
            RemoveString(s);
            s = (s + 1) & SLIDE_RING_MASK;
            r = (r + 1) & SLIDE_RING_MASK;
            if (--nLen > 0)
                InsertString(r);
        }
    } while (nLen > 0);

    if (nCodePos > 1) {
        for (int i = 0; i < nCodePos; i++)
            EmitByte(abCode[i]);
    }
    return dwDestPos;
}

// Nothing in a stream is checked: every position names a defined ring
// byte, and the stream simply ends where its bytes end. Past dwDestSize
// the rest of the stream is still read, its output dropped.
DWORD CSlideReference::Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    ResetState();
    this->lpDestBuf = (BYTE*)lpDestBuf;
    this->dwDestSize = dwDestSize;
    this->lpSrcBuf = (const BYTE*)lpSrcBuf;
    this->dwSrcSize = dwSrcSize;

    int r = SLIDE_START;
    // Low byte: the flags still to use; high byte: a 1 bit for each, so
    // that bit 8 runs out exactly when the group's 8 flags are used up.
    unsigned int nFlags = 0;
    for (;;) {
        nFlags >>= 1;
        if ((nFlags & 0x100) == 0) {
            int c = FetchByte();
            if (c < 0)
                break;
            nFlags = (unsigned int)c | 0xFF00;
        }
        if (nFlags & 1) {
            int c = FetchByte();
            if (c < 0)
                break;
            EmitByte((BYTE)c);
            abRing[r] = (BYTE)c;
            r = (r + 1) & SLIDE_RING_MASK;
        } else {
            int a = FetchByte();
            if (a < 0)
                break;
            int b = FetchByte();
            if (b < 0)
                break;
            int nPos = a | ((b & 0xF0) << 4);
            int nLen = (b & 0x0F) + SLIDE_MIN_MATCH;
            for (int k = 0; k < nLen; k++) {
                BYTE bData = abRing[(nPos + k) & SLIDE_RING_MASK];
                EmitByte(bData);
                abRing[r] = bData;
                r = (r + 1) & SLIDE_RING_MASK;
            }
        }
    }
    return dwDestPos;
}
