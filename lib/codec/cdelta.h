// CDelta: the updater's binary delta between two versions of a file.
// Make compares a new file with the base it replaces and writes a delta
// that is usually far smaller than the new file; Apply rebuilds the new
// file from the base and the delta, streaming the result.
//
// The stream format is documented in docs/delta-format.md; it is stored in
// patches players download, so it must not change once shipped (a new
// version number instead).
//
// Results: 1 on success, 0 on failure. Apply fails on a damaged or cut
// delta, a base of another size than the delta names, a result that would
// grow past the size the delta names, or a sink that refuses bytes; it
// never reads or writes out of bounds, whatever the bytes.
//
// Memory: Apply holds the base (the caller's buffer) and at most a fixed
// working set (well under 64 MiB) whatever the result's size; it reads the
// delta in order and writes the result in order, in pieces.
#ifndef CODEC_CDELTA_H
#define CODEC_CDELTA_H

#include "file/cbase.h"
#include "platform/wintypes.h"

#include <stddef.h>
#include <stdint.h>
#include <vector>

// The fixed start of every delta: magic, version, base and result sizes.
#define DELTA_HEADER_SIZE 24
// The streams of a chunk.
#define DELTA_STREAM_COUNT 7

// Pulls the delta's next bytes: fills up to nSize bytes, sets *pnRead
// (0 at the end); returns 0 on a read error.
typedef int (*DeltaReadProc)(void* pParam, void* pBuf, size_t nSize, size_t* pnRead);
// Takes the result's next bytes; returns 0 to stop (a write error, Cancel).
typedef int (*DeltaWriteProc)(void* pParam, const void* pBuf, size_t nSize);

struct DeltaHeader {
    uint64_t qwBaseSize;
    uint64_t qwResultSize;
};

class CDelta : public CBase {
public:
    CDelta();
    virtual ~CDelta();

    // Writes into *pDelta the delta that turns pBase into pNew.
    int Make(const BYTE* pBase, size_t nBase, const BYTE* pNew, size_t nNew, std::vector<BYTE>* pDelta);

    // Reads the sizes a delta names from its first bytes (DELTA_HEADER_SIZE).
    static int ReadHeader(const void* pBuf, size_t nSize, DeltaHeader* pHeader);

    // Rebuilds the new file: pulls the delta through pfnRead, writes the
    // result through pfnWrite. Fails unless exactly qwResultSize bytes came
    // out and the delta ended there.
    int Apply(const BYTE* pBase, size_t nBase, DeltaReadProc pfnRead, void* pReadParam, DeltaWriteProc pfnWrite,
              void* pWriteParam);

private:
    // Apply's chunk buffers, kept from call to call: a caller applying
    // many deltas in a row (the updater) pays for their pages once.
    std::vector<BYTE> m_streams[DELTA_STREAM_COUNT];
    std::vector<BYTE> m_stored, m_diff, m_out;
};

#endif
