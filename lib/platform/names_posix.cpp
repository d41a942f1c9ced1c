// Names on POSIX. Windows' rule is reproduced with glibc's simple case
// mapping (towupper in the built-in C.UTF-8 locale), not a table of our
// own: it is kept with each Unicode version, as Windows' is, and for the
// characters code page 932 holds (Latin, Greek and Cyrillic letters, their
// full-width forms, Roman numerals) the two agree. Windows never folds a
// character outside ASCII into ASCII, so such a mapping (U+017F to 'S')
// is not taken.
#ifndef _WIN32

#include "platform/names.h"

#include "platform/converter_posix.h"

#include <errno.h>
#include <iconv.h>
#include <locale.h>
#include <string.h>
#include <string>
#include <wctype.h>

namespace {

bool ToUtf16(const char* lpszText, std::string* pOut)
{
    thread_local Converter conv("UTF-16LE", "CP932");
    return conv.Run(lpszText, strlen(lpszText), pOut);
}

// Windows' capital of one UTF-16 unit.
unsigned Capital(unsigned nUnit)
{
    static locale_t s_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (nUnit < 0x80 || (nUnit >= 0xD800 && nUnit < 0xE000))
        return nUnit >= 'a' && nUnit <= 'z' ? nUnit - 0x20 : nUnit;
    if (!s_locale)
        return nUnit;
    unsigned nCapital = (unsigned)towupper_l((wint_t)nUnit, s_locale);
    return nCapital < 0x80 || nCapital > 0xFFFF ? nUnit : nCapital;
}

unsigned Unit(const std::string& s, size_t i)
{
    return (unsigned char)s[i] | (unsigned char)s[i + 1] << 8;
}

} // namespace

int PlatIsConvertible(const char* lpszText)
{
    thread_local Converter back("CP932", "UTF-16LE");
    std::string wide, narrow;
    return ToUtf16(lpszText, &wide) && back.Run(wide.data(), wide.size(), &narrow);
}

int PlatCompareFileNames(const char* lpszA, const char* lpszB, int nRule)
{
    std::string a, b;
    bool bA = ToUtf16(lpszA, &a), bB = ToUtf16(lpszB, &b);
    if (!bA || !bB)
        return bA != bB ? (bA ? -1 : 1) : strcmp(lpszA, lpszB);
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i + 1 < n; i += 2) {
        unsigned x = Unit(a, i), y = Unit(b, i);
        if (nRule == PLAT_NAMES_WINDOWS) {
            x = Capital(x);
            y = Capital(y);
        }
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

#endif
