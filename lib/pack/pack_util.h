// Helpers shared by the pack archive's reader, writer and extraction; not
// part of the catalogue's interface.
#ifndef PACK_PACK_UTIL_H
#define PACK_PACK_UTIL_H

#include "codec/chuffman.h"
#include "codec/cslide.h"
#include "codec/czlib.h"
#include "platform/wintypes.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

// The format's limit, one rule for reader and writer: offsets and the
// directory's length are 32-bit, so a whole archive, its 4-byte trailer
// included, is at most 2^32 - 1 bytes long. True when qwLength fits.
bool ArchiveLengthFits(QWORD qwLength);

// path + a separator (unless it is empty or ends in one) + name, if it
// fits in MAX_PATH.
bool JoinPath(char* lpszDst, const char* lpszFolder, const char* lpszName);

class CFile;
struct PackMember;
struct PackCodecs;

// Copies dwSize bytes a block of 1 MiB at a time: a stored member of any
// size costs one block of memory. False when a read or write falls short.
bool CopyInBlocks(CFile* pDest, CFile* pSource, DWORD dwSize);

// The memory a member costs while it is read whole (decoded into a buffer
// of its size, its coded block beside it); 0 for one read in place.
QWORD MemberMemory(const PackMember* pMember);

// Bounds the memory that threads reading members hold at once: a member
// waits until its bytes fit in what is left of the budget, and one larger
// than the whole budget runs alone. So N threads never hold N members of
// the largest size, only the budget or one member.
class PackMemoryGate {
public:
    explicit PackMemoryGate(QWORD qwBudget = (QWORD)256 << 20);
    void Enter(QWORD qwBytes);
    void Leave(QWORD qwBytes);

private:
    std::mutex m_mutex;
    std::condition_variable m_cvLeft;
    QWORD m_qwBudget;
    QWORD m_qwHeld;
};

// Opens the file, memory block or resource that holds the member.
int OpenContainer(const PackMember* pMember, CFile* pFile);
// Reads the member's content (dwOrgSize bytes) from its open container
// into pDest, decoding it. Returns 0 for a short read or a block that the
// codec finds damaged.
int ReadContent(const PackMember* pMember, CFile* pFile, BYTE* pDest, PackCodecs* pCodecs);
// Encodes a content into a new block; returns it (null when out of memory
// or when the encoder ran out of room) and its size.
BYTE* EncodeBlock(int nMethod, const BYTE* pContent, DWORD dwSize, DWORD* pdwPackSize, PackCodecs* pCodecs);

// Everything that makes an archive's bytes beyond its members' blocks, as
// the reader found it: with the blocks, enough to write it again exactly.
struct PackArchiveLayout {
    BYTE bHeaderByte; // the header's fourth byte, which carries nothing
    DWORD dwMethod;
    DWORD dwDirSize;                    // of the coded directory
    std::vector<PackDirEntry> entries;  // in directory order; szName's 64 bytes as stored
};

// Reads and checks the archive in pFile as the catalogue does before
// entering it (CPack::OpenArchive). False, with nothing kept, when it is
// not a whole archive.
bool ReadArchiveLayout(CFile* pFile, CHuffman* pHuffman, PackArchiveLayout* pLayout);

// A directory record as stored, 76 bytes.
void StoreDirEntry(BYTE* pRecord, const PackDirEntry& entry);
// The directory block of dwCount stored records: coded with CHuffman, then
// every byte inverted. No records: no block (null, size 0, true). False
// when memory runs out.
bool EncodeDirectory(const BYTE* pRecords, DWORD dwCount, BYTE** ppBlock, DWORD* pdwSize, PackCodecs* pCodecs);

// The three codecs, for one thread at a time.
struct PackCodecs {
    CSlide clSlide;
    CHuffman clHuffman;
    CZlib clZlib;
    PackCodecs* pNext; // in the pool's list of free sets
};

// Codec sets for the threads that read or write members at once: each
// takes a set of its own for as long as it codes and gives it back; a set
// given back serves the next taker, and all go with the pool.
class PackCodecPool {
public:
    PackCodecPool();
    ~PackCodecPool();
    // A set for the caller alone, or null when memory runs out.
    PackCodecs* Take();
    void Give(PackCodecs* pCodecs);

private:
    std::mutex m_mutex;
    PackCodecs* m_pFree;
};

// The thread count a caller asked for made real: below 1, one per core.
int ResolveThreads(int nThreads);

// Runs fnWork(0) on the caller's thread and fnWork(1) .. fnWork(n - 1) on
// threads of their own, n = ResolveThreads(nThreads), and returns when all
// have returned. Threads the system refuses are left out, so fnWork(0) must
// be able to finish the work alone.
void RunOnThreads(int nThreads, const std::function<void(int nWorker)>& fnWork);

// Runs fnItem(0) .. fnItem(nItems - 1), each once, taken in that order by
// the threads of RunOnThreads.
void RunItems(int nThreads, size_t nItems, const std::function<void(size_t nItem)>& fnItem);

#endif
