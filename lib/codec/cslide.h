// CSlide: the library's sliding-window dictionary coder for whole memory
// buffers (4096-byte window, matches of 3 to 18 bytes). Its stream is the
// stored format of sliding-window pack members, so the layout below must
// not change.
//
// Stream format
//   A sequence of groups. A group is one flag byte followed by up to 8
//   items; bit k of the flag byte (least significant first) describes item
//   k: 1 = literal, 0 = match.
//     literal: the byte itself.
//     match:   two bytes A, B. Source = A | ((B & 0xF0) << 4), an absolute
//              ring position 0..4095 (not a distance back); length =
//              (B & 0x0F) + 3, so 3..18.
//   Only the last group may hold fewer than 8 items; its unused flag bits
//   are 0. No header, no length and no end marker: the stream ends where
//   its bytes end.
//   Both sides keep a 4096-byte ring that starts all zero (zero bytes, not
//   spaces) with the write position at 4078; every output byte, literal or
//   copied, is stored at the write position, which then advances modulo
//   4096. Matches are copied a byte at a time, so a match may overlap the
//   bytes it produces.
//
// Sizes
//   Compress: the output never exceeds dwSrcSize + ceil(dwSrcSize / 8)
//   bytes (a flag byte per 8 items, an item never longer than the input it
//   stands for); dwSrcSize + dwSrcSize / 8 + 1 is a safe capacity. Inputs
//   with no zero byte and no repeated 3-byte sequence reach the bound.
//   Decompress: the stream carries no length, so the caller passes the
//   unpacked size as dwDestSize.
//
// Safety
//   Neither call ever writes past dwDestSize or reads past dwSrcSize,
//   whatever the bytes. Every stream decodes: every 12-bit position is
//   valid, and a stream cut inside a group or a match stops there with
//   what was produced so far. A buffer may be null when its size is 0.
//
// One object serves any number of calls in sequence; it must not be used
// by two threads at once. Separate objects are independent. All working
// memory is inside the object (about 30 KB), so a call allocates nothing.
//
// Speed: the encoder keeps the search trees exactly (the tree decides which
// of equally long matches is sent) and compares 8 bytes at a time in the
// walk; its speed is that of a chain of dependent loads, one per node. Runs
// of one byte skip the walk. The decoder writes straight into the
// destination, which is the history, copies every item in 8-byte pieces
// with no branch on its kind, and whole groups of literals at once. The
// straightforward coder, CSlideReference, is the tests' oracle.
#ifndef CODEC_CSLIDE_H
#define CODEC_CSLIDE_H

#include "file/cbase.h"
#include "platform/wintypes.h"

#define SLIDE_RING_SIZE 4096
#define SLIDE_RING_MASK (SLIDE_RING_SIZE - 1)
// The longest match, also the look-ahead and the length of the strings
// the search trees are ordered by.
#define SLIDE_MAX_MATCH 18
// Matches shorter than this are sent as literals.
#define SLIDE_MIN_MATCH 3
// Ring position of the first input byte, in both directions.
#define SLIDE_START (SLIDE_RING_SIZE - SLIDE_MAX_MATCH)
// The empty link of the search trees.
#define SLIDE_NIL SLIDE_RING_SIZE

class CSlide : public CBase {
public:
    CSlide();
    virtual ~CSlide();

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
    void ReplaceNode(int q, int r);
    void RemoveString(int p);

    // The ring; bytes 4096..4112 mirror bytes 0..16 so that an 18-byte
    // string starting anywhere can be compared without wrapping.
    BYTE abRing[SLIDE_RING_SIZE + SLIDE_MAX_MATCH - 1];
    int nMatchPos;
    int nMatchLen;
    // Search trees, one per leading byte, over the ring positions that hold
    // live strings. Slot 4096 of each array is the empty link and absorbs
    // writes made through it; the right link of slot 4097 + c is the root
    // for byte c. anLink[p][0] is p's left child, anLink[p][1] its right,
    // so that the walk picks one by index. 16-bit links keep the working
    // set (about 30 KB with the ring) inside a first-level cache.
    WORD anParent[SLIDE_RING_SIZE + 1];
    WORD anLink[SLIDE_RING_SIZE + 1 + 256][2];
    const BYTE* lpSrcBuf;
    DWORD dwSrcSize;
    DWORD dwSrcPos;
    BYTE* lpDestBuf;
    DWORD dwDestSize;
    DWORD dwDestPos;
};

#endif
