// Property: any bytes opened as an archive are either refused, adding no
// member, or every member they describe reads (or is refused) without
// touching memory outside its buffers.
#include "container/clist.h"
#include "file/cfile.h"
#include "pack/cpack.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

// Members claiming more than this are not decoded: the point is the
// parser, not allocating what a hostile header asks for.
static const DWORD MAX_MEMBER = 1 << 22;

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
        if (p->dwOrgSize > MAX_MEMBER)
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
