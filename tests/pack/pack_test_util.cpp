#include "pack_test_util.h"

#include "codec/chuffman.h"
#include "container/clist.h"

#include <string.h>

static void PutDword(std::string* p, DWORD dw)
{
    for (int i = 0; i < 4; i++)
        p->push_back((char)(dw >> (8 * i)));
}

static DWORD GetDword(const std::string& s, size_t nPos)
{
    DWORD dw = 0;
    for (int i = 3; i >= 0; i--)
        dw = dw << 8 | (BYTE)s[nPos + i];
    return dw;
}

std::string BuildArchive(DWORD dwMethod, const std::vector<RawMember>& members, DWORD dwCountOverride)
{
    std::string archive = "PAC";
    archive.push_back('\0');
    PutDword(&archive, dwCountOverride != ~0u ? dwCountOverride : (DWORD)members.size());
    PutDword(&archive, dwMethod);
    std::string dir;
    for (const RawMember& m : members) {
        dir += DirRecord(m.name, (DWORD)archive.size(), m.dwOrgSize, (DWORD)m.block.size());
        archive += m.block;
    }
    return archive + DirectoryTail(dir);
}

std::string DirRecord(const std::string& name, DWORD dwOffset, DWORD dwOrgSize, DWORD dwPackSize)
{
    char szName[64] = {};
    // A 64-byte name stays unterminated on purpose.
    memcpy(szName, name.data(), name.size() < 64 ? name.size() : 64);
    std::string record(szName, 64);
    PutDword(&record, dwOffset);
    PutDword(&record, dwOrgSize);
    PutDword(&record, dwPackSize);
    return record;
}

std::string DirectoryTail(const std::string& dir)
{
    std::string coded(dir.size() + 400, '\0');
    DWORD dwCoded = 0;
    if (!dir.empty()) {
        CHuffman clHuffman;
        dwCoded = clHuffman.Compress(&coded[0], (DWORD)coded.size(), dir.data(), (DWORD)dir.size());
    }
    coded.resize(dwCoded);
    for (char& c : coded)
        c = (char)~c;
    PutDword(&coded, dwCoded);
    return coded;
}

std::vector<PackDirEntry> ReadDirectory(const std::string& archive)
{
    DWORD dwCount = GetDword(archive, 4);
    DWORD dwDirSize = GetDword(archive, archive.size() - 4);
    std::string block = archive.substr(archive.size() - 4 - dwDirSize, dwDirSize);
    for (char& c : block)
        c = (char)~c;
    std::vector<PackDirEntry> entries(dwCount);
    if (dwCount) {
        CHuffman clHuffman;
        clHuffman.Decompress(entries.data(), dwCount * 76, block.data(), (DWORD)block.size());
    }
    return entries;
}

std::vector<std::string> MemberNames(CPack* pPack)
{
    std::vector<std::string> names;
    for (PackMember* p = (PackMember*)pPack->m_pAllList->GetFirst(); p;
         p = (PackMember*)pPack->m_pAllList->GetNext())
        names.push_back(p->szName);
    return names;
}

bool ReadWholeMember(CPack* pPack, PackMember* pMember, std::string* pData)
{
    std::string data(pMember->dwOrgSize + 1, '\0');
    BYTE* pBuffer = (BYTE*)&data[0];
    if (!pPack->ReadMember(pMember, &pBuffer))
        return false;
    data.resize(pMember->dwOrgSize);
    *pData = data;
    return true;
}
