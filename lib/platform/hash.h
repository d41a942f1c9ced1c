// SHA-256 from the system: Windows' CryptoAPI, or nettle elsewhere. It
// tells a damaged download from a whole one; it is no signature.
#ifndef PLATFORM_HASH_H
#define PLATFORM_HASH_H

#include "platform/wintypes.h"

#include <stddef.h>

#define PLAT_SHA256_SIZE 32

// One digest at a time: Begin, Add the bytes in any pieces, End. An
// object may be begun again after End; one dropped unfinished frees what
// it holds.
class PlatSha256 {
public:
    PlatSha256();
    ~PlatSha256();
    PlatSha256(const PlatSha256&) = delete;
    PlatSha256& operator=(const PlatSha256&) = delete;

    // Returns 0 when the system has no SHA-256 to offer.
    int Begin();
    void Add(const void* pData, size_t nSize);
    // The digest of everything added since Begin; 0 when Begin or a step
    // failed (abDigest is then undefined).
    int End(BYTE abDigest[PLAT_SHA256_SIZE]);

private:
    void Drop();
    void* m_pState;
    int m_bFailed;
};

#endif
