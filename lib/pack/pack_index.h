// The catalogue's name index: a hash table beside the 1024 buckets that
// answers a lookup in a probe or two whatever the member count. The
// buckets keep their order and their role; the index only remembers, per
// name under the case rule, the first member entered and the first stored
// one, which is what every lookup answers. Members are never taken out one
// by one, so the index only grows until it is cleared with the catalogue.
//
// Memory: a slot is 24 bytes and the table stays at most half full, so it
// adds 48 to 96 bytes per distinct name (a tenth or a fifth of a member's
// record).
#ifndef PACK_PACK_INDEX_H
#define PACK_PACK_INDEX_H

#include "pack/cpack.h"

class PackIndex {
public:
    PackIndex();
    ~PackIndex();

    // Makes sure the next dwMore calls of Enter need no memory. False when
    // it runs out.
    bool Reserve(DWORD dwMore = 1);
    // Notes a member just entered into the catalogue (after Reserve).
    void Enter(PackMember* pMember);
    // The first member entered under the name, or null.
    PackMember* Find(const char* lpszName) const;
    // The first member stored without compression under the name, or null.
    PackMember* FindStored(const char* lpszName) const;

private:
    struct Slot {
        DWORD dwHash;
        PackMember* pFirst; // null: the slot is free
        PackMember* pStored;
    };
    // The slot of the name's members, or the free slot where they would
    // go; null for a name longer than any member's or with no table.
    Slot* Probe(const char* lpszName, DWORD* pdwHash) const;

    Slot* m_pSlots;
    DWORD m_dwMask; // slot count - 1 (a power of two), or 0 with no table
    DWORD m_dwUsed;
};

// The name's key under the case rule of CompareNoCase (FoldNameCase):
// written with its NUL into abFolded; returns its length, or -1 for a name
// longer than any member's.
int FoldName(BYTE abFolded[PACK_NAME_SIZE], const char* lpszName);

#endif
