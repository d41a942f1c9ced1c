#include "codec/cslide.h"

#include <string.h>

#include <algorithm>

// Root slot of the tree for leading byte c: anLink[SLIDE_ROOT + c][1].
#define SLIDE_ROOT (SLIDE_NIL + 1)

CSlide::CSlide()
{
    ResetState();
}

CSlide::~CSlide()
{
}

void CSlide::ResetState()
{
    // The zero ring is part of the format: leading zero bytes of an input
    // are coded as matches into it.
    memset(abRing, 0, sizeof(abRing));
    nMatchPos = 0;
    nMatchLen = 0;
    memset(anParent, 0, sizeof(anParent));
    memset(anLink, 0, sizeof(anLink));
    lpSrcBuf = NULL;
    dwSrcSize = 0;
    dwSrcPos = 0;
    lpDestBuf = NULL;
    dwDestSize = 0;
    dwDestPos = 0;
}

int CSlide::FetchByte()
{
    if (dwSrcPos >= dwSrcSize)
        return -1;
    return lpSrcBuf[dwSrcPos++];
}

int CSlide::EmitByte(BYTE bData)
{
    if (dwDestPos >= dwDestSize)
        return 0;
    lpDestBuf[dwDestPos++] = bData;
    return 1;
}

void CSlide::ResetTrees()
{
    for (int c = 0; c < 256; c++)
        anLink[SLIDE_ROOT + c][1] = SLIDE_NIL;
    for (int p = 0; p < SLIDE_RING_SIZE; p++)
        anParent[p] = SLIDE_NIL;
}

namespace {

// Big-endian load through bytes: no alignment or aliasing assumptions;
// compilers make it one load and a byte swap. Compared as numbers, two such
// words order their 8 bytes as a byte-by-byte comparison would.
inline QWORD LoadBigEndian64(const BYTE* p)
{
    return (QWORD)p[0] << 56 | (QWORD)p[1] << 48 | (QWORD)p[2] << 40 | (QWORD)p[3] << 32 |
           (QWORD)p[4] << 24 | (QWORD)p[5] << 16 | (QWORD)p[6] << 8 | (QWORD)p[7];
}

// How many leading bytes two big-endian words share (qwDiff, their
// exclusive or, is not 0).
inline int SameLeadingBytes(QWORD qwDiff)
{
#if defined(__GNUC__)
    return __builtin_clzll(qwDiff) >> 3;
#else
    int i = 0;
    while ((qwDiff >> 56) == 0) {
        qwDiff <<= 8;
        i++;
    }
    return i;
#endif
}

} // namespace

// Inserts the string at ring position r into the tree of its first byte
// and leaves the longest earlier match in nMatchPos/nMatchLen. The longest
// match is always on the search path (it is r's neighbour in order), and
// ties keep the first one met. An earlier string equal in all 18 bytes is
// replaced by r, so equal strings are never in a tree twice; the reported
// match is then the older position.
//
// Bytes 1..16 are compared 8 at a time as big-endian numbers (the mirror
// bytes keep both loads inside the ring array), byte 17 on its own: the
// same order and the same match length as a byte-by-byte comparison, with
// a much shorter chain of dependent steps from one node to the next. Both
// children of a node are loaded with its bytes, before the comparison
// picks one, so that a step waits for one load, not two.
void CSlide::InsertString(int r)
{
    const BYTE* pKey = &abRing[r];
    const QWORD qwKeyLow = LoadBigEndian64(pKey + 1), qwKeyHigh = LoadBigEndian64(pKey + 9);
    // q is the node to visit, p its parent and nDir the side q hangs on;
    // as size_t they index without a widening step in the chain.
    size_t p = SLIDE_ROOT + pKey[0];
    size_t nDir = 1;
    size_t q = anLink[p][1];
    // The match found so far, in locals until the walk ends.
    size_t nPos = nMatchPos;
    int nLen = 0;
    while (q != SLIDE_NIL) {
        size_t nLeft = anLink[q][0], nRight = anLink[q][1];
        // Byte 0 is equal within a tree; order by bytes 1..17.
        const BYTE* pNode = &abRing[q];
        int i;
        size_t nNext, nNextDir;
        QWORD qwNode = LoadBigEndian64(pNode + 1);
        if (qwNode != qwKeyLow) {
            i = 1 + SameLeadingBytes(qwKeyLow ^ qwNode);
            nNextDir = qwKeyLow > qwNode;
            nNext = qwKeyLow > qwNode ? nRight : nLeft;
        } else {
            qwNode = LoadBigEndian64(pNode + 9);
            if (qwNode != qwKeyHigh) {
                i = 9 + SameLeadingBytes(qwKeyHigh ^ qwNode);
                nNextDir = qwKeyHigh > qwNode;
                nNext = qwKeyHigh > qwNode ? nRight : nLeft;
            } else if (pKey[17] != pNode[17]) {
                i = 17;
                nNextDir = pKey[17] > pNode[17];
                nNext = nNextDir ? nRight : nLeft;
            } else {
                // Equal in all 18 bytes: r takes q's place, and q is the
                // match.
                ReplaceNode(q, r);
                return;
            }
        }
        // Selects rather than branches: whether a node lengthens the match
        // is as unpredictable as the direction.
        bool bLonger = i > nLen;
        nPos = bLonger ? q : nPos;
        nLen = bLonger ? i : nLen;
        p = q;
        nDir = nNextDir;
        q = nNext;
    }
    anLink[r][0] = anLink[r][1] = SLIDE_NIL;
    anLink[p][nDir] = r;
    anParent[r] = p;
    nMatchPos = nPos;
    nMatchLen = nLen;
}

// r, whose 18 bytes equal those of q, takes q's place in its tree and
// reports q as a full-length match.
void CSlide::ReplaceNode(int q, int r)
{
    int p = anParent[q];
    int nLeft = anLink[q][0], nRight = anLink[q][1];
    anLink[r][0] = nLeft;
    anLink[r][1] = nRight;
    anParent[r] = p;
    anParent[nLeft] = r;
    anParent[nRight] = r;
    // A node under a root slot hangs off its right link, so the left link
    // of a root slot is never touched.
    anLink[p][anLink[p][1] == q] = r;
    anParent[q] = SLIDE_NIL;
    nMatchPos = q;
    nMatchLen = SLIDE_MAX_MATCH;
}

// Which of a node's cases applies and which side of its parent it hangs on
// are as unpredictable as the data, so both are selected, not branched on,
// where the work allows.
void CSlide::RemoveString(int p)
{
    int nParent = anParent[p];
    if (nParent == SLIDE_NIL)
        return;

    int nLeft = anLink[p][0], nRight = anLink[p][1];
    int q;
    if (nLeft != SLIDE_NIL && nRight != SLIDE_NIL) {
        // Two children: p's in-order predecessor, the greatest node of the
        // left subtree, takes its place.
        q = nLeft;
        if (anLink[q][1] != SLIDE_NIL) {
            do {
                q = anLink[q][1];
            } while (anLink[q][1] != SLIDE_NIL);
            anLink[anParent[q]][1] = anLink[q][0];
            anParent[anLink[q][0]] = anParent[q];
            anLink[q][0] = nLeft;
            anParent[nLeft] = q;
        }
        anLink[q][1] = nRight;
        anParent[nRight] = q;
    } else {
        // The only child, or none.
        q = nRight == SLIDE_NIL ? nLeft : nRight;
    }
    anParent[q] = nParent;
    // A node under a root slot hangs off its right link.
    anLink[nParent][anLink[nParent][1] == p] = q;
    anParent[p] = SLIDE_NIL;
}

// The coder walks two ring positions: r, where the look-ahead starts, and
// s, the oldest byte, which the next input byte overwrites. s is always
// r + 18 modulo 4096, so the window holds the 4078 strings before r.
DWORD CSlide::Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
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

    // How many of the bytes read below end in the same value, nRunByte:
    // when more than 18, the string at r is that of r - 1.
    int nRun = 0, nRunByte = -1;
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
        // Inside a run of one byte each string equals the one before, which
        // was inserted last: r would only take its place. A run's node keeps
        // its place in the tree while those replacements are put off (tree
        // changes never depend on which position a node stands for), and
        // the last position of the run takes it over at once.
        int nRunNode = SLIDE_NIL;
        for (i = 0; i < nLast && (c = FetchByte()) >= 0; i++) {
            RemoveString(s);
            abRing[s] = (BYTE)c;
            if (s < SLIDE_MAX_MATCH - 1)
                abRing[SLIDE_RING_SIZE + s] = (BYTE)c;
            s = (s + 1) & SLIDE_RING_MASK;
            r = (r + 1) & SLIDE_RING_MASK;
            nRun = (c == nRunByte) * nRun + 1; // not a branch: text changes often
            nRunByte = c;
            if (nRun > SLIDE_MAX_MATCH) {
                if (nRunNode == SLIDE_NIL)
                    nRunNode = (r - 1) & SLIDE_RING_MASK;
                continue;
            }
            if (nRunNode != SLIDE_NIL) {
                ReplaceNode(nRunNode, (r - 1) & SLIDE_RING_MASK);
                nRunNode = SLIDE_NIL;
            }
            InsertString(r);
        }
        if (nRunNode != SLIDE_NIL) {
            ReplaceNode(nRunNode, r);
            nMatchPos = (r - 1) & SLIDE_RING_MASK;
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

namespace {

// A match's distance back from the write position: the ring position it
// names, seen from output byte nOut's ring position. 4096 for the position
// being written, which holds the byte written 4096 bytes ago.
inline size_t MatchDistance(size_t nOut, unsigned a, unsigned b)
{
    size_t nPos = a | (b & 0xF0) << 4;
    return ((SLIDE_START + nOut - nPos - 1) & SLIDE_RING_MASK) + 1;
}

// One byte at a time, as the ring does: the copy may read the bytes it
// makes, and a byte from before the output's start is the fresh ring's 0.
inline void CopyMatchBytes(BYTE* pDest, size_t nOut, size_t nDist, size_t nLen)
{
    for (size_t k = 0; k < nLen; k++, nOut++)
        pDest[nOut] = nOut >= nDist ? pDest[nOut - nDist] : 0;
}

// The fast loop takes a whole group at once: its flag byte and up to 16
// item bytes, plus 32 more that are sure to follow. Those make at least 27
// more output bytes (at most 4 flag bytes and one cut item among them), so
// the up to 23 bytes an item copies past its end are always overwritten
// later, never left past the result; and the 24 bytes a literal copies
// from the stream are all inside it.
#define SLIDE_FAST_INPUT (1 + 16 + 32)
// 8 items of up to 18 bytes, each copied in 24.
#define SLIDE_FAST_OUTPUT (7 * 18 + 24)

} // namespace

// The output itself is the history: a match is a distance back into it, and
// only the first 4096 + 18 output bytes can reach the fresh ring's zeros.
// Nothing in a stream is checked: every position names a defined byte, and
// the stream simply ends where its bytes end. Past dwDestSize the rest of
// the stream could only be dropped, so decoding stops there.
DWORD CSlide::Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize)
{
    BYTE* pDest = (BYTE*)lpDestBuf;
    const BYTE* pSrc = (const BYTE*)lpSrcBuf;
    size_t nIn = 0, nOut = 0;

    while (dwSrcSize - nIn >= SLIDE_FAST_INPUT && dwDestSize - nOut >= SLIDE_FAST_OUTPUT) {
        if (pSrc[nIn] == 0xFF) {
            // Groups of eight literals, which incompressible data is made
            // of: as many as both margins allow, four at a time while four
            // follow, with no other check.
            size_t nGroups = std::min((dwSrcSize - nIn - SLIDE_FAST_INPUT) / 9 + 1,
                (dwDestSize - nOut - SLIDE_FAST_OUTPUT) / 8 + 1);
            while (nGroups >= 4 &&
                   (pSrc[nIn] & pSrc[nIn + 9] & pSrc[nIn + 18] & pSrc[nIn + 27]) == 0xFF) {
                memcpy(pDest + nOut, pSrc + nIn + 1, 8);
                memcpy(pDest + nOut + 8, pSrc + nIn + 10, 8);
                memcpy(pDest + nOut + 16, pSrc + nIn + 19, 8);
                memcpy(pDest + nOut + 24, pSrc + nIn + 28, 8);
                nIn += 36;
                nOut += 32;
                nGroups -= 4;
            }
            while (nGroups != 0 && pSrc[nIn] == 0xFF) {
                memcpy(pDest + nOut, pSrc + nIn + 1, 8);
                nIn += 9;
                nOut += 8;
                nGroups--;
            }
            continue;
        }
        // Literals and matches alike copy 24 bytes and advance by their
        // own length: a literal from the stream, a match from the output.
        // No branch depends on the item's kind, which mixed data makes
        // unpredictable. Short distances and the fresh ring's zeros take
        // the byte-wise path.
        unsigned nFlagByte = pSrc[nIn++];
        for (int k = 0; k < 8; k++, nFlagByte >>= 1) {
            // All ones for a literal; selecting with it keeps compilers
            // from turning the kind back into a branch.
            size_t nLiteral = nFlagByte & 1, nMask = 0 - nLiteral;
            unsigned a = pSrc[nIn], b = pSrc[nIn + 1];
            size_t nMatchLen = (b & 0x0F) + SLIDE_MIN_MATCH;
            size_t nLen = nMatchLen - ((nMatchLen - 1) & nMask);
            size_t nDist = MatchDistance(nOut, a, b);
            BYTE* pTo = pDest + nOut;
            if (((nDist < 8) | (nDist > nOut)) & ~nLiteral) {
                if (nDist == 1 && nOut > 0) {
                    // A run of one byte, in 24 like any other item.
                    QWORD qwRun = pTo[-1] * 0x0101010101010101ull;
                    memcpy(pTo, &qwRun, 8);
                    memcpy(pTo + 8, &qwRun, 8);
                    memcpy(pTo + 16, &qwRun, 8);
                } else {
                    CopyMatchBytes(pDest, nOut, nDist, nLen);
                }
            } else {
                uintptr_t nMatchFrom = (uintptr_t)pTo - nDist, nLiteralFrom = (uintptr_t)(pSrc + nIn);
                const BYTE* pFrom = (const BYTE*)(nMatchFrom ^ ((nMatchFrom ^ nLiteralFrom) & nMask));
                memcpy(pTo, pFrom, 8);
                memcpy(pTo + 8, pFrom + 8, 8);
                memcpy(pTo + 16, pFrom + 16, 8);
            }
            nIn += 2 - nLiteral;
            nOut += nLen;
        }
    }

    // The rest exactly as the ring decoder reads it, item by item. Low
    // byte: the flags still to use; high byte: a 1 bit for each.
    unsigned int nFlags = 0;
    while (nOut < dwDestSize) {
        nFlags >>= 1;
        if ((nFlags & 0x100) == 0) {
            if (nIn >= dwSrcSize)
                break;
            nFlags = pSrc[nIn++] | 0xFF00u;
        }
        if (nFlags & 1) {
            if (nIn >= dwSrcSize)
                break;
            pDest[nOut++] = pSrc[nIn++];
            continue;
        }
        if (dwSrcSize - nIn < 2)
            break;
        unsigned a = pSrc[nIn], b = pSrc[nIn + 1];
        nIn += 2;
        size_t nLen = (b & 0x0F) + SLIDE_MIN_MATCH;
        if (nLen > dwDestSize - nOut)
            nLen = dwDestSize - nOut;
        CopyMatchBytes(pDest, nOut, MatchDistance(nOut, a, b), nLen);
        nOut += nLen;
    }
    return (DWORD)nOut;
}
