// CHuffman: the library's static Huffman coder for whole memory buffers.
// One pass counts the byte values, a binary heap builds the code tree, the
// tree heads the stream and every input byte follows as its code. The
// stream is the stored format of Huffman pack members and of every archive
// directory, so the layout below must not change.
//
// Stream format (bits packed into bytes most significant bit first)
//   1. The code tree in preorder: an internal node is a 1 bit followed by
//      its left subtree and then its right subtree; a leaf is a 0 bit
//      followed by its byte value in 8 bits.
//   2. The code of every input byte, in input order: the path from the
//      root to its leaf, 0 for left and 1 for right, root end first.
//   3. 0 bits up to the next byte boundary (none if already on one).
//   No header, length or end marker. A tree of a single leaf gives empty
//   codes, so the stream is the tree alone whatever the input length; an
//   empty input is written as the single leaf for byte 0 (00 00).
//   Node numbers: 0..255 are the leaves, 256..510 the internal nodes. Ties
//   between equal weights are broken by the heap's fixed rules, so the
//   tree, and thus the stream, is fully determined by the input.
//
// Sizes
//   Compress: the stream never exceeds dwSrcSize + 320 bytes: the tree
//   takes at most 2559 bits (255 internal nodes, 256 leaves of 9 bits) and
//   the codes of n bytes at most 8n bits (a Huffman code is never longer in
//   total than the plain 8-bit code). 256 distinct bytes, each once, reach
//   it with 576 bytes, so twice the input size is not always enough.
//   Decompress: the stream carries no length; the caller passes the exact
//   unpacked size as dwDestSize and exactly that many bytes are produced.
//
// Safety
//   Neither call ever writes past dwDestSize or reads past dwSrcSize,
//   whatever the bytes. Every stream decodes to exactly dwDestSize bytes:
//   a reader that runs past the end of the stream sees 1 bits, and a tree
//   with more than 255 internal nodes has each excess node read as a leaf
//   for byte 0xFF (its subtrees are not read). A buffer may be null when
//   its size is 0.
//
// One object serves any number of calls in sequence; it must not be used
// by two threads at once. Separate objects are independent, also on
// different threads. All working memory is inside the object (about 23 KB),
// so a call allocates nothing; trees are written and read recursively, at
// most 256 levels deep.
//
// Speed: the encoder writes each byte's code from a code table through a
// 64-bit accumulator; the decoder looks up HUFF_TABLE_BITS bits at a time
// in a table built from the stream's tree (one or two bytes per lookup),
// and walks the tree bit by bit only for codes longer than that. The
// straightforward coder, CHuffmanReference, is the tests' oracle.
#ifndef CODEC_CHUFFMAN_H
#define CODEC_CHUFFMAN_H

#include "file/cbase.h"
#include "platform/wintypes.h"

// Node numbers: leaves 0..255, internal nodes from 256 up to 510.
#define HUFF_NODES 511
#define HUFF_FIRST_INTERNAL 256
// Bits the decoder looks up at once: 4096 entries, within the L1 cache.
#define HUFF_TABLE_BITS 12
// Longer codes are written bit by bit. They take weights in a ratio of
// about 1 to fib(26), so they never matter for speed.
#define HUFF_TABLE_CODE_BITS 24

class CHuffman : public CBase {
public:
    CHuffman();
    virtual ~CHuffman();

    // Encodes dwSrcSize bytes at lpSrcBuf into lpDestBuf and returns the
    // number of bytes written. Bytes that do not fit in dwDestSize are
    // dropped, so a result equal to dwDestSize means the stream may have
    // been cut.
    DWORD Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);
    // Decodes exactly dwDestSize bytes from the stream of dwSrcSize bytes
    // and returns dwDestSize.
    DWORD Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);

private:
    void ResetState();
    // Writer: appends the low nCount bits of qwBits (nCount up to 32),
    // most significant first.
    void PutBits(QWORD qwBits, int nCount);
    void FlushBits();
    void SiftDown(int i);
    void StoreTree(int k);
    // Reader: tops the bit buffer up to at least 57 bits, with 1 bits past
    // the end of the input.
    void Refill();
    int TakeBits(int nCount);
    short LoadTree();
    void FillTable(int k, int nDepth, DWORD dwCode);
    // Walks the tree bit by bit from node k to a leaf; its byte value.
    BYTE WalkFrom(int k);

    const BYTE* lpSrcBuf;
    DWORD dwSrcSize;
    DWORD dwSrcPos;
    BYTE* lpDestBuf;
    DWORD dwDestSize;
    DWORD dwDestPos;
    // Writer: nOutBits pending bits at the low end of qwOut.
    QWORD qwOut;
    int nOutBits;
    // Reader: nInBits unread bits at the top of qwIn; the bits below them
    // are 0 or the stream's next bits, so a refill can OR over them.
    QWORD qwIn;
    int nInBits;
    short nHeapSize;
    // Node numbers ordered by weight, smallest on top, in entries 1..nHeapSize.
    short anHeap[HUFF_NODES];
    // +k: left child of node k; -k: right child of node k; 0: the root.
    short anParent[HUFF_NODES];
    short anLeft[HUFF_NODES];
    short anRight[HUFF_NODES];
    DWORD adwFreq[HUFF_NODES];
    short nNextNode;
    // Encoder: each byte's code, right-aligned, and its length in bits.
    DWORD adwCode[256];
    BYTE abCodeLen[256];
    // Decoder: entry for the next HUFF_TABLE_BITS bits of the stream. Bits
    // 0-7: the bits it takes (low, so that the shift needs no extraction on
    // the loop's critical path), 8-15 and 16-23: the first and second byte
    // decoded, 24-25: how many bytes (1 or 2; 0 means a longer code, with
    // bits 8-23 the node reached after HUFF_TABLE_BITS bits), 26-29: the
    // length of the first byte's code, used while pairs are formed.
    DWORD adwTable[1 << HUFF_TABLE_BITS];
};

#endif
