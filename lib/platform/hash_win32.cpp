#ifdef _WIN32

#include "platform/hash.h"

#include <windows.h>
#include <wincrypt.h>

namespace {

// One provider for the life of the process: acquiring it loads the
// provider's DLL, which would cost more than hashing a small file.
HCRYPTPROV Provider()
{
    static HCRYPTPROV s_hProv = [] {
        HCRYPTPROV hProv = 0;
        if (!CryptAcquireContextW(&hProv, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
            hProv = 0;
        return hProv;
    }();
    return s_hProv;
}

} // namespace

PlatSha256::PlatSha256() : m_pState(NULL), m_bFailed(0) {}

PlatSha256::~PlatSha256()
{
    Drop();
}

void PlatSha256::Drop()
{
    if (m_pState)
        CryptDestroyHash((HCRYPTHASH)m_pState);
    m_pState = NULL;
}

int PlatSha256::Begin()
{
    Drop();
    HCRYPTPROV hProv = Provider();
    HCRYPTHASH hHash = 0;
    m_bFailed = !hProv || !CryptCreateHash(hProv, CALG_SHA_256, 0, 0, &hHash);
    m_pState = m_bFailed ? NULL : (void*)hHash;
    return !m_bFailed;
}

void PlatSha256::Add(const void* pData, size_t nSize)
{
    const BYTE* p = (const BYTE*)pData;
    // The call takes a DWORD count.
    while (m_pState && !m_bFailed && nSize > 0) {
        DWORD dwPart = nSize > 0x40000000 ? 0x40000000 : (DWORD)nSize;
        m_bFailed = !CryptHashData((HCRYPTHASH)m_pState, p, dwPart, 0);
        p += dwPart;
        nSize -= dwPart;
    }
}

int PlatSha256::End(BYTE abDigest[PLAT_SHA256_SIZE])
{
    DWORD dwSize = PLAT_SHA256_SIZE;
    int bOk = m_pState && !m_bFailed && CryptGetHashParam((HCRYPTHASH)m_pState, HP_HASHVAL, abDigest, &dwSize, 0) &&
              dwSize == PLAT_SHA256_SIZE;
    Drop();
    return bOk;
}

#endif
