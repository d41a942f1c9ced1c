#include "file/cfile.h"

#include "platform/platform.h"

#include <new>
#include <string.h>

HMODULE g_hResModule = NULL;

// The end marker of an unbounded block: no address lies beyond it.
static BYTE* const UNBOUNDED_END = (BYTE*)~(uintptr_t)0;

CFile::CFile()
    : m_hFile(NULL), m_hRsrc(NULL), m_hResData(NULL), m_qwSize(0), m_qwPos(0), m_qwStart(0),
      m_qwEnd(0), m_pCur(NULL), m_pTop(NULL), m_pEnd(NULL), m_nType(CFILE_NONE), m_bAlloc(0)
{
}

CFile::CFile(const char* lpszFileName, int nMode) : CFile()
{
    Open(lpszFileName, nMode);
}

CFile::CFile(void* pData, DWORD dwSize, int nMode) : CFile()
{
    OpenMemory(pData, dwSize, nMode);
}

CFile::~CFile()
{
    Close();
}

int CFile::Attach(HANDLE hFile)
{
    Close();
    if (!hFile)
        return 0;
    m_hFile = hFile;
    m_nType = CFILE_HANDLE;
    m_qwSize = m_qwPos = m_qwStart = m_qwEnd = 0;
    return 1;
}

HANDLE CFile::Detach()
{
    HANDLE hFile = m_nType == CFILE_HANDLE ? m_hFile : NULL;
    if (hFile) {
        m_hFile = NULL;
        m_nType = CFILE_NONE;
    }
    return hFile;
}

int CFile::Open(const char* lpszFileName, int nMode)
{
    Close();
    m_hFile = PlatOpenFile(lpszFileName, nMode != 0);
    if (!m_hFile)
        return 0;
    m_nType = CFILE_HANDLE;
    m_qwSize = nMode == 0 ? PlatGetFileSize(m_hFile) : 0;
    m_qwPos = 0;
    m_qwStart = 0;
    m_qwEnd = m_qwSize;
    return 1;
}

int CFile::OpenMemory(void* pData, DWORD dwSize, int nMode)
{
    (void)nMode;
    Close();
    if (dwSize == 0)
        dwSize = 0xFFFFFFFF;
    m_nType = CFILE_MEMORY;
    m_qwSize = dwSize;
    m_pCur = m_pTop = (BYTE*)pData;
    m_pEnd = dwSize == 0xFFFFFFFF ? UNBOUNDED_END : m_pTop + dwSize;
    m_bAlloc = 0;
    return 1;
}

int CFile::OpenMemory(void* pData, int nMode)
{
    return OpenMemory(pData, 0, nMode);
}

int CFile::OpenResource(const char* lpszName, const char* lpszType)
{
    Close();
    m_hRsrc = PlatFindResource(g_hResModule, lpszName, lpszType);
    if (!m_hRsrc)
        return 0;
    m_hResData = PlatLoadResource(g_hResModule, m_hRsrc);
    BYTE* pData = m_hResData ? (BYTE*)PlatLockResource(m_hResData) : NULL;
    if (!pData) {
        if (m_hResData)
            PlatFreeResource(m_hResData);
        m_hResData = NULL;
        m_hRsrc = NULL;
        return 0;
    }
    m_nType = CFILE_RESOURCE;
    m_qwSize = PlatSizeofResource(g_hResModule, m_hRsrc);
    m_pCur = m_pTop = pData;
    m_pEnd = m_pTop + m_qwSize;
    m_bAlloc = 0;
    return 1;
}

int CFile::Close()
{
    switch (m_nType) {
    case CFILE_HANDLE:
        if (m_hFile) {
            PlatCloseFile(m_hFile);
            m_hFile = NULL;
        }
        break;
    case CFILE_MEMORY:
        if (m_bAlloc && m_pTop) {
            delete[] m_pTop;
            m_pTop = NULL;
        }
        break;
    case CFILE_RESOURCE:
        PlatFreeResource(m_hResData);
        m_hResData = NULL;
        m_hRsrc = NULL;
        break;
    }
    m_nType = CFILE_NONE;
    return 1;
}

DWORD CFile::GetSize()
{
    return (DWORD)m_qwSize;
}

QWORD CFile::GetSize64()
{
    return m_qwSize;
}

int CFile::GetType()
{
    return m_nType;
}

int CFile::Seek(LONG lOffset, int nOrigin)
{
    // The offset is signed 32-bit; sign-extend it before it meets the
    // 64-bit window bounds.
    return Seek64((QWORD)(int64_t)lOffset, nOrigin);
}

int CFile::Seek64(QWORD qwOffset, int nOrigin)
{
    switch (m_nType) {
    case CFILE_NONE:
        return 0;
    case CFILE_HANDLE: {
        // The position may stand anywhere, as a block's cursor may: before
        // the window's start, before the file's start (a wrapped target) or
        // past the end. Reads there find nothing (Read checks m_qwPos), and
        // the OS is moved only to targets it can take, always absolutely,
        // so after a refused target the next seek still lands where asked.
        QWORD qwBase = nOrigin == 0 ? m_qwStart : nOrigin == 2 ? m_qwEnd : m_qwPos;
        m_qwPos = qwBase + qwOffset;
        if ((int64_t)m_qwPos >= 0)
            PlatSetFilePos(m_hFile, (int64_t)m_qwPos, PLAT_SEEK_BEGIN, NULL);
        return 1;
    }
    default: {
        // Only the low 32 bits move a block cursor, as a signed distance.
        BYTE* pBase = nOrigin == 0 ? m_pTop : nOrigin == 2 ? m_pEnd : m_pCur;
        m_pCur = (BYTE*)((uintptr_t)pBase + (uintptr_t)(intptr_t)(int32_t)(uint32_t)qwOffset);
        return 1;
    }
    }
}

DWORD CFile::GetPos()
{
    return (DWORD)GetPos64();
}

QWORD CFile::GetPos64()
{
    switch (m_nType) {
    case CFILE_HANDLE:
        // Reads and writes move m_qwPos with the OS position, and a seek
        // sets it even where the OS cannot follow.
        return m_qwPos - m_qwStart;
    case CFILE_MEMORY:
    case CFILE_RESOURCE:
        return (QWORD)(int64_t)((intptr_t)m_pCur - (intptr_t)m_pTop);
    default:
        return 0;
    }
}

int CFile::GetWriteTime(SYSTEMTIME* pTime)
{
    if (m_nType != CFILE_HANDLE || !m_hFile)
        return 0;
    return PlatGetWriteTime(m_hFile, pTime);
}

// The bytes a block transfer may touch from the cursor on: none before the
// block's first byte or at and past its end.
static DWORD ClipToBlock(const BYTE* pTop, const BYTE* pCur, const BYTE* pEnd, DWORD dwSize)
{
    uintptr_t uCur = (uintptr_t)pCur, uEnd = (uintptr_t)pEnd;
    if (uCur < (uintptr_t)pTop || uCur >= uEnd)
        return 0;
    return uEnd - uCur < dwSize ? (DWORD)(uEnd - uCur) : dwSize;
}

DWORD CFile::Read(void* pBuffer, DWORD dwSize)
{
    switch (m_nType) {
    case CFILE_HANDLE: {
        // Nothing outside [m_qwStart, m_qwEnd), tested without a sum that
        // could wrap.
        if (m_qwPos < m_qwStart || m_qwPos >= m_qwEnd)
            return 0;
        DWORD dwCount = m_qwEnd - m_qwPos < dwSize ? (DWORD)(m_qwEnd - m_qwPos) : dwSize;
        DWORD dwRead = 0;
        if (!PlatReadFile(m_hFile, pBuffer, dwCount, &dwRead))
            return 0;
        m_qwPos += dwRead;
        return dwRead;
    }
    case CFILE_MEMORY:
    case CFILE_RESOURCE: {
        DWORD dwCount = ClipToBlock(m_pTop, m_pCur, m_pEnd, dwSize);
        if (dwCount) {
            memcpy(pBuffer, m_pCur, dwCount);
            m_pCur += dwCount;
        }
        return dwCount;
    }
    default:
        return 0;
    }
}

int CFile::ReadExactly(void* pBuffer, QWORD qwSize)
{
    BYTE* p = (BYTE*)pBuffer;
    for (QWORD qwAt = 0; qwAt < qwSize;) {
        DWORD dwWant = qwSize - qwAt < 0x40000000 ? (DWORD)(qwSize - qwAt) : 0x40000000;
        if (Read(p + qwAt, dwWant) != dwWant)
            return 0;
        qwAt += dwWant;
    }
    return 1;
}

DWORD CFile::Write(const void* pBuffer, DWORD dwSize)
{
    switch (m_nType) {
    case CFILE_HANDLE: {
        // A position the OS could not take (before the file's start) is
        // not where the OS would write.
        DWORD dwWritten = 0;
        if ((int64_t)m_qwPos < 0 || !PlatWriteFile(m_hFile, pBuffer, dwSize, &dwWritten))
            return 0;
        m_qwSize += dwWritten;
        m_qwPos += dwWritten;
        // Keep the end at the furthest byte written, so that seeking from
        // the end of a file being written means the end of what it holds.
        // A write of nothing (a read handle may accept one) moves no end:
        // a window would take in its neighbours.
        if (dwWritten && m_qwPos > m_qwEnd)
            m_qwEnd = m_qwPos;
        return dwWritten;
    }
    case CFILE_MEMORY: {
        DWORD dwCount = ClipToBlock(m_pTop, m_pCur, m_pEnd, dwSize);
        if (dwCount) {
            memcpy(m_pCur, pBuffer, dwCount);
            m_pCur += dwCount;
        }
        return dwCount;
    }
    default: // closed, or a read-only resource
        return 0;
    }
}

BYTE CFile::ReadByte()
{
    BYTE abData[1] = { 0 };
    Read(abData, 1);
    return abData[0];
}

WORD CFile::ReadWord()
{
    BYTE abData[2] = { 0, 0 };
    Read(abData, 2);
    return (WORD)(abData[0] | abData[1] << 8);
}

DWORD CFile::ReadDword()
{
    BYTE abData[4] = { 0, 0, 0, 0 };
    Read(abData, 4);
    return (DWORD)abData[0] | (DWORD)abData[1] << 8 | (DWORD)abData[2] << 16 | (DWORD)abData[3] << 24;
}

DWORD CFile::WriteByte(BYTE bData)
{
    return Write(&bData, 1);
}

DWORD CFile::WriteWord(WORD wData)
{
    BYTE abData[2] = { (BYTE)wData, (BYTE)(wData >> 8) };
    return Write(abData, 2);
}

DWORD CFile::WriteDword(DWORD dwData)
{
    BYTE abData[4] = { (BYTE)dwData, (BYTE)(dwData >> 8), (BYTE)(dwData >> 16), (BYTE)(dwData >> 24) };
    return Write(abData, 4);
}

DWORD CFile::CopyFrom(CFile* pSource, DWORD dwSize)
{
    // A block in memory is written from where it lies, as a pack member
    // extracted to a file is: no buffer of the member's size, no extra
    // copy. The source moves on by what it gave, whatever the write does.
    // (Into memory, the two blocks might overlap: that goes through the
    // buffer below.)
    if ((pSource->m_nType == CFILE_MEMORY || pSource->m_nType == CFILE_RESOURCE) && m_nType != CFILE_MEMORY) {
        const BYTE* pData = pSource->m_pCur;
        DWORD dwCount = ClipToBlock(pSource->m_pTop, pSource->m_pCur, pSource->m_pEnd, dwSize);
        pSource->m_pCur += dwCount;
        return Write(pData, dwCount);
    }
    BYTE* pBuffer = new (std::nothrow) BYTE[dwSize ? dwSize : 1];
    if (!pBuffer)
        return 0;
    DWORD dwRead = pSource->Read(pBuffer, dwSize);
    DWORD dwWritten = Write(pBuffer, dwRead);
    delete[] pBuffer;
    return dwWritten;
}

DWORD CFile::WriteZero(DWORD dwSize)
{
    BYTE* pBuffer = new (std::nothrow) BYTE[dwSize ? dwSize : 1]();
    if (!pBuffer)
        return 0;
    DWORD dwWritten = Write(pBuffer, dwSize);
    delete[] pBuffer;
    return dwWritten;
}
