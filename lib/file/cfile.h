// CFile: one object that reads and writes an OS file, a memory block or a
// resource of the program through the same calls.
//
// A file can be a window on a larger OS file: m_qwStart and m_qwEnd bound
// what reads may reach, so a member stored inside an archive reads like a
// file of its own. Positions reported by GetPos/GetPos64 and the origins
// of Seek/Seek64 are relative to that window.
//
// Results: 1 for success and 0 for failure; transfers return the number of
// bytes moved, where a short count marks the end of the data.
#ifndef FILE_CFILE_H
#define FILE_CFILE_H

#include "file/cbase.h"
#include "platform/wintypes.h"

// Kinds of backing (m_nType).
#define CFILE_NONE 0
#define CFILE_HANDLE 1
#define CFILE_MEMORY 2
#define CFILE_RESOURCE 3

class CPack;

// Module whose resources OpenResource searches; null is the program itself.
extern HMODULE g_hResModule;

class CFile : public CBase {
public:
    CFile();
    // Open(lpszFileName, nMode); the result is not reported.
    CFile(const char* lpszFileName, int nMode);
    // OpenMemory(pData, dwSize, nMode).
    CFile(void* pData, DWORD dwSize, int nMode);
    // OpenPack(pPack, lpszName, nMode).
    CFile(CPack* pPack, const char* lpszName, int nMode);
    virtual ~CFile();

    // nMode 0 opens an existing file for reading (others may read it too);
    // any other mode creates the file, or truncates an existing one, for
    // writing. Returns 0 and leaves the object closed when the OS refuses.
    int Open(const char* lpszFileName, int nMode);
    // Writes through an OS handle opened elsewhere at its first byte (a
    // file being replaced whole), as a file created for writing.
    // The object holds the handle until Detach gives it back; closed
    // before that, it closes the handle too. A null handle: 0, closed.
    int Attach(HANDLE hFile);
    // Gives back the handle of Attach, not closed, and leaves the object
    // closed. Null when no handle is attached (also after Close).
    HANDLE Detach();
    // Serves the caller's block, which must outlive the object's use of it
    // and is never freed here. dwSize 0 or 0xFFFFFFFF: unbounded (reads
    // and writes are never clipped). nMode has no effect. Always 1.
    int OpenMemory(void* pData, DWORD dwSize, int nMode);
    int OpenMemory(void* pData, int nMode);
    // Serves a resource of g_hResModule, read-only. Names and types are
    // strings or integer identifiers. Returns 0 when it is not found.
    int OpenResource(const char* lpszName, const char* lpszType);
    // Opens a member of a pack catalogue by name (letter case ignored). A
    // member stored uncompressed in a file is read in place through a
    // handle of its own, bounded to the member; any other member is
    // decoded once into a buffer this object owns. nMode has no effect.
    // Returns 0, leaving the object closed, when the name is unknown or the
    // member cannot be read. Defined with the pack archive.
    int OpenPack(CPack* pPack, const char* lpszName, int nMode);
    // Releases the backing: the handle is closed, an owned buffer freed, a
    // resource released. The size stays readable. Always 1.
    int Close();

    // The low 32 bits of the size: the OS file's size when opened for
    // reading, the bytes written so far when writing, the block's size.
    DWORD GetSize();
    // The whole size, 64 bits.
    QWORD GetSize64();
    // The kind: CFILE_NONE when closed, CFILE_HANDLE, CFILE_MEMORY or
    // CFILE_RESOURCE.
    int GetType();
    // Moves the position from the start (nOrigin 0), the end (2) or the
    // current position (any other value). Positions are not clamped, in
    // every kind: the position may stand before the first byte (GetPos64
    // then reports it as a negative number in two's complement) or past the
    // end, and reads there return 0 bytes; a file's window is never left by
    // a read, wherever a seek pointed. Returns 0 only on a closed object.
    int Seek(LONG lOffset, int nOrigin);
    int Seek64(QWORD qwOffset, int nOrigin);
    // The position relative to the file's first byte; 0 when closed.
    DWORD GetPos();
    QWORD GetPos64();
    // The OS file's last-write time in local time; 0 without an OS file.
    int GetWriteTime(SYSTEMTIME* pTime);

    // Reads up to dwSize bytes; fewer at the end of the data (a handle's
    // reads stop at m_qwEnd, a block's at m_pEnd), none from a position
    // outside the data. 0 on failure or closed.
    DWORD Read(void* pBuffer, DWORD dwSize);
    // Reads exactly qwSize bytes, in as many calls as a 32-bit count
    // needs. Returns 1 when all came; 0 on a short read or a failure.
    int ReadExactly(void* pBuffer, QWORD qwSize);
    // Writes dwSize bytes: to a handle without bound (but not at a position
    // before its first byte), to a block only inside it. Returns the count
    // written; 0 on failure, on a resource or when closed.
    DWORD Write(const void* pBuffer, DWORD dwSize);
    // Little-endian values. A read past the end gives 0 for the missing
    // bytes; the write results are Write's count.
    BYTE ReadByte();
    WORD ReadWord();
    DWORD ReadDword();
    DWORD WriteByte(BYTE bData);
    DWORD WriteWord(WORD wData);
    DWORD WriteDword(DWORD dwData);
    // Reads up to dwSize bytes from pSource and writes them here; returns
    // the count written here. A loop of calls ends at the first result
    // below dwSize. 0 when the chunk buffer cannot be allocated (then
    // nothing is read).
    DWORD CopyFrom(CFile* pSource, DWORD dwSize);
    // Writes dwSize zero bytes; returns the count written.
    DWORD WriteZero(DWORD dwSize);

    HANDLE m_hFile;
    HRSRC m_hRsrc;
    HGLOBAL m_hResData;
    QWORD m_qwSize;
    QWORD m_qwPos; // absolute in the OS file; seeks, reads and writes move it
    QWORD m_qwStart;
    QWORD m_qwEnd;
    BYTE* m_pCur;
    BYTE* m_pTop;
    BYTE* m_pEnd;
    int m_nType;
    int m_bAlloc;
};

#endif
