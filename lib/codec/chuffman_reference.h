// CHuffmanReference: the straightforward Huffman coder, kept beside the
// fast CHuffman as its oracle. It writes and reads the same streams
// (format, sizes and promises in chuffman.h) one bit or byte at a time,
// exactly as the format was first written down. Built into the tests,
// the fuzzers and the benchmark only, never into the library.
#ifndef CODEC_CHUFFMAN_REFERENCE_H
#define CODEC_CHUFFMAN_REFERENCE_H

#include "codec/chuffman.h"

class CHuffmanReference : public CBase {
public:
    CHuffmanReference();
    virtual ~CHuffmanReference();

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
    // The next input byte, or 0xFFFF at the end of the input.
    WORD FetchByte();
    // Stores a byte unless the destination is full; 1 if stored, else 0.
    int EmitByte(BYTE bData);
    void WriteBit(int nBit);
    void WriteBits(int nCount, WORD wBits);
    int ReadBit();
    int ReadBits(int nCount);
    void SiftDown(int i);
    void StoreTree(int k);
    short LoadTree();

    const BYTE* lpSrcBuf;
    DWORD dwSrcSize;
    DWORD dwSrcPos;
    BYTE* lpDestBuf;
    DWORD dwDestSize;
    DWORD dwDestPos;
    short nInBits;
    short nOutFree;
    BYTE byBitBuf;
    short nHeapSize;
    // Node numbers ordered by weight, smallest on top, in entries 1..nHeapSize.
    short anHeap[HUFF_NODES];
    // +k: left child of node k; -k: right child of node k; 0: the root.
    short anParent[HUFF_NODES];
    short anLeft[HUFF_NODES];
    short anRight[HUFF_NODES];
    DWORD adwFreq[HUFF_NODES];
    short nNextNode;
    // One code's bits, leaf end first, while it is written. Kept in the
    // object: shared by all objects, it let two encoders on two threads
    // corrupt each other's codes.
    BYTE abCodeBits[256];
};

#endif
