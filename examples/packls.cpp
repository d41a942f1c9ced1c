// packls: lists the members of a pack archive and, given a member's name,
// copies that member to standard output, read through CFile like any
// other file.
//
//   packls ARCHIVE [MEMBER]
//
// Names are code page 932 with backslashes, as everywhere in the library;
// on Linux an ASCII relative name such as data/game.pac works as it is.
#include "file/cfile.h"
#include "pack/cpack.h"

#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: packls ARCHIVE [MEMBER]\n");
        return 2;
    }
    CPack clPack;
    if (!clPack.OpenArchive(argv[1])) {
        fprintf(stderr, "packls: %s is missing or not a pack archive\n", argv[1]);
        return 1;
    }
    // The catalogue's list of all members, in archive order.
    for (PackMember* p = clPack.GetFirstMember(); p; p = clPack.GetNextMember())
        printf("%10lu  %s\n", (unsigned long)p->dwOrgSize, p->szName);
    if (argc == 3) {
        CFile clFile;
        if (!clFile.OpenPack(&clPack, argv[2], 0)) {
            fprintf(stderr, "packls: no readable member %s\n", argv[2]);
            return 1;
        }
        char buf[4096];
        DWORD dwRead;
        while ((dwRead = clFile.Read(buf, sizeof(buf))) > 0)
            fwrite(buf, 1, dwRead, stdout);
    }
    return 0;
}
