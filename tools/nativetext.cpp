#include "nativetext.h"

#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32

#include "platform/wide.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <shellapi.h>

// On Windows too the tools speak UTF-8: arguments come from the wide
// command line, whatever code page the system runs in, and output goes to
// a console as UTF-16 and to a file or pipe as UTF-8.

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

std::string ToUtf8(const wchar_t* lpszWide, size_t nLen)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, lpszWide, (int)nLen, NULL, 0, NULL, NULL);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, lpszWide, (int)nLen, &out[0], n, NULL, NULL);
    return out;
}

// A console's stream: what the tool prints (UTF-8) comes through a pipe
// to a thread that shows it with WriteConsoleW, so the console shows the
// characters whatever its code page.
struct ConsoleRelay {
    int nFd;
    HANDLE hConsole;
    HANDLE hRead;
    HANDLE hThread;
};
ConsoleRelay g_aRelays[2];

DWORD WINAPI RelayMain(LPVOID lpParam)
{
    ConsoleRelay* pRelay = (ConsoleRelay*)lpParam;
    std::string pending;
    char buf[4096];
    DWORD dwRead;
    while (ReadFile(pRelay->hRead, buf, sizeof(buf), &dwRead, NULL) && dwRead > 0) {
        pending.append(buf, dwRead);
        // Hold back a character cut at the end of this read.
        size_t nWhole = pending.size(), nBack = 0;
        while (nBack < 3 && nBack < nWhole && ((unsigned char)pending[nWhole - 1 - nBack] & 0xC0) == 0x80)
            nBack++;
        if (nBack < nWhole) {
            unsigned char c = (unsigned char)pending[nWhole - 1 - nBack];
            size_t nNeed = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (nNeed > nBack + 1)
                nWhole -= nBack + 1;
        }
        std::wstring wide(nWhole + 1, L'\0');
        int n = MultiByteToWideChar(CP_UTF8, 0, pending.data(), (int)nWhole, &wide[0], (int)wide.size());
        DWORD dwWritten;
        if (n > 0)
            WriteConsoleW(pRelay->hConsole, wide.data(), (DWORD)n, &dwWritten, NULL);
        pending.erase(0, nWhole);
    }
    CloseHandle(pRelay->hRead);
    return 0;
}

void StartRelay(ConsoleRelay* pRelay, int nFd, DWORD dwStdHandle)
{
    // A handle of its own: putting the pipe in the stream's place closes
    // the stream's console handle.
    HANDLE hStd = GetStdHandle(dwStdHandle), hConsole, hRead, hWrite;
    DWORD dwMode;
    if (hStd == INVALID_HANDLE_VALUE || !GetConsoleMode(hStd, &dwMode) ||
        !DuplicateHandle(GetCurrentProcess(), hStd, GetCurrentProcess(), &hConsole, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return;
    if (!CreatePipe(&hRead, &hWrite, NULL, 0)) {
        CloseHandle(hConsole);
        return;
    }
    int nPipeFd = _open_osfhandle((intptr_t)hWrite, _O_WRONLY | _O_BINARY);
    if (nPipeFd < 0 || _dup2(nPipeFd, nFd) != 0) {
        if (nPipeFd >= 0)
            _close(nPipeFd);
        else
            CloseHandle(hWrite);
        CloseHandle(hRead);
        CloseHandle(hConsole);
        return;
    }
    _close(nPipeFd);
    pRelay->nFd = nFd;
    pRelay->hConsole = hConsole;
    pRelay->hRead = hRead;
    pRelay->hThread = CreateThread(NULL, 0, RelayMain, pRelay, 0, NULL);
}

// At exit: the pipes are closed, so each thread sees the end and has
// shown everything before the process goes.
void StopRelays(void)
{
    fflush(stdout);
    fflush(stderr);
    for (ConsoleRelay& relay : g_aRelays) {
        if (!relay.hThread)
            continue;
        _close(relay.nFd);
        WaitForSingleObject(relay.hThread, INFINITE);
    }
}

} // namespace

void StartNativeText(int* pArgc, char*** pArgv)
{
    static std::vector<std::string> s_args;
    static std::vector<char*> s_argv;
    int nArgs = 0;
    LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (ppArgs) {
        for (int i = 0; i < nArgs; i++)
            s_args.push_back(ToUtf8(ppArgs[i], wcslen(ppArgs[i])));
        LocalFree(ppArgs);
        for (std::string& arg : s_args)
            s_argv.push_back(&arg[0]);
        s_argv.push_back(NULL);
        *pArgc = nArgs;
        *pArgv = s_argv.data();
    }
    StartRelay(&g_aRelays[0], 1, STD_OUTPUT_HANDLE);
    StartRelay(&g_aRelays[1], 2, STD_ERROR_HANDLE);
    if (g_aRelays[0].hThread || g_aRelays[1].hThread)
        atexit(StopRelays);
}

std::vector<std::string> UnrepresentableNames(const std::string& nativeFolder)
{
    std::vector<std::string> names;
    std::wstring folder;
    WIN32_FIND_DATAW fd;
    if (!ToWide(CP_UTF8, nativeFolder + "\\*", &folder))
        return names;
    HANDLE hFind = FindFirstFileW(folder.c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string narrow;
        if (!PlatNarrow(fd.cFileName, wcslen(fd.cFileName), &narrow))
            names.push_back(ToUtf8(fd.cFileName, wcslen(fd.cFileName)));
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return names;
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
    return n > 0 && n < 32768 ? ToUtf8(szDir, n) : std::string();
}

std::string LastSystemError()
{
    DWORD dwError = GetLastError();
    if (dwError == 0)
        return std::string();
    wchar_t szText[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, dwError, 0, szText,
                             512, NULL);
    std::string text = ToUtf8(szText, n);
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
    if (!ToWide(CP_UTF8, nativePath, &path) || !ToWide(CP_UTF8, nativeFolder, &folder) ||
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
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

void StartNativeText(int* pArgc, char*** pArgv)
{
    (void)pArgc;
    (void)pArgv;
}

std::vector<std::string> UnrepresentableNames(const std::string& nativeFolder)
{
    std::vector<std::string> names;
    DIR* pDir = opendir(nativeFolder.c_str());
    if (!pDir)
        return names;
    while (struct dirent* pEntry = readdir(pDir)) {
        std::string name = pEntry->d_name, converted;
        if (name != "." && name != ".." && !TextFromNative(name.c_str(), &converted))
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


// Both directions go through the seam, so the tools take and show exactly
// the names the library does on either side.
bool TextFromNative(const char* lpszNative, std::string* pOut)
{
    // Code page 932 never takes more bytes than UTF-8.
    std::vector<char> buf(strlen(lpszNative) + 1);
    if (!PlatTextFromNative(lpszNative, buf.data(), (DWORD)buf.size()))
        return false;
    *pOut = buf.data();
    return true;
}

std::string TextToUtf8(const char* lpszText)
{
    // Character by character, so that one bad byte costs one U+FFFD. The
    // seam shows a character with no form as '?'.
    std::string out;
    for (size_t i = 0; lpszText[i];) {
        size_t n = PlatIsLeadByte((unsigned char)lpszText[i]) && lpszText[i + 1] ? 2 : 1;
        char szChar[3] = { lpszText[i], n == 2 ? lpszText[i + 1] : '\0', 0 }, szUtf8[8];
        if (PlatTextToNative(szChar, szUtf8, sizeof(szUtf8)) && (strcmp(szUtf8, "?") != 0 || szChar[0] == '?')) {
            out += szUtf8;
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
