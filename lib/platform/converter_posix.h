// An iconv converter kept for the life of a thread: paths are converted
// by the thousand (a sort, a plan of many files), and opening a converter
// costs more than converting a name. POSIX side of the seam only.
#ifndef PLATFORM_CONVERTER_POSIX_H
#define PLATFORM_CONVERTER_POSIX_H

#include <errno.h>
#include <iconv.h>

#include <string>

class Converter {
public:
    Converter(const char* lpszTo, const char* lpszFrom) : m_cd(iconv_open(lpszTo, lpszFrom)) {}
    ~Converter()
    {
        if (m_cd != (iconv_t)-1)
            iconv_close(m_cd);
    }
    bool Run(const char* pIn, size_t nIn, std::string* pOut)
    {
        pOut->clear();
        if (m_cd == (iconv_t)-1)
            return false;
        iconv(m_cd, NULL, NULL, NULL, NULL);
        char buf[1024];
        char* pSrc = const_cast<char*>(pIn);
        while (nIn) {
            char* pDst = buf;
            size_t nRoom = sizeof(buf);
            size_t r = iconv(m_cd, &pSrc, &nIn, &pDst, &nRoom);
            pOut->append(buf, pDst - buf);
            if (r == (size_t)-1 && errno != E2BIG)
                return false;
        }
        return true;
    }

private:
    iconv_t m_cd;
};

#endif
