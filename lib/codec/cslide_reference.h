// CSlideReference: the straightforward sliding-window coder, kept beside the
// fast CSlide as its oracle. It writes and reads the same streams
// (format, sizes and promises in cslide.h) one bit or byte at a time,
// exactly as the format was first written down. Built into the tests,
// the fuzzers and the benchmark only, never into the library.
#ifndef CODEC_CSLIDE_REFERENCE_H
#define CODEC_CSLIDE_REFERENCE_H

#include "codec/cslide.h"

class CSlideReference : public CBase {
public:
    CSlideReference();
    virtual ~CSlideReference();

    // Encodes dwSrcSize bytes at lpSrcBuf into lpDestBuf and returns the
    // number of bytes written (0 for an empty input). Bytes that do not fit
    // in dwDestSize are dropped, so a result equal to dwDestSize means the
    // stream may have been cut.
    DWORD Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);
    // Decodes the whole stream of dwSrcSize bytes, keeping at most
    // dwDestSize output bytes; returns the number kept. With dwDestSize at
    // or above the unpacked size the result is the unpacked size; below it,
    // the result is dwDestSize and the buffer holds the first bytes.
    DWORD Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);

private:
    void ResetState();
    // The next input byte (0..255), or -1 at the end of the input.
    int FetchByte();
    // Stores a byte unless the destination is full; 1 if stored, else 0.
    int EmitByte(BYTE bData);
    void ResetTrees();
    void InsertString(int r);
    void RemoveString(int p);

    // The ring; bytes 4096..4112 mirror bytes 0..16 so that an 18-byte
    // string starting anywhere can be compared without wrapping.
    BYTE abRing[SLIDE_RING_SIZE + SLIDE_MAX_MATCH - 1];
    int nMatchPos;
    int nMatchLen;
    // Search trees, one per leading byte, over the ring positions that hold
    // live strings. Slot 4096 of each array is the empty link and absorbs
    // writes made through it; anRight[4097 + c] is the root for byte c.
    int anParent[SLIDE_RING_SIZE + 1];
    int anLeft[SLIDE_RING_SIZE + 1];
    int anRight[SLIDE_RING_SIZE + 1 + 256];
    const BYTE* lpSrcBuf;
    DWORD dwSrcSize;
    DWORD dwSrcPos;
    BYTE* lpDestBuf;
    DWORD dwDestSize;
    DWORD dwDestPos;
};

#endif
