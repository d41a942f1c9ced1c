// CPack: a catalogue of named members drawn from pack archives (files or
// resources of the program), loose files and folder trees, served through
// one interface so that a game can run from loose files during development
// and from archives when shipped.
//
// Archive layout (all integers 32-bit little-endian, L the file length):
//
//   0        "PAC" and one byte that carries nothing
//   4        N, the number of members
//   8        M, the method of every member (PACK_STORE .. PACK_ZLIB)
//   12       the members' data blocks, back to back in directory order
//   L-4-D    the directory: N records of 76 bytes (PackDirEntry), coded
//            with CHuffman and then every byte inverted
//   L-4      D, the directory's length
//
// A data block is the codec's whole output for one member's content. Names
// are file names without folders, at most 63 bytes, compared with ASCII
// letter case ignored; where two members share a name the one entered
// first is found.
//
// Archives are checked before anything is entered: header and trailer
// present, the directory inside the file, a member count the directory
// can hold, every block inside the data area, a known method, names that
// are terminated plain file names. A damaged archive adds nothing.
//
// Lookups go through an index beside the buckets and cost the same at a
// million members as at a thousand; the buckets keep their order and are
// what a caller walking them sees.
//
// Results are 1 for success and 0 for failure. Lookups and reads (Find,
// GetSourcePath, OpenMemberFile, ReadMember, CFile::OpenPack) may run on
// several threads at once, each with codecs of its own, as long as nothing
// enters, preloads or clears members meanwhile and nobody walks the lists
// on another thread; everything else is for one thread at a time. Save and
// ExtractAll run threads of their own inside the call (SetThreads).
#ifndef PACK_CPACK_H
#define PACK_CPACK_H

#include "platform/wintypes.h"

class CFile;
class CList;
class CSlide;
class CHuffman;
class CZlib;
class PackIndex;
class PackCodecPool;
struct PackCodecs;

#define PACK_STORE 0
#define PACK_SLIDE 1
#define PACK_HUFFMAN 2
#define PACK_ZLIB 3

enum { PACK_SAVE_OK, PACK_SAVE_CHANGED, PACK_SAVE_TOO_LARGE, PACK_SAVE_OTHER };

#define PACK_HASH_SIZE 1024
#define PACK_NAME_SIZE 64
#define PACK_PATH_SIZE 260

// A directory record as it is stored (76 bytes, little-endian fields).
struct PackDirEntry {
    char szName[PACK_NAME_SIZE]; // NUL-terminated, zero-filled after the NUL
    DWORD dwOffset;              // start of the data block in the archive
    DWORD dwOrgSize;             // content size
    DWORD dwPackSize;            // data block size
};
static_assert(sizeof(PackDirEntry) == 76, "directory records are 76 bytes");

// One catalogue entry. Its bytes come from lpData when that is set, else
// from the file szPackPath, else from the resource szResName/szResType.
struct PackMember {
    char szName[PACK_NAME_SIZE];
    char szPackPath[PACK_PATH_SIZE];
    char szResName[PACK_NAME_SIZE];
    char szResType[PACK_NAME_SIZE];
    DWORD dwOffset; // of the data block in its container; 0 once preloaded
    DWORD dwOrgSize;
    DWORD dwPackSize;
    BYTE* lpData; // the data block in memory (dwPackSize bytes), or null
    int nMethod;
};

// Save's progress report: called before a member is read (dwDone 0,
// dwPackSize 0) and after its block is written (dwDone == dwTotal).
typedef void (*PackProgressProc)(const PackDirEntry* pEntry, DWORD dwDone, DWORD dwTotal,
                                 DWORD dwPackSize, void* lpUserData);

class CPack {
public:
    CPack();
    // Open(lpszPath); the result is dropped: look members up to know.
    explicit CPack(const char* lpszPath);
    virtual ~CPack();

    // Empties the catalogue and makes it ready: codecs, 1024 buckets and the
    // list of all members. Returns 0 when memory runs out (then bare).
    int Init();
    // Frees every record, preloaded block, list and codec (bare state).
    void Clear();
    // The bucket of a name: 8 times the XOR of the low seven bits of its
    // bytes, A to Z folded to a to z.
    static int Hash(const char* lpszName);

    // Empties the catalogue, then enters lpszPath as an archive, a file or
    // (given with a trailing backslash) a folder tree.
    int Open(const char* lpszPath);
    // Adds every member of an archive file after those already entered.
    int OpenArchive(const char* lpszPath);
    // Adds every member of an archive held as a resource of the program.
    int OpenResourceArchive(const char* lpszName, const char* lpszType);
    // Adds one loose file (or a folder named without a trailing backslash,
    // as a member of size 0), named after its last component.
    int AddFile(const char* lpszPath);
    // Adds every file below a folder, depth first; folders whose names
    // begin with '.' are skipped, and so is a folder reached a second time
    // through a link (then the result is 0).
    int AddFolder(const char* lpszPath);

    // The first member entered under that name, or null.
    PackMember* Find(const char* lpszName);
    // Every member in the order entered: the count, and a walk with the
    // catalogue's one cursor (null past the last).
    DWORD GetMemberCount();
    PackMember* GetFirstMember();
    PackMember* GetNextMember();
    // For a member stored uncompressed in a file and not preloaded: a new
    // read handle on that file positioned at the member, owned by the
    // caller. Returns 0 (and stores null) otherwise.
    int OpenMemberFile(PackMember* pMember, HANDLE* phFile);
    int OpenMemberFile(const char* lpszName, HANDLE* phFile);
    // Fills *ppBuffer (dwOrgSize bytes) with the member's content. Returns
    // 0 when its container cannot be read or the codec finds the block
    // damaged.
    int ReadMember(PackMember* pMember, BYTE** ppBuffer);
    int ReadMember(const char* lpszName, BYTE** ppBuffer);
    // The file a stored member is read from (the archive or the loose
    // file; empty for a resource). 0 when no stored member has the name.
    int GetSourcePath(char* lpszPath, const char* lpszName);
    // Loads every member's data block into memory, so that no later access
    // touches the disk.
    void Preload();

    // How many threads Save and ExtractAll use, the caller's included; 0
    // means one per core. The default is 1: everything on the caller's
    // thread, as without threads. Kept across Open and Init.
    void SetThreads(int nThreads);

    // Writes the catalogue as a new archive with one method for all
    // members. The archive appears under lpszFileName only when complete;
    // on any failure nothing is left behind and 0 is returned. A member
    // whose source cannot be opened is left out (no progress call names
    // it). A loose file is packed at the size it had when it was entered:
    // one that changed since fails the Save (GetSaveProblem).
    //
    // With several threads, members are read and encoded on all of them at
    // once while the caller's thread writes them in catalogue order and
    // calls lpfnProgress, so the archive is byte for byte the one thread's
    // and the calls come in the same order. Memory: the directory (76 bytes
    // a member) plus at most 2 x threads members in flight beyond the one
    // being written, each holding its content and encoding room (about 2.2
    // times its size) while it is encoded and its coded block after.
    int Save(const char* lpszFileName, int nMethod, PackProgressProc lpfnProgress, void* lpUserData);
    // Why the last Save returned 0, and the member that caused it (null
    // when none did): PACK_SAVE_CHANGED, a loose file whose size is no
    // longer the one it had when it was entered (it grew, shrank or passed
    // 4 GiB while the archive was written); PACK_SAVE_TOO_LARGE, an archive
    // that would pass the format's 4 GiB; PACK_SAVE_OTHER, anything else
    // (a member unreadable, memory, the disk: the system's reason stands).
    int GetSaveProblem(const PackMember** ppMember) const;

    // Room that guarantees an encoder of the method never runs short for
    // dwSize bytes, plus one byte: a result that fills it means cut.
    static QWORD EncodeRoom(int nMethod, DWORD dwSize);

    // Which members extraction writes to one file on this system: fills
    // ppFirst[i], for the i-th member in catalogue order, with the first
    // member whose name names the same file in a folder: equal under the
    // catalogue's rule, or by the file system's (PlatCompareFileNames:
    // on Windows letter case ignored in every script, so "\x82\x60" and
    // "\x82\x81" (full-width A and a) are one file; everywhere two codes
    // of one character, such as 87 54 and FA 4A). ppFirst holds one entry
    // a member. Returns 0 when memory runs out.
    int FindSameFiles(PackMember** ppFirst);

    // Writes every member into a folder, each named after the member. Of
    // members that name one file (FindSameFiles), only the first is
    // written; the others are not, and the result is then 0. Returns 0 at
    // the first file that cannot be written, and 0 after the others are
    // written when a member could not be read.
    //
    // With several threads members are read, decoded and written at once,
    // and the files and the result are those of one thread, except that a
    // stop at an unwritable file may come after later members were
    // written. A stored member is copied in blocks; those decoded whole are
    // held by the threads together up to 256 MiB, or one at a time.
    int ExtractAll(const char* lpszFolder);

    CList* m_pAllList;
    CList* m_pHashList[PACK_HASH_SIZE];
    CSlide* m_pSlide;
    CHuffman* m_pHuffman;
    CZlib* m_pZlib;

private:
    PackIndex* m_pIndex;
    PackCodecPool* m_pCodecPool;
    int m_nThreads;
    int m_nSaveProblem;
    const PackMember* m_pSaveProblem;

    // Appends a copy of the record to its bucket and to the list of all
    // members. Returns 0 when memory runs out (nothing entered).
    int Enter(const PackMember& member);
    // Checks and enters the archive open in pFile.
    int AddArchive(CFile* pFile, const char* lpszPackPath, const char* lpszResName,
                   const char* lpszResType);
};

#endif
