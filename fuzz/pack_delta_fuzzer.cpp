// Two properties, chosen by the first byte's low bit:
//
// 0: the rest is an archive delta applied to a small fixed old archive
//    (the delta read in pieces of a size the second byte chooses): Apply
//    never crashes, and whatever it writes stays inside the new size.
// 1: the rest describes members of an old and a new archive, in the method
//    of bits 1-2: records of a selector byte (the name m0..m7 in bits 0-2;
//    bits 3-4: in both archives alike, only the old, only the new, or in
//    both with the new one edited; bits 5-7: how many times the content
//    repeats, less one), a length byte and that many content bytes.
//    PackDeltaMake must succeed, and its delta applied gives the new
//    archive exactly.
//
// The archives are written by the writer's own pieces (EncodeBlock,
// StoreDirEntry, EncodeDirectory), as Save lays them out.
#include "delta_stream.h"
#include "file/cfile.h"
#include "pack/cpack.h"
#include "pack/pack_delta.h"
#include "pack/pack_util.h"

#include <memory>
#include <stdint.h>
#include <stdlib.h>
#include <string>
#include <utility>

namespace {

typedef std::vector<std::pair<std::string, std::vector<BYTE>>> Members;

void PutDword(std::vector<BYTE>* p, DWORD dw)
{
    for (int i = 0; i < 4; i++)
        p->push_back((BYTE)(dw >> (8 * i)));
}

std::vector<BYTE> BuildArchive(const Members& members, int nMethod, PackCodecs* pCodecs)
{
    std::vector<BYTE> archive = {'P', 'A', 'C', 0};
    PutDword(&archive, (DWORD)members.size());
    PutDword(&archive, (DWORD)nMethod);
    std::vector<BYTE> records(members.size() * 76);
    for (size_t i = 0; i < members.size(); i++) {
        const std::vector<BYTE>& content = members[i].second;
        PackDirEntry entry = {};
        strcpy(entry.szName, members[i].first.c_str());
        entry.dwOffset = (DWORD)archive.size();
        entry.dwOrgSize = (DWORD)content.size();
        if (nMethod == PACK_STORE) {
            archive.insert(archive.end(), content.begin(), content.end());
            entry.dwPackSize = entry.dwOrgSize;
        } else if (!content.empty()) {
            std::unique_ptr<BYTE[]> pBlock(EncodeBlock(nMethod, content.data(), entry.dwOrgSize, &entry.dwPackSize, pCodecs));
            if (!pBlock)
                abort();
            archive.insert(archive.end(), pBlock.get(), pBlock.get() + entry.dwPackSize);
        }
        StoreDirEntry(&records[i * 76], entry);
    }
    BYTE* pDir = NULL;
    DWORD dwDir = 0;
    if (!EncodeDirectory(records.data(), (DWORD)members.size(), &pDir, &dwDir, pCodecs))
        abort();
    archive.insert(archive.end(), pDir, pDir + dwDir);
    delete[] pDir;
    PutDword(&archive, dwDir);
    return archive;
}

std::vector<BYTE> Text(const char* psz)
{
    return std::vector<BYTE>(psz, psz + strlen(psz));
}

// The old archive of property 0.
const std::vector<BYTE>& FixedOld(PackCodecs* pCodecs)
{
    static const std::vector<BYTE> old =
        BuildArchive({{"m0.dat", Text("the first member of the fixed old archive, with some text to match")},
                      {"m1.dat", {}},
                      {"m2.dat", Text("abcabcabcabcabcabcabcabcabcabcabcabcabcabcabc")}},
                     PACK_ZLIB, pCodecs);
    return old;
}

void ApplyAnyDelta(const BYTE* pData, size_t nSize, PackCodecs* pCodecs)
{
    if (nSize < 1)
        return;
    size_t nPiece = (size_t)pData[0] + 1;
    pData++;
    nSize--;
    // Deltas naming large archives or contents only cost memory here.
    PackDeltaHeader header;
    size_t nOut = 1 << 16;
    if (PackDeltaReadHeader(pData, nSize, &header) &&
        (header.qwNewSize > (1 << 20) || header.dwLargestContent > (1 << 20)))
        return;
    if (PackDeltaReadHeader(pData, nSize, &header))
        nOut = (size_t)header.qwNewSize;
    const std::vector<BYTE>& old = FixedOld(pCodecs);
    CFile clOld, clOut;
    std::vector<BYTE> out(nOut + 1);
    clOld.OpenMemory((void*)old.data(), (DWORD)old.size(), 0);
    clOut.OpenMemory(out.data(), (DWORD)out.size(), 1);
    DeltaSource source = {pData, nSize, 0, nPiece};
    PackDeltaApplyFrom(&clOld, ReadDeltaPiece, &source, &clOut, NULL, NULL);
    if (clOut.GetPos64() > nOut)
        abort();
}

void MakeThenApply(int nMethod, const BYTE* pData, size_t nSize, PackCodecs* pCodecs)
{
    Members oldMembers, newMembers;
    while (nSize >= 2) {
        BYTE bSel = pData[0];
        size_t nLen = std::min((size_t)pData[1], nSize - 2);
        std::vector<BYTE> content;
        for (int k = 0; k <= bSel >> 5; k++)
            content.insert(content.end(), pData + 2, pData + 2 + nLen);
        pData += 2 + nLen;
        nSize -= 2 + nLen;
        std::string name = "m" + std::to_string(bSel & 7) + ".dat";
        int nWhere = bSel >> 3 & 3;
        if (nWhere != 2)
            oldMembers.push_back({name, content});
        if (nWhere == 3 && !content.empty()) {
            content[content.size() / 2] ^= 0x5A;
            content.push_back(bSel);
        }
        if (nWhere != 1)
            newMembers.push_back({name, content});
    }
    std::vector<BYTE> old = BuildArchive(oldMembers, nMethod, pCodecs);
    std::vector<BYTE> neu = BuildArchive(newMembers, nMethod, pCodecs);
    std::vector<BYTE> delta;
    if (!PackDeltaMake(old.data(), old.size(), neu.data(), neu.size(), &delta))
        abort();
    CFile clOld, clOut;
    std::vector<BYTE> out(neu.size());
    clOld.OpenMemory(old.data(), (DWORD)old.size(), 0);
    clOut.OpenMemory(out.data(), (DWORD)out.size(), 1);
    DeltaSource source = {delta.data(), delta.size(), 0, 7};
    if (!PackDeltaApplyFrom(&clOld, ReadDeltaPiece, &source, &clOut, NULL, NULL) || out != neu)
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static PackCodecs* pCodecs = new PackCodecs;
    if (nSize < 1)
        return 0;
    if (pData[0] & 1)
        MakeThenApply(pData[0] >> 1 & 3, pData + 1, nSize - 1, pCodecs);
    else
        ApplyAnyDelta(pData + 1, nSize - 1, pCodecs);
    return 0;
}
