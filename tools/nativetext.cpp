#include "nativetext.h"

#ifdef _WIN32

#include <windows.h>
#include <shellapi.h>

namespace {

bool ToWide(UINT nCodePage, const std::string& in, std::wstring* pOut)
{
    if (in.empty()) {
        pOut->clear();
        return true;
    }
    int n = MultiByteToWideChar(nCodePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), NULL, 0);
    if (n <= 0)
        return false;
    pOut->assign(n, L'\0');
    return MultiByteToWideChar(nCodePage, MB_ERR_INVALID_CHARS, in.data(), (int)in.size(), &(*pOut)[0], n) == n;
}

std::string FromWide(UINT nCodePage, const std::wstring& in)
{
    int n = WideCharToMultiByte(nCodePage, 0, in.data(), (int)in.size(), NULL, 0, NULL, NULL);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(nCodePage, 0, in.data(), (int)in.size(), &out[0], n, NULL, NULL);
    return out;
}

// One character of code page 932 (one or two bytes) as UTF-8.
bool CharToUtf8(const std::string& ch, std::string* pOut)
{
    std::wstring wide;
    if (!ToWide(932, ch, &wide))
        return false;
    *pOut = FromWide(CP_UTF8, wide);
    return true;
}

// The runtime built argv in the system code page, with '?' for what it
// lacks; the wide command line still holds those characters. A text that
// is not a whole argument is taken as it is.
bool WideArgument(const char* lpszNative, std::wstring* pOut)
{
    int nArgs = 0;
    LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    bool bFound = false;
    for (int i = 0; ppArgs && i < nArgs && !bFound; i++) {
        if (FromWide(CP_ACP, ppArgs[i]) == lpszNative) {
            *pOut = ppArgs[i];
            bFound = true;
        }
    }
    if (ppArgs)
        LocalFree(ppArgs);
    return bFound || ToWide(CP_ACP, lpszNative, pOut);
}

} // namespace

bool TextFromNative(const char* lpszNative, std::string* pOut)
{
    std::wstring wide;
    if (!WideArgument(lpszNative, &wide))
        return false;
    BOOL bUsedDefault = FALSE;
    int n = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), (int)wide.size(), NULL, 0, NULL,
                                &bUsedDefault);
    if (bUsedDefault || (n <= 0 && !wide.empty()))
        return false;
    pOut->assign(n, '\0');
    if (n > 0)
        WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, wide.data(), (int)wide.size(), &(*pOut)[0], n, NULL, NULL);
    return true;
}

bool NativeNamesAreCp932()
{
    return GetACP() == 932;
}

std::vector<std::string> UnrepresentableNames(const std::string& nativeFolder)
{
    (void)nativeFolder;
    return std::vector<std::string>();
}

#else

#include <dirent.h>
#include <iconv.h>

namespace {

bool Convert(const char* lpszTo, const char* lpszFrom, const std::string& in, std::string* pOut)
{
    iconv_t cd = iconv_open(lpszTo, lpszFrom);
    if (cd == (iconv_t)-1)
        return false;
    std::string out(in.size() * 4 + 4, '\0');
    char* pIn = const_cast<char*>(in.data());
    size_t nInLeft = in.size();
    char* pOutPos = &out[0];
    size_t nOutLeft = out.size();
    size_t r = iconv(cd, &pIn, &nInLeft, &pOutPos, &nOutLeft);
    iconv_close(cd);
    if (r == (size_t)-1 || nInLeft != 0)
        return false;
    out.resize(pOutPos - out.data());
    *pOut = out;
    return true;
}

bool CharToUtf8(const std::string& ch, std::string* pOut)
{
    return Convert("UTF-8", "CP932", ch, pOut);
}

} // namespace

bool TextFromNative(const char* lpszNative, std::string* pOut)
{
    return Convert("CP932", "UTF-8", lpszNative, pOut);
}

bool NativeNamesAreCp932()
{
    return true;
}

std::vector<std::string> UnrepresentableNames(const std::string& nativeFolder)
{
    std::vector<std::string> names;
    DIR* pDir = opendir(nativeFolder.c_str());
    if (!pDir)
        return names;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string name = pEntry->d_name, converted;
        if (name != "." && name != ".." && !Convert("CP932", "UTF-8", name, &converted))
            names.push_back(name);
    }
    closedir(pDir);
    return names;
}

#endif

std::string TextToUtf8(const char* lpszText)
{
    // Character by character, so that one bad byte costs one U+FFFD.
    // The lead bytes of code page 932 itself, not of whatever code page
    // the runtime was set to: the files are code page 932 everywhere.
    std::string out;
    for (size_t i = 0; lpszText[i];) {
        size_t n = IsCp932Lead((unsigned char)lpszText[i]) && lpszText[i + 1] ? 2 : 1;
        std::string utf8;
        if (CharToUtf8(std::string(lpszText + i, n), &utf8)) {
            out += utf8;
            i += n;
        } else {
            // A lead byte without a valid trail byte is bad alone; the
            // byte after it starts afresh.
            out += "\xEF\xBF\xBD";
            i++;
        }
    }
    return out;
}

std::string Json(const char* lpszText)
{
    std::string utf8 = TextToUtf8(lpszText), out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char buf[8];
            snprintf(buf, sizeof(buf), "\\u%04x", c);
            out += buf;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}
