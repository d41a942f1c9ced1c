// CZlib: zlib's whole-buffer deflate and inflate with the calling shape of
// the library's own codecs, so that archives can store members as zlib
// streams through one more object of the same kind.
//
// Stream format
//   Exactly what zlib's compress writes at its default level: RFC 1950
//   framing (first byte 0x78, a 32 KB window) around RFC 1951 deflate data,
//   ending with the Adler-32 of the data. It carries its own end.
//
// Sizes
//   Compress: sure to succeed only with dwDestSize at least zlib's
//   compressBound(dwSrcSize), which is a little over dwSrcSize (13 bytes
//   more for small inputs). Twice the input size is not enough for inputs
//   of a few bytes, and an empty input needs 8 bytes.
//   Decompress: the caller passes the unpacked size as dwDestSize.
//
// Results and failure
//   A successful call returns the size written: the compressed size, or
//   the unpacked size. A failed call (too little room, a damaged or cut
//   stream, no memory) returns dwDestSize itself, the capacity passed in:
//   zlib's status is not passed on, and a caller cannot tell that from a
//   result that exactly fills the destination. After a failure the
//   destination's contents are undefined, but nothing is written past
//   dwDestSize and nothing is read past dwSrcSize, whatever the bytes.
//   DecompressChecked decodes the same way for callers that must tell a
//   damaged stream from a full buffer: any failure returns 0. A good
//   stream of no data returns 0 as well, so for an empty result damage
//   cannot be told.
//
// No state is kept between calls; each call's working memory is zlib's,
// allocated and released inside the call. Separate objects may be used on
// separate threads.
#ifndef CODEC_CZLIB_H
#define CODEC_CZLIB_H

#include "file/cbase.h"
#include "platform/wintypes.h"

class CZlib : public CBase {
public:
    CZlib();
    virtual ~CZlib();

    DWORD Compress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);
    DWORD Decompress(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);
    // Decompress, but a failure returns 0 instead of the capacity.
    DWORD DecompressChecked(void* lpDestBuf, DWORD dwDestSize, const void* lpSrcBuf, DWORD dwSrcSize);
};

#endif
