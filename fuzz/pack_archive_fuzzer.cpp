// Property: any bytes opened as an archive are either refused, adding no
// member, or every member they describe states a size its block can
// decode to, and reads (or is refused) without touching memory outside its
// buffers.
#include "container/clist.h"
#include "file/cfile.h"
#include "pack/cpack.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

// The open bounds every member's size by its block (no method expands a
// byte into more than 1032), so members are read whatever their size; only
// a Huffman tree of one leaf codes any length, and such members are read
// up to this size.
static const DWORD MAX_SINGLE_LEAF = 1 << 24;

// The archive reader takes a path, so each input goes through a file of
// this process's own, removed at exit.
static const std::string& InputPath()
{
    static const std::string path = "pack_fuzz_" + std::to_string(getpid()) + ".pac";
    static bool bRegistered = false;
    if (!bRegistered) {
        bRegistered = true;
        atexit([] { unlink(InputPath().c_str()); });
    }
    return path;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string& path = InputPath();
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp)
        abort();
    fwrite(pData, 1, nSize, fp);
    fclose(fp);

    CPack clPack;
    if (!clPack.OpenArchive(path.c_str())) {
        if (clPack.m_pAllList->GetCount() != 0)
            abort();
        return 0;
    }
    std::vector<BYTE> buffer;
    for (PackMember* p = (PackMember*)clPack.m_pAllList->GetFirst(); p;
         p = (PackMember*)clPack.m_pAllList->GetNext()) {
        bool bSingleLeaf = p->nMethod == PACK_HUFFMAN && p->dwPackSize && !(pData[p->dwOffset] & 0x80);
        if (!bSingleLeaf && p->dwOrgSize > 1032ull * p->dwPackSize)
            abort();
        if (bSingleLeaf && p->dwOrgSize > MAX_SINGLE_LEAF)
            continue;
        // An exact-size heap buffer, so a write past dwOrgSize is caught.
        buffer.assign(p->dwOrgSize, 0);
        BYTE* pBuffer = buffer.data();
        if (p->dwOrgSize)
            clPack.ReadMember(p, &pBuffer);
        CFile clFile;
        if (clFile.OpenPack(&clPack, p->szName, 0)) {
            BYTE ab[64];
            while (clFile.Read(ab, sizeof(ab)) == sizeof(ab)) {
            }
        }
    }
    return 0;
}
