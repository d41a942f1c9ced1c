// Helpers for the pack archive tests: archives built byte by byte (so that
// damaged ones can be made on purpose) and member listings.
#ifndef TESTS_PACK_PACK_TEST_UTIL_H
#define TESTS_PACK_PACK_TEST_UTIL_H

#include "pack/cpack.h"

#include <string>
#include <vector>

struct RawMember {
    std::string name;
    DWORD dwOrgSize;
    std::string block; // the data block as stored
};

// An archive in the stored layout; dwCountOverride replaces N in the header
// when not ~0.
std::string BuildArchive(DWORD dwMethod, const std::vector<RawMember>& members, DWORD dwCountOverride = ~0u);

// A directory record as stored (76 bytes), and the end of an archive: the
// directory of such records coded as stored, then its length.
std::string DirRecord(const std::string& name, DWORD dwOffset, DWORD dwOrgSize, DWORD dwPackSize);
std::string DirectoryTail(const std::string& records);

// The decoded directory of an archive's bytes (no checks beyond sizes).
std::vector<PackDirEntry> ReadDirectory(const std::string& archive);

// The names in catalogue order.
std::vector<std::string> MemberNames(CPack* pPack);

// Whole content of a member through ReadMember; empty optional on failure.
bool ReadWholeMember(CPack* pPack, PackMember* pMember, std::string* pData);

#endif
