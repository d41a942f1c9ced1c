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


std::vector<SpecialEntry> SpecialEntries(const std::string& nativeFolder)
{
    (void)nativeFolder;
    return std::vector<SpecialEntry>();
}

std::string NativeCurrentDirectory()
{
    wchar_t szDir[32768];
    DWORD n = GetCurrentDirectoryW(32768, szDir);
    return n > 0 && n < 32768 ? FromWide(CP_ACP, std::wstring(szDir, n)) : std::string();
}

std::string LastSystemError()
{
    DWORD dwError = GetLastError();
    if (dwError == 0)
        return std::string();
    char szText[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwError, 0, szText,
                             sizeof(szText), NULL);
    std::string text(szText, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

void ClearSystemError()
{
    SetLastError(0);
}

bool IsInsideFolder(const std::string& nativePath, const std::string& nativeFolder)
{
    wchar_t szPath[MAX_PATH * 4], szFolder[MAX_PATH * 4];
    std::wstring path, folder;
    if (!ToWide(CP_ACP, nativePath, &path) || !ToWide(CP_ACP, nativeFolder, &folder) ||
        !GetFullPathNameW(path.c_str(), MAX_PATH * 4, szPath, NULL) ||
        !GetFullPathNameW(folder.c_str(), MAX_PATH * 4, szFolder, NULL))
        return false;
    std::wstring p = szPath, f = szFolder;
    if (f.empty() || f.back() != L'\\')
        f += L'\\';
    if (p.empty() || p.back() != L'\\')
        p += L'\\';
    return p.size() >= f.size() && CompareStringOrdinal(p.c_str(), (int)f.size(), f.c_str(), (int)f.size(), TRUE) == CSTR_EQUAL;
}

#else

#include <dirent.h>
#include <errno.h>
#include <iconv.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

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


std::vector<SpecialEntry> SpecialEntries(const std::string& nativeFolder)
{
    std::vector<SpecialEntry> entries;
    DIR* pDir = opendir(nativeFolder.c_str());
    if (!pDir)
        return entries;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string path = nativeFolder + "/" + pEntry->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode) && stat(path.c_str(), &st) != 0)
            entries.push_back({ pEntry->d_name, "a symbolic link that leads nowhere or round in a loop" });
        else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            entries.push_back({ pEntry->d_name, "not a file but a FIFO, a socket or a device; never opened" });
    }
    closedir(pDir);
    return entries;
}

std::string NativeCurrentDirectory()
{
    char* p = getcwd(NULL, 0);
    std::string dir = p ? p : "";
    free(p);
    return dir;
}

std::string LastSystemError()
{
    return errno ? strerror(errno) : std::string();
}

void ClearSystemError()
{
    errno = 0;
}

bool IsInsideFolder(const std::string& nativePath, const std::string& nativeFolder)
{
    // The path's folder is resolved; its last part is taken as it is
    // unless it exists (it may itself be a link to the folder).
    char szResolved[PATH_MAX];
    std::string path;
    if (realpath(nativePath.c_str(), szResolved)) {
        path = szResolved;
    } else {
        size_t nSlash = nativePath.find_last_of('/');
        std::string parent = nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : nativePath.substr(0, nSlash);
        if (!realpath(parent.c_str(), szResolved))
            return false;
        path = std::string(szResolved) + "/" + nativePath.substr(nSlash == std::string::npos ? 0 : nSlash + 1);
    }
    if (!realpath(nativeFolder.c_str(), szResolved))
        return false;
    std::string folder = szResolved;
    if (folder.back() != '/')
        folder += '/';
    path += '/';
    return path.compare(0, folder.size(), folder) == 0;
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
