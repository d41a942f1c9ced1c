#ifndef _WIN32

#include "platform/hash.h"

#include <nettle/sha2.h>

#include <new>

PlatSha256::PlatSha256() : m_pState(NULL), m_bFailed(0) {}

PlatSha256::~PlatSha256()
{
    Drop();
}

void PlatSha256::Drop()
{
    delete (sha256_ctx*)m_pState;
    m_pState = NULL;
}

int PlatSha256::Begin()
{
    Drop();
    sha256_ctx* pCtx = new (std::nothrow) sha256_ctx;
    m_bFailed = pCtx == NULL;
    if (pCtx)
        sha256_init(pCtx);
    m_pState = pCtx;
    return !m_bFailed;
}

void PlatSha256::Add(const void* pData, size_t nSize)
{
    if (m_pState)
        sha256_update((sha256_ctx*)m_pState, nSize, (const uint8_t*)pData);
}

int PlatSha256::End(BYTE abDigest[PLAT_SHA256_SIZE])
{
    if (!m_pState || m_bFailed) {
        Drop();
        return 0;
    }
    sha256_digest((sha256_ctx*)m_pState, SHA256_DIGEST_SIZE, abDigest);
    Drop();
    return 1;
}

#endif
