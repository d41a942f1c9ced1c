// Property: a sequence of calls on two CFile objects, each opened on any
// kind of backing (a bounded or an unbounded memory block, an OS file read
// or written, a stored member read in place from an archive, a decoded
// member), gives the results of a model written from the file object's
// contract: positions relative to the file's first byte, reads clipped to
// the data (never a byte from outside it), block writes clipped to the
// block, writes to a created file unbounded and counted in its size,
// CopyFrom reading the source before writing, a closed object refusing
// everything but keeping its size. Any difference aborts.
//
// The model leaves open only what the contract leaves open: where an OS
// position stands after a seek the OS cannot make (before the file, or
// beyond what a file system holds), so GetPos is compared only for
// targets every file system reaches; seeking from the end of an unbounded
// block or of a file being written is not done.
#include "call_sequence.h"
#include "file/cfile.h"
#include "pack/cpack.h"

#include <algorithm>
#include <string.h>
#include <vector>

namespace {

enum Kind { K_CLOSED, K_BLOCK, K_UNBOUNDED, K_READ_FILE, K_WRITE_FILE, K_IN_PLACE, K_DECODED };

const int MEMBERS = 4;
const DWORD UNBOUNDED_ROOM = 512; // the target's own buffer behind an unbounded block
const QWORD SURE_SEEK = (QWORD)1 << 40; // below this every file system seeks
const DWORD WRITE_FILE_ROOM = 1 << 16;  // positions and sizes of a file being written
const DWORD CHUNK_ROOM = 1 << 16;       // CopyFrom and WriteZero allocate their count

struct Slot {
    CFile file;
    int nKind = K_CLOSED;
    std::vector<BYTE> block;       // the caller's block of the memory kinds
    std::vector<BYTE> data;        // what the model says the file holds
    QWORD qwPos = 0;               // relative to the first byte, wrapping
    QWORD qwStart = 0;             // where the data begins in its OS file
    DWORD dwSize = 0;              // GetSize
    std::string hostPath;          // of a file being written
};

struct Archives {
    std::string folder;
    std::vector<BYTE> content[MEMBERS];
    // By method, and one more stored archive that is preloaded; each is
    // saved and opened on first use.
    std::string path[5];
    CPack pack[5];
};

const int PRELOADED = 4;

std::string Name(int i)
{
    return "m" + std::to_string(i);
}

// The catalogue of the archive of a method (or PRELOADED), built from the
// members' loose files on first use and opened from the saved archive.
CPack& Archive(Archives& ar, int nWhich)
{
    std::string& path = ar.path[nWhich];
    int nMethod = nWhich == PRELOADED ? PACK_STORE : nWhich;
    if (path.empty()) {
        CPack clLoose;
        for (int i = 0; i < MEMBERS; i++) {
            std::string host = ar.folder + "/" + Name(i);
            WriteHostFile(host, ar.content[i]);
            EXPECT(clLoose.AddFile(LibraryPath(host).c_str()));
        }
        path = ar.folder + "/a" + std::to_string(nWhich) + ".pac";
        EXPECT(clLoose.Save(LibraryPath(path).c_str(), nMethod, NULL, NULL));
        EXPECT(ar.pack[nWhich].OpenArchive(LibraryPath(path).c_str()));
        if (nWhich == PRELOADED)
            ar.pack[nWhich].Preload();
    }
    return ar.pack[nWhich];
}

// The members' offsets in a stored archive: back to back after the header.
QWORD StoredOffset(const Archives& ar, int nMember)
{
    QWORD qw = 12;
    for (int i = 0; i < nMember; i++)
        qw += ar.content[i].size();
    return qw;
}

bool IsMemory(const Slot& s)
{
    return s.nKind == K_BLOCK || s.nKind == K_UNBOUNDED || s.nKind == K_DECODED;
}

bool IsHandle(const Slot& s)
{
    return s.nKind == K_READ_FILE || s.nKind == K_WRITE_FILE || s.nKind == K_IN_PLACE;
}

// The bytes a read of dwSize may give from the model's position.
DWORD ReadCount(const Slot& s, DWORD dwSize)
{
    if (s.nKind == K_CLOSED || s.nKind == K_WRITE_FILE)
        return 0;
    QWORD qwHave = s.qwPos < s.data.size() ? s.data.size() - s.qwPos : 0;
    return qwHave < dwSize ? (DWORD)qwHave : dwSize;
}

// The bytes a write of dwSize may put at the model's position.
DWORD WriteCount(const Slot& s, DWORD dwSize)
{
    switch (s.nKind) {
    case K_BLOCK:
    case K_UNBOUNDED:
    case K_DECODED:
        return ReadCount(s, dwSize);
    case K_WRITE_FILE:
        return dwSize;
    default: // closed, or read-only
        return 0;
    }
}

// Applies a read of dwCount bytes to the model; returns what it gives.
std::vector<BYTE> ModelRead(Slot& s, DWORD dwCount)
{
    std::vector<BYTE> bytes;
    if (dwCount)
        bytes.assign(s.data.begin() + s.qwPos, s.data.begin() + s.qwPos + dwCount);
    s.qwPos += dwCount;
    return bytes;
}

void ModelWrite(Slot& s, const BYTE* pBytes, DWORD dwCount)
{
    if (!dwCount)
        return;
    if (s.nKind == K_WRITE_FILE) {
        if (s.data.size() < s.qwPos + dwCount)
            s.data.resize(s.qwPos + dwCount, 0);
        s.dwSize += dwCount;
    }
    memcpy(s.data.data() + s.qwPos, pBytes, dwCount);
    s.qwPos += dwCount;
}

// An unbounded block is never clipped, so the model keeps its transfers
// inside the buffer behind it: the largest count the position allows.
DWORD Room(const Slot& s, DWORD dwSize)
{
    if (s.nKind == K_UNBOUNDED)
        return s.qwPos <= UNBOUNDED_ROOM ? std::min<DWORD>(dwSize, UNBOUNDED_ROOM - (DWORD)s.qwPos) : 0;
    if (s.nKind == K_WRITE_FILE)
        return std::min<DWORD>(dwSize, WRITE_FILE_ROOM);
    return dwSize;
}

bool CanTransfer(const Slot& s)
{
    return s.nKind != K_UNBOUNDED || s.qwPos <= UNBOUNDED_ROOM;
}

void CheckPosition(Slot& s)
{
    QWORD qw = s.file.GetPos64();
    TRACE("  position %llx, size %u (kind %d: %llx, %u)\n", (unsigned long long)qw, s.file.GetSize(), s.nKind,
          (unsigned long long)s.qwPos, s.dwSize);
    EXPECT(s.file.GetPos() == (DWORD)qw);
    if (s.nKind == K_CLOSED)
        EXPECT(qw == 0);
    else if (!IsHandle(s) || s.qwStart + s.qwPos < SURE_SEEK)
        EXPECT(qw == s.qwPos);
    EXPECT(s.file.GetSize() == s.dwSize);
}

// What stays behind a closed object: a caller's block and a written file.
void CheckLeftBehind(Slot& s)
{
    if (s.nKind == K_BLOCK || s.nKind == K_UNBOUNDED)
        EXPECT(s.block == s.data);
    if (s.nKind == K_WRITE_FILE) {
        std::vector<BYTE> disk;
        EXPECT(ReadHostFile(s.hostPath, &disk));
        EXPECT(disk == s.data);
    }
}

void Close(Slot& s)
{
    EXPECT(s.file.Close() == 1);
    CheckLeftBehind(s);
    s.nKind = K_CLOSED;
    s.qwPos = 0;
    CheckPosition(s);
}

// A pattern of two bytes from the input: any count costs two bytes.
void Fill(CallInput& in, BYTE* p, DWORD n)
{
    BYTE bSeed = in.Byte(), bStep = in.Byte() | 1;
    for (DWORD i = 0; i < n; i++)
        p[i] = (BYTE)(bSeed + i * bStep);
}

void Open(CallInput& in, Slot& s, int nSlot, Archives& ar, unsigned& nGeneration)
{
    // Every open closes first: what the old backing leaves behind is due.
    CheckLeftBehind(s);
    s.nKind = K_CLOSED;
    s.qwPos = 0;
    s.qwStart = 0;
    s.data.clear();
    std::string base = ar.folder + "/f" + std::to_string(nSlot) + "_" + std::to_string(nGeneration++);
    switch (in.Pick(8)) {
    case 0: { // a bounded block of the caller's
        DWORD dwSize = 1 + in.Byte() + (in.Byte() & 1) * 256;
        s.block.assign(dwSize, 0);
        Fill(in, s.block.data(), dwSize);
        s.data = s.block;
        EXPECT(s.file.OpenMemory(s.block.data(), dwSize, in.Byte()) == 1);
        s.nKind = K_BLOCK;
        s.dwSize = dwSize;
        break;
    }
    case 1: { // an unbounded block, every way it can be asked for
        s.block.assign(UNBOUNDED_ROOM, 0);
        Fill(in, s.block.data(), UNBOUNDED_ROOM);
        s.data = s.block;
        int nHow = in.Pick(3);
        EXPECT((nHow == 0   ? s.file.OpenMemory(s.block.data(), 0)
                : nHow == 1 ? s.file.OpenMemory(s.block.data(), 0, 0)
                            : s.file.OpenMemory(s.block.data(), 0xFFFFFFFF, 0)) == 1);
        s.nKind = K_UNBOUNDED;
        s.dwSize = 0xFFFFFFFF;
        break;
    }
    case 2: { // an OS file to read, or one that does not exist
        bool bExists = in.Byte() != 0;
        if (bExists) {
            s.data.resize(in.Byte());
            Fill(in, s.data.data(), (DWORD)s.data.size());
            WriteHostFile(base, s.data);
        }
        EXPECT(s.file.Open(LibraryPath(base).c_str(), 0) == (bExists ? 1 : 0));
        if (bExists) {
            s.nKind = K_READ_FILE;
            s.dwSize = (DWORD)s.data.size();
        }
        break;
    }
    case 3: { // an OS file created (over one that exists, at times)
        if (in.Byte() & 1)
            WriteHostFile(base, std::vector<BYTE>(10, 0xEE));
        EXPECT(s.file.Open(LibraryPath(base).c_str(), 1) == 1);
        s.nKind = K_WRITE_FILE;
        s.dwSize = 0;
        s.hostPath = base;
        break;
    }
    case 4: { // a stored member, read in place from its archive
        int nMember = in.Pick(MEMBERS);
        EXPECT(s.file.OpenPack(&Archive(ar, PACK_STORE), Name(nMember).c_str(), 0) == 1);
        s.nKind = K_IN_PLACE;
        s.data = ar.content[nMember];
        s.qwStart = StoredOffset(ar, nMember);
        s.dwSize = (DWORD)s.data.size();
        break;
    }
    case 5: { // a decoded member, or a stored one once preloaded
        int nMember = in.Pick(MEMBERS);
        CPack& pack = Archive(ar, PACK_SLIDE + in.Pick(4)); // up to PRELOADED
        std::string name = Name(nMember);
        if (in.Byte() & 1)
            name[0] = 'M'; // letter case is ignored
        EXPECT(s.file.OpenPack(&pack, name.c_str(), 0) == 1);
        s.nKind = K_DECODED;
        s.data = ar.content[nMember];
        s.dwSize = (DWORD)s.data.size();
        break;
    }
    case 6: // a member the catalogue does not have
        EXPECT(s.file.OpenPack(&Archive(ar, in.Pick(4)), "m9", 0) == 0);
        break;
    default:
        EXPECT(s.file.Close() == 1);
        break;
    }
    TRACE("slot %d: open kind %d, size %u, start %llu\n", nSlot, s.nKind, s.dwSize,
          (unsigned long long)s.qwStart);
    CheckPosition(s);
}

// An offset: near the ends, near the window's start in its OS file, the
// 32- and 64-bit limits, or anything.
QWORD Offset(CallInput& in, const Slot& s)
{
    QWORD qwSmall = (QWORD)(int64_t)(int8_t)in.Byte();
    switch (in.Pick(8)) {
    case 0:
        return qwSmall;
    case 1:
        return s.data.size() + qwSmall;
    case 2:
        return qwSmall - s.qwStart - s.qwPos;
    case 3:
        return (QWORD)(int64_t)(int32_t)(0x80000000u + (DWORD)qwSmall);
    case 4:
        return ((QWORD)1 << 32) + qwSmall;
    case 5:
        return ((QWORD)1 << 63) + qwSmall;
    case 6:
        return (QWORD)(int64_t)(int32_t)in.Dword();
    default:
        return in.Qword();
    }
}

void Seek(CallInput& in, Slot& s)
{
    bool b64 = in.Byte() & 1;
    int nOrigin = in.Byte() % 4; // 3: any other value means the current position
    QWORD qwOffset = Offset(in, s);
    if (!b64)
        qwOffset = (QWORD)(int64_t)(int32_t)(DWORD)qwOffset;
    // A block cursor moves by the low 32 bits, a signed distance as Seek's.
    if (IsMemory(s))
        qwOffset = (QWORD)(int64_t)(int32_t)(DWORD)qwOffset;
    QWORD qwBase = nOrigin == 0 ? 0 : nOrigin == 2 ? s.data.size() : s.qwPos;
    QWORD qwTarget = qwBase + qwOffset;
    if ((s.nKind == K_UNBOUNDED || s.nKind == K_WRITE_FILE) && nOrigin == 2)
        return; // no meaning the contract gives
    if (s.nKind == K_WRITE_FILE && qwTarget > WRITE_FILE_ROOM)
        return; // the OS may make holes of any size: keep the file small
    TRACE("  seek%s %llx from %d -> %llx\n", b64 ? "64" : "", (unsigned long long)qwOffset, nOrigin,
          (unsigned long long)qwTarget);
    int nResult = b64 ? s.file.Seek64(qwOffset, nOrigin) : s.file.Seek((LONG)(DWORD)qwOffset, nOrigin);
    EXPECT(nResult == (s.nKind != K_CLOSED));
    if (s.nKind != K_CLOSED)
        s.qwPos = qwTarget;
}

void Read(CallInput& in, Slot& s)
{
    DWORD dwSize = in.Pick(4) == 0 ? in.Dword() : in.Byte();
    if (!CanTransfer(s))
        return;
    dwSize = Room(s, dwSize);
    DWORD dwCount = ReadCount(s, dwSize);
    // A buffer of the expected count: a read beyond it is caught.
    std::vector<BYTE> got(dwCount ? dwCount : 1);
    int nTyped = in.Pick(4);
    if (nTyped < 3 && dwSize >= (1u << nTyped)) {
        DWORD dwWidth = 1u << nTyped;
        dwCount = ReadCount(s, dwWidth);
        std::vector<BYTE> want = ModelRead(s, dwCount);
        want.resize(4, 0); // missing bytes read as 0
        DWORD dwWant = want[0] | want[1] << 8 | want[2] << 16 | (DWORD)want[3] << 24;
        TRACE("  read typed %u at %llx: want %x\n", dwWidth, (unsigned long long)(s.qwPos - dwCount), dwWant);
        DWORD dwGot = nTyped == 0 ? s.file.ReadByte() : nTyped == 1 ? s.file.ReadWord() : s.file.ReadDword();
        EXPECT(dwGot == dwWant);
        return;
    }
    TRACE("  read %u at %llx: want %u\n", dwSize, (unsigned long long)s.qwPos, dwCount);
    EXPECT(s.file.Read(got.data(), dwSize) == dwCount);
    std::vector<BYTE> want = ModelRead(s, dwCount);
    EXPECT(dwCount == 0 || memcmp(got.data(), want.data(), dwCount) == 0);
}

void Write(CallInput& in, Slot& s)
{
    DWORD dwSize = in.Pick(4) == 0 ? in.Dword() : in.Byte();
    if (!CanTransfer(s))
        return;
    dwSize = Room(s, dwSize);
    // Counts beyond the bytes given only where the block clips them.
    if (s.nKind != K_BLOCK && s.nKind != K_DECODED)
        dwSize = std::min<DWORD>(dwSize, 4096);
    DWORD dwCount = WriteCount(s, dwSize);
    // Exactly the bytes a block may take; a handle is given all it asks for.
    std::vector<BYTE> bytes(std::max<DWORD>(IsMemory(s) ? dwCount : dwSize, 1));
    Fill(in, bytes.data(), (DWORD)bytes.size());
    int nTyped = in.Pick(4);
    if (nTyped < 3 && dwSize >= (1u << nTyped)) {
        DWORD dwWidth = 1u << nTyped;
        bytes.resize(4);
        Fill(in, bytes.data(), 4);
        DWORD dwValue = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (DWORD)bytes[3] << 24;
        dwCount = WriteCount(s, dwWidth);
        TRACE("  write typed %u at %llx: want %u\n", dwWidth, (unsigned long long)s.qwPos, dwCount);
        DWORD dwGot = nTyped == 0 ? s.file.WriteByte((BYTE)dwValue)
                      : nTyped == 1 ? s.file.WriteWord((WORD)dwValue)
                                    : s.file.WriteDword(dwValue);
        EXPECT(dwGot == dwCount);
        ModelWrite(s, bytes.data(), dwCount);
        return;
    }
    TRACE("  write %u at %llx: want %u\n", dwSize, (unsigned long long)s.qwPos, dwCount);
    EXPECT(s.file.Write(bytes.data(), dwSize) == dwCount);
    ModelWrite(s, bytes.data(), dwCount);
}

void WriteZero(CallInput& in, Slot& s)
{
    DWORD dwSize = in.Word() % (CHUNK_ROOM + 1);
    if (!CanTransfer(s))
        return;
    dwSize = Room(s, dwSize);
    DWORD dwCount = WriteCount(s, dwSize);
    TRACE("  zero %u at %llx: want %u\n", dwSize, (unsigned long long)s.qwPos, dwCount);
    EXPECT(s.file.WriteZero(dwSize) == dwCount);
    std::vector<BYTE> zeros(dwCount);
    ModelWrite(s, zeros.data(), dwCount);
}

void CopyFrom(CallInput& in, Slot& dst, Slot& src)
{
    DWORD dwSize = in.Word() % (CHUNK_ROOM + 1);
    if (!CanTransfer(src) || !CanTransfer(dst))
        return;
    dwSize = Room(dst, Room(src, dwSize));
    DWORD dwRead = ReadCount(src, dwSize);
    DWORD dwCount = WriteCount(dst, dwRead);
    TRACE("  copy %u from %llx to %llx: read %u, write %u\n", dwSize, (unsigned long long)src.qwPos,
          (unsigned long long)dst.qwPos, dwRead, dwCount);
    EXPECT(dst.file.CopyFrom(&src.file, dwSize) == dwCount);
    std::vector<BYTE> bytes = ModelRead(src, dwRead);
    ModelWrite(dst, bytes.data(), dwCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    CallInput in(pData, nSize);
    const std::string& folder = ScratchFolder("file_ops_fuzzer");
    Archives ar;
    ar.folder = folder;
    for (int i = 0; i < MEMBERS; i++) {
        ar.content[i].resize(in.Byte() % 48);
        Fill(in, ar.content[i].data(), (DWORD)ar.content[i].size());
    }
    Slot slot[2];
    unsigned nGeneration = 0;
    for (int nOps = 0; !in.Empty() && nOps < 256; nOps++) {
        int nSlot = in.Byte();
        Slot& s = slot[nSlot & 1];
        switch ((nSlot >> 1) % 10) {
        case 0:
            Open(in, s, nSlot & 1, ar, nGeneration);
            break;
        case 1:
        case 2:
            Seek(in, s);
            break;
        case 3:
        case 4:
            Read(in, s);
            break;
        case 5:
            Write(in, s);
            break;
        case 6:
            WriteZero(in, s);
            break;
        case 7:
            CopyFrom(in, s, slot[(nSlot & 1) ^ 1]);
            break;
        case 8: {
            SYSTEMTIME st;
            EXPECT((s.file.GetWriteTime(&st) != 0) == IsHandle(s));
            CheckPosition(s);
            break;
        }
        default:
            TRACE("slot %d: close\n", nSlot & 1);
            Close(s);
            break;
        }
    }
    for (Slot& s : slot)
        Close(s);
    return 0;
}
