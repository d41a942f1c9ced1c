#include "file/tempfile.h"

#include "file/path.h"

#include <stdio.h>
#include <string.h>

CTempFile::CTempFile() : m_bActive(false)
{
    memset(&m_replace, 0, sizeof(m_replace));
}

CTempFile::~CTempFile()
{
    Finish(false);
}

bool CTempFile::Create(const char* lpszTarget, DWORD dwFlags)
{
    // Longer than any member name of a pack archive (63 bytes).
    const size_t MIN_TEMP_NAME = 64;
    Finish(false);
    size_t nTarget = strlen(lpszTarget);
    if (nTarget >= MAX_PATH) {
        PlatBeginReplace(&m_replace, lpszTarget, lpszTarget, dwFlags); // refused, with the seam's reason
        return false;
    }
    char lpszName[MAX_PATH], lpszTemp[2 * MAX_PATH];
    size_t nName = strlen(GetFileName(lpszName, lpszTarget));
    // A name too long for a path is still handed over: the seam refuses
    // it with that reason, and writes a device target without one.
    for (int i = 0; i < 1000; i++) {
        int n = snprintf(lpszTemp, MAX_PATH + 16, "%s.~%d", lpszTarget, i);
        for (size_t nComponent = nName + (size_t)n - nTarget; nComponent < MIN_TEMP_NAME; nComponent++)
            lpszTemp[n++] = '~';
        lpszTemp[n] = 0;
        int nBegun = PlatBeginReplace(&m_replace, lpszTarget, lpszTemp, dwFlags);
        if (nBegun == 0)
            return false;
        if (nBegun == 1) {
            m_clFile.Attach(m_replace.hFile);
            m_bActive = true;
            return true;
        }
    }
    return false;
}

bool CTempFile::Finish(bool bOk)
{
    if (!m_bActive)
        return false;
    m_bActive = false;
    // A handle the caller closed after all cannot be flushed: a failure.
    m_replace.hFile = m_clFile.Detach();
    return PlatEndReplace(&m_replace, bOk) != 0;
}
