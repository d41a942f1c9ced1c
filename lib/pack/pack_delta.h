// Deltas between two versions of a pack archive, member by member.
//
// A member's coded block changes everywhere when its content changes a
// little, so a delta of the archive files themselves is of no use. This
// delta carries each new member's decoded content (a CDelta against an old
// member's content, or the bytes themselves), and Apply codes the content
// again with the library's own encoders, which give the same bytes for the
// same input. A block the encoders would not give back (an archive written
// by another coder) travels as the block itself, so any archive the reader
// accepts can be rebuilt exactly.
//
// The format is docs/archive-delta-format.md; it is stored in patches, so
// it never changes once shipped (a new version number instead).
//
// Results: 1 on success, 0 on failure. Apply never reads or writes out of
// bounds, whatever the delta's bytes.
#ifndef PACK_PACK_DELTA_H
#define PACK_PACK_DELTA_H

#include "codec/cdelta.h"
#include "platform/wintypes.h"

#include <stddef.h>
#include <vector>

class CFile;

// The fixed start of every archive delta.
#define PACK_DELTA_HEADER_SIZE 104

struct PackDeltaHeader {
    QWORD qwOldSize;        // the archive the delta applies to
    QWORD qwNewSize;        // the archive it writes
    DWORD dwMembers;        // in the new archive
    DWORD dwLargestContent; // the largest decoded content of a new member
    BYTE abNewDigest[32];   // SHA-256 of the archive it writes, which Apply checks
};

// Asked during Apply with the bytes written so far and the new archive's
// size; 0 stops Apply (it then fails).
typedef int (*PackDeltaContinueProc)(void* pParam, QWORD qwDone, QWORD qwTotal);

// pOld and pNew are two archive files' bytes. Returns 1 with *pDelta when
// both are archives and the delta rebuilds pNew exactly: Make applies it
// once in memory to prove it. 0 otherwise (not archives, damaged), and the
// caller falls back to a CDelta of the files.
int PackDeltaMake(const BYTE* pOld, size_t nOld, const BYTE* pNew, size_t nNew, std::vector<BYTE>* pDelta);

// Reads the sizes an archive delta names from its first bytes
// (PACK_DELTA_HEADER_SIZE); 0 when it is not an archive delta of a known
// version.
int PackDeltaReadHeader(const void* pBuf, size_t nSize, PackDeltaHeader* pHeader);

// Writes the new archive into pOut (open for writing at its first byte,
// front to back) from the installed old archive lpszOldArchive (a library
// path), read member by member, and the delta pulled through pfnRead in
// order. pfnContinue (may be null) is asked after every piece written.
// Returns 1 when exactly the archive the delta names was written (its
// SHA-256 checked); 0 on a damaged delta, an old archive other than the
// one the delta was made from, a write failure or a stop.
//
// Memory: besides a fixed working set (CDelta's, under 32 MiB, and 64 KiB),
// the directory being built (76 bytes a member) and, for the member being
// written, at most two of: its old content, its new content, its coded
// block, each at most the largest content plus a little.
int PackDeltaApply(const char* lpszOldArchive, DeltaReadProc pfnRead, void* pReadParam, CFile* pOut,
                   PackDeltaContinueProc pfnContinue, void* pParam);
// The same with the old archive already open (a file, a memory block or a
// resource), read from anywhere.
int PackDeltaApplyFrom(CFile* pOld, DeltaReadProc pfnRead, void* pReadParam, CFile* pOut,
                       PackDeltaContinueProc pfnContinue, void* pParam);

#endif
