#include "updatesum.h"

#include "updateinfo.h"
#include "platform/error.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

const BYTE g_abSumMagic[8] = { 'U', 'P', 'D', 'S', 'U', 'M', '\r', '\n' };

static int Refuse(std::string* pReason, const std::string& reason)
{
    if (pReason)
        *pReason = reason;
    return 0;
}

int ParseUpdateSums(const BYTE* pData, size_t nSize, std::vector<SumEntry>* pEntries, std::string* pReason,
                    DWORD* pdwVersion)
{
    SumHeader header;
    if (nSize < sizeof(header))
        return Refuse(pReason, "shorter than the 16-byte header of a sum file");
    memcpy(&header, pData, sizeof(header));
    if (memcmp(header.abMagic, g_abSumMagic, sizeof(g_abSumMagic)) != 0)
        return Refuse(pReason, "not a sum file (its first bytes differ)");
    if (header.dwVersion != UPDATE_SUM_VERSION && header.dwVersion != UPDATE_SUM_VERSION_DELTAS)
        return Refuse(pReason, "version " + std::to_string(header.dwVersion) + ", which this program does not know");
    size_t nEntry = header.dwVersion == UPDATE_SUM_VERSION ? SUM_ENTRY_V1_SIZE : sizeof(SumEntry);
    if ((nSize - sizeof(header)) % nEntry != 0 || (nSize - sizeof(header)) / nEntry != header.dwCount)
        return Refuse(pReason, "the header promises " + std::to_string(header.dwCount) + " entries but the file holds " +
                                   std::to_string((nSize - sizeof(header)) / nEntry) + " (damaged or cut short)");
    pEntries->assign(header.dwCount, SumEntry());
    for (DWORD i = 0; i < header.dwCount; i++) {
        SumEntry& e = (*pEntries)[i];
        memcpy(&e, pData + sizeof(header) + (size_t)i * nEntry, nEntry);
        if (e.dwKind > SUM_ARCHIVE_DELTA || e.dwReserved != 0 || e.dwPadding != 0)
            return Refuse(pReason, "entry " + std::to_string(i + 1) + " is of a kind this program does not know");
        if (!memchr(e.szSource, 0, sizeof(e.szSource)))
            return Refuse(pReason, "entry " + std::to_string(i + 1) + " names its delta without an end");
    }
    if (pdwVersion)
        *pdwVersion = header.dwVersion;
    return 1;
}

int LoadUpdateSums(const char* lpszFileName, std::vector<SumEntry>* pEntries, std::string* pReason,
                   DWORD* pdwVersion)
{
    CFile clFile;
    if (!clFile.Open(lpszFileName, 0))
        return Refuse(pReason, std::string("cannot be opened: ") + PlatErrorText(PlatGetLastError()));
    // Checked before reading, so a huge file asks for no memory it cannot
    // fill: a list's records are fewer than this many entries.
    QWORD qwSize = clFile.GetSize64();
    if (qwSize > sizeof(SumHeader) + (QWORD)(0xFFFFFFFF / sizeof(FileRecord)) * sizeof(SumEntry))
        return Refuse(pReason, "too large for a sum file");
    std::vector<BYTE> data((size_t)qwSize);
    if (qwSize && clFile.Read(data.data(), (DWORD)qwSize) != (DWORD)qwSize)
        return Refuse(pReason, "cannot be read");
    return ParseUpdateSums(data.data(), data.size(), pEntries, pReason, pdwVersion);
}

std::vector<BYTE> SerializeUpdateSums(const std::vector<SumEntry>& entries, DWORD dwVersion)
{
    for (const SumEntry& e : entries)
        if (e.dwKind != SUM_WHOLE)
            dwVersion = UPDATE_SUM_VERSION_DELTAS;
    size_t nEntry = dwVersion == UPDATE_SUM_VERSION ? SUM_ENTRY_V1_SIZE : sizeof(SumEntry);
    SumHeader header;
    memcpy(header.abMagic, g_abSumMagic, sizeof(g_abSumMagic));
    header.dwVersion = dwVersion;
    header.dwCount = (DWORD)entries.size();
    std::vector<BYTE> file(sizeof(header) + entries.size() * nEntry);
    memcpy(file.data(), &header, sizeof(header));
    for (size_t i = 0; i < entries.size(); i++)
        memcpy(file.data() + sizeof(header) + i * nEntry, &entries[i], nEntry);
    return file;
}

int HashFile(CFile* pFile, BYTE* pBlock, DWORD dwBlock, BYTE abDigest[PLAT_SHA256_SIZE], QWORD* pqwSize,
             int (*pfnBlock)(void* pParam, DWORD dwSize), void* pParam)
{
    PlatSha256 hash;
    if (!hash.Begin())
        return 0;
    QWORD qwLeft = pFile->GetSize64() - pFile->GetPos64();
    *pqwSize = 0;
    while (qwLeft > 0) {
        DWORD dwWant = qwLeft < dwBlock ? (DWORD)qwLeft : dwBlock;
        DWORD dwRead = pFile->Read(pBlock, dwWant);
        hash.Add(pBlock, dwRead);
        *pqwSize += dwRead;
        qwLeft -= dwRead;
        if (dwRead < dwWant || (pfnBlock && !pfnBlock(pParam, dwRead)))
            return 0;
    }
    return hash.End(abDigest);
}

std::string DigestText(const BYTE abDigest[PLAT_SHA256_SIZE])
{
    char szHex[PLAT_SHA256_SIZE * 2 + 1];
    for (int i = 0; i < PLAT_SHA256_SIZE; i++)
        snprintf(szHex + i * 2, 3, "%02x", abDigest[i]);
    return szHex;
}
