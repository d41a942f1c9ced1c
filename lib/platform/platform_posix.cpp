// The seam on POSIX. It makes a POSIX system look like Win32 as far as the
// library relies on it; platform.h lists where the two still differ.
// Names arrive as code-page-932 strings with backslashes and leave for the
// kernel as UTF-8 with slashes, the way Wine stores the names of a Windows
// program running under a Japanese locale.
#ifndef _WIN32

#include "platform/platform.h"

#include "platform/converter_posix.h"
#include "platform/host.h"
#include "platform/tempfiles.h"

#include <algorithm>
#include <pthread.h>
#include <signal.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <string.h>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

// --- Code page 932 ------------------------------------------------------

bool IsSeparatorAt(const std::string& s, size_t i)
{
    return s[i] == '\\' && PlatMbsByteType(s.c_str(), i) == PLAT_MBC_SINGLE;
}

// Code page 932 to UTF-8 (lpszTo "UTF-8") or back, with this thread's
// converters.
bool Convert(const char* lpszTo, const char* lpszFrom, const std::string& in, std::string* pOut)
{
    thread_local Converter toUtf8("UTF-8", "CP932"), toCp932("CP932", "UTF-8");
    bool bToUtf8 = strcmp(lpszTo, "UTF-8") == 0;
    if (strcmp(bToUtf8 ? "CP932" : "UTF-8", lpszFrom) != 0)
        return false;
    return (bToUtf8 ? toUtf8 : toCp932).Run(in.data(), in.size(), pOut);
}

// UTF-8 as code page 932. iconv also takes look-alikes one way (U+301C
// WAVE DASH as 0x8160, which reads back as U+FF5E; U+00A5 YEN SIGN as
// 0x5C, a backslash): only text that reads back as itself has a form.
bool ToCp932(const std::string& utf8, std::string* pOut)
{
    std::string back;
    return Convert("CP932", "UTF-8", utf8, pOut) && Convert("UTF-8", "CP932", *pOut, &back) && back == utf8;
}

// A library name (code page 932, backslashes, drive Z: for the root) as
// a name for the kernel. Fails for other drives and unconvertible bytes.
bool ToHostPath(const char* lpszPath, std::string* pOut)
{
    std::string s = lpszPath;
    if (s.size() >= 2 && s[1] == ':' && ((s[0] | 0x20) >= 'a' && (s[0] | 0x20) <= 'z')) {
        if ((s[0] | 0x20) != 'z')
            return false;
        s.erase(0, 2);
        if (s.empty())
            s = "\\";
    }
    if (s.empty())
        return false;
    std::string utf8;
    if (!Convert("UTF-8", "CP932", s, &utf8))
        return false;
    // UTF-8 never has 0x5C inside a multibyte sequence, so every backslash
    // left now is a real separator.
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    *pOut = utf8;
    return true;
}

// A kernel name as a library name: code page 932 with backslashes; an
// absolute path gets drive Z:.
bool FromHostPath(const std::string& host, std::string* pOut)
{
    std::string s;
    if (!ToCp932(host, &s))
        return false;
    for (size_t i = 0; i < s.size(); i++) {
        if (PlatIsLeadByte((unsigned char)s[i]) && i + 1 < s.size())
            i++;
        else if (s[i] == '/')
            s[i] = '\\';
    }
    if (!s.empty() && s[0] == '\\')
        s.insert(0, "Z:");
    *pOut = s;
    return true;
}

bool CopyOut(const std::string& s, char* lpszBuf, DWORD dwBufSize)
{
    if (s.size() + 1 > dwBufSize)
        return false;
    memcpy(lpszBuf, s.c_str(), s.size() + 1);
    return true;
}

// Handles are file descriptors shifted by one, so that null stays "none".
int FdOf(HANDLE h)
{
    return (int)(intptr_t)h - 1;
}

HANDLE HandleOf(int fd)
{
    return (HANDLE)(intptr_t)(fd + 1);
}

bool IsReadOnly(const struct stat& st)
{
    return !S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

// --- Enumeration --------------------------------------------------------

struct FindState {
    std::vector<PlatFindData> aEntries;
    size_t nNext;
};

// The characters of a code-page-932 name, each one or two bytes.
std::vector<std::string> SplitChars(const char* lpsz)
{
    std::vector<std::string> aChars;
    for (size_t i = 0; lpsz[i]; i++) {
        size_t n = PlatIsLeadByte((unsigned char)lpsz[i]) && lpsz[i + 1] ? 2 : 1;
        aChars.emplace_back(lpsz + i, n);
        i += n - 1;
    }
    return aChars;
}

bool SameChar(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    if (a.size() == 1) {
        unsigned char x = (unsigned char)a[0], y = (unsigned char)b[0];
        if (x >= 'A' && x <= 'Z')
            x += 0x20;
        if (y >= 'A' && y <= 'Z')
            y += 0x20;
        return x == y;
    }
    return a == b;
}

bool MatchChars(const std::vector<std::string>& p, size_t ip, const std::vector<std::string>& n, size_t in)
{
    while (ip < p.size()) {
        if (p[ip] == "*") {
            for (size_t k = in; k <= n.size(); k++)
                if (MatchChars(p, ip + 1, n, k))
                    return true;
            return false;
        }
        if (in >= n.size())
            return false;
        if (p[ip] != "?" && !SameChar(p[ip], n[in]))
            return false;
        ip++;
        in++;
    }
    return in == n.size();
}

// Win32 wildcards: * and ? with letter case ignored, and a trailing ".*"
// that also matches names with no dot at all ("*.*" matches everything).
bool MatchPattern(const char* lpszPattern, const char* lpszName)
{
    std::vector<std::string> p = SplitChars(lpszPattern), n = SplitChars(lpszName);
    if (MatchChars(p, 0, n, 0))
        return true;
    if (p.size() >= 2 && p[p.size() - 2] == "." && p.back() == "*") {
        p.resize(p.size() - 2);
        return MatchChars(p, 0, n, 0);
    }
    return false;
}

// A UTF-8 name in code page 932 with '?' for each character that has no
// form there (and for each byte that is no UTF-8), cut to fit MAX_PATH.
std::string ShownCp932(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::string ch;
        if (!ToCp932(utf8.substr(i, n), &ch))
            ch = "?";
        if (out.size() + ch.size() >= MAX_PATH)
            break;
        out += ch;
        i += n;
    }
    return out;
}

bool FillFindData(const std::string& hostPath, const std::string& name, PlatFindData* pData)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0 || name.size() >= MAX_PATH)
        return false;
    memset(pData, 0, sizeof(*pData));
    if (S_ISDIR(st.st_mode))
        pData->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else
        pData->dwFileAttributes = IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    if (!S_ISDIR(st.st_mode)) {
        pData->nFileSizeLow = (DWORD)((QWORD)st.st_size & 0xFFFFFFFFu);
        pData->nFileSizeHigh = (DWORD)((QWORD)st.st_size >> 32);
    }
    memcpy(pData->cFileName, name.c_str(), name.size() + 1);
    return true;
}

// Second bytes of double-byte characters are not letters: they keep their
// order, so two names that differ only there still sort one way.
bool NoCaseLess(const PlatFindData& a, const PlatFindData& b)
{
    bool bAfterLead = false;
    for (size_t i = 0;; i++) {
        unsigned char x = (unsigned char)a.cFileName[i], y = (unsigned char)b.cFileName[i];
        if (!bAfterLead) {
            if (x >= 'a' && x <= 'z')
                x -= 0x20;
            if (y >= 'a' && y <= 'z')
                y -= 0x20;
        }
        if (x != y || x == 0)
            return x < y;
        bAfterLead = !bAfterLead && PlatIsLeadByte(x);
    }
}

// --- Full path names ----------------------------------------------------

// Splits a code-page-932 path at its separators.
std::vector<std::string> SplitPath(const std::string& s)
{
    std::vector<std::string> aParts;
    std::string cur;
    for (size_t i = 0; i < s.size(); i++) {
        if (IsSeparatorAt(s, i)) {
            aParts.push_back(cur);
            cur.clear();
        } else {
            cur += s[i];
        }
    }
    aParts.push_back(cur);
    return aParts;
}

bool CurrentDirectory(std::string* pOut)
{
    char buf[4096];
    if (!getcwd(buf, sizeof(buf)))
        return false;
    return FromHostPath(buf, pOut);
}

} // namespace

// --- Files --------------------------------------------------------------

HANDLE PlatOpenFile(const char* lpszName, int bWrite)
{
    std::string host;
    if (!ToHostPath(lpszName, &host))
        return NULL;
    struct stat st;
    bool bExists = stat(host.c_str(), &st) == 0;
    if (bExists && (!S_ISREG(st.st_mode) || (bWrite && IsReadOnly(st))))
        return NULL;
    // Non-blocking, in case a FIFO took the name since: the open returns
    // at once and the check below refuses it.
    int fd = bWrite ? open(host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666)
                    : open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return NULL;
    // O_NONBLOCK stays: it changes nothing for a regular file, and
    // clearing it cost two calls on every open.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NULL;
    }
    return HandleOf(fd);
}

namespace {

const int INTERRUPT_SIGNALS[] = { SIGINT, SIGTERM, SIGHUP, SIGPIPE };

void DeleteHostName(const void* pName)
{
    (void)unlink((const char*)pName);
}

void OnInterrupt(int nSignal)
{
    DeleteTempEntries(DeleteHostName);
    signal(nSignal, SIG_DFL);
    raise(nSignal);
}

// Keeps the reason of a failure while the cleanup after it makes calls of
// its own.
struct KeepErrno {
    int nErrno = errno;
    ~KeepErrno() { errno = nErrno; }
};

// Creates a file only where nothing of that name exists, not even a
// dangling symbolic link, registered for removal on an interrupt.
int CreateTempFile(const std::string& host, TempEntry** ppEntry)
{
    TempEntry* pEntry = ClaimTempEntry(host.c_str(), host.size() + 1);
    if (!pEntry) {
        errno = host.size() >= TEMP_NAME_BYTES ? ENAMETOOLONG : ENOMEM;
        return -1;
    }
    // An interrupt on this thread inside the window would wait for it.
    sigset_t interrupts, old;
    sigemptyset(&interrupts);
    for (int nSignal : INTERRUPT_SIGNALS)
        sigaddset(&interrupts, nSignal);
    pthread_sigmask(SIG_BLOCK, &interrupts, &old);
    int fd = -1;
    if (EnterTempCreation()) {
        fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        KeepErrno keep;
        LeaveTempCreation(pEntry, fd >= 0);
    } else {
        ForgetTempEntry(pEntry);
        errno = EINTR;
    }
    KeepErrno keep;
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    *ppEntry = fd >= 0 ? pEntry : NULL;
    return fd;
}

// fsync of whatever lives at a host path, a file or a folder.
bool SyncHostPath(const std::string& host)
{
    int fd = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool bOk = fsync(fd) == 0;
    KeepErrno keep;
    close(fd);
    return bOk;
}

// The one move of the seam. Windows will not replace a read-only file,
// and a read-only file is one that cannot be opened for writing: rename
// must not get round that unless the caller means to replace it. The name
// itself counts: a link is replaced, whatever it leads to. bDurable: the
// rename reaches the disk (an entry of the folder, there once the folder
// is synced) before the call returns.
bool MoveOver(const std::string& from, const std::string& to, bool bReadOnlyToo, bool bDurable)
{
    struct stat st;
    if (!bReadOnlyToo && lstat(to.c_str(), &st) == 0 && IsReadOnly(st)) {
        errno = EACCES;
        return false;
    }
    if (rename(from.c_str(), to.c_str()) != 0)
        return false;
    if (!bDurable)
        return true;
    size_t nSlash = to.rfind('/');
    return SyncHostPath(nSlash == std::string::npos ? "." : nSlash == 0 ? "/" : to.substr(0, nSlash));
}

// The permission bits that give a file the read-only attribute, or take
// it away.
mode_t WithReadOnly(mode_t mode, bool bReadOnly)
{
    return bReadOnly ? mode & ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
}

} // namespace

int PlatBeginReplace(PlatReplace* p, const char* lpszTarget, const char* lpszTemp, DWORD dwFlags)
{
    memset(p, 0, sizeof(*p));
    std::string target, temp;
    if (strlen(lpszTarget) >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return 0;
    }
    if (!ToHostPath(lpszTarget, &target)) {
        errno = ENOENT; // another drive, or a name with no form here
        return 0;
    }
    strcpy(p->szTarget, lpszTarget);
    p->dwFlags = dwFlags;
    struct stat st, lst;
    if (stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return 0;
        }
        // A link to a file a standard stream writes (/dev/stdout with the
        // output redirected to a file) names that stream: the link, a
        // system's own, is never replaced.
        bool bStream = false;
        for (int nStream = 0; nStream <= 2 && S_ISREG(st.st_mode); nStream++) {
            struct stat sst;
            bStream = bStream || (fstat(nStream, &sst) == 0 && sst.st_dev == st.st_dev && sst.st_ino == st.st_ino &&
                                  lstat(target.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode));
        }
        if (!S_ISREG(st.st_mode) || bStream) {
            // As a shell's redirection would: a FIFO waits for its reader.
            int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | (bStream ? O_TRUNC : 0));
            if (fd < 0)
                return 0;
            p->bDirect = 1;
            p->hFile = HandleOf(fd);
            return 1;
        }
    }
    if (!(dwFlags & PLAT_REPLACE_READONLY) && lstat(target.c_str(), &lst) == 0 && IsReadOnly(lst)) {
        errno = EACCES;
        return 0;
    }
    if (strlen(lpszTemp) >= MAX_PATH) {
        errno = ENAMETOOLONG;
        return 0;
    }
    if (!ToHostPath(lpszTemp, &temp)) {
        errno = ENOENT;
        return 0;
    }
    strcpy(p->szTemp, lpszTemp);
    TempEntry* pEntry = NULL;
    int fd = CreateTempFile(temp, &pEntry);
    if (fd < 0)
        return errno == EEXIST ? -1 : 0;
    p->hFile = HandleOf(fd);
    p->pTempEntry = pEntry;
    return 1;
}

int PlatFlushFile(HANDLE hFile)
{
    return fsync(FdOf(hFile)) == 0;
}

int PlatEndReplace(PlatReplace* p, int bCommit)
{
    int fd = p->hFile ? FdOf(p->hFile) : -1;
    p->hFile = NULL;
    bool bOk = bCommit && fd >= 0;
    if (p->bDirect) {
        // A device or a pipe keeps nothing to flush; close reports what
        // the last writes could not.
        bOk = close(fd) == 0 && bOk;
        return bOk;
    }
    std::string target, temp;
    ToHostPath(p->szTarget, &target);
    ToHostPath(p->szTemp, &temp);
    if (bOk && !(p->dwFlags & PLAT_REPLACE_NO_FLUSH))
        bOk = fsync(fd) == 0;
    if (fd >= 0 && close(fd) != 0)
        bOk = false;
    struct stat st;
    if (bOk && (p->dwFlags & PLAT_REPLACE_KEEP_READONLY) && lstat(target.c_str(), &st) == 0 && IsReadOnly(st) &&
        stat(temp.c_str(), &st) == 0)
        bOk = chmod(temp.c_str(), WithReadOnly(st.st_mode & 07777, true)) == 0;
    bOk = bOk && MoveOver(temp, target, (p->dwFlags & PLAT_REPLACE_READONLY) != 0, true);
    if (!bOk) {
        // unlink asks nothing of the file's own permissions (a file made
        // under umask 0277 goes too).
        KeepErrno keep;
        (void)unlink(temp.c_str());
    }
    ForgetTempEntry((TempEntry*)p->pTempEntry);
    p->pTempEntry = NULL;
    return bOk;
}

void PlatRemoveTempFilesOnInterrupt(void)
{
    struct sigaction sa, old;
    memset(&sa, 0, sizeof(sa));
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    for (int nSignal : INTERRUPT_SIGNALS)
        if (sigaction(nSignal, NULL, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(nSignal, &sa, NULL);
}

int PlatIsLink(const char* lpszPath)
{
    std::string host;
    struct stat st;
    return ToHostPath(lpszPath, &host) && lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int PlatIsFileInUse(const char* lpszName)
{
    std::string host;
    struct stat st;
    return ToHostPath(lpszName, &host) && stat(host.c_str(), &st) == 0 ? 0 : -1;
}

void PlatCloseFile(HANDLE hFile)
{
    if (hFile)
        (void)close(FdOf(hFile)); // nothing to report: writes were checked as they happened
}

int PlatReadFile(HANDLE hFile, void* pBuffer, DWORD dwSize, DWORD* pdwDone)
{
    // read() may return less than asked before the end; ReadFile on a disk
    // file does not, so keep reading until the count or the end of file.
    DWORD dwDone = 0;
    *pdwDone = 0;
    while (dwDone < dwSize) {
        ssize_t n = read(FdOf(hFile), (char*)pBuffer + dwDone, dwSize - dwDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (dwDone)
                (void)lseek(FdOf(hFile), -(off_t)dwDone, SEEK_CUR);
            return 0;
        }
        if (n == 0)
            break;
        dwDone += (DWORD)n;
    }
    *pdwDone = dwDone;
    return 1;
}

int PlatWriteFile(HANDLE hFile, const void* pBuffer, DWORD dwSize, DWORD* pdwDone)
{
    DWORD dwDone = 0;
    *pdwDone = 0;
    while (dwDone < dwSize) {
        ssize_t n = write(FdOf(hFile), (const char*)pBuffer + dwDone, dwSize - dwDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *pdwDone = dwDone;
            return 0;
        }
        dwDone += (DWORD)n;
    }
    *pdwDone = dwDone;
    return 1;
}

int PlatSetFilePos(HANDLE hFile, int64_t nDistance, int nMethod, QWORD* pqwPos)
{
    static const int anWhence[3] = { SEEK_SET, SEEK_CUR, SEEK_END };
    off_t nPos = lseek(FdOf(hFile), (off_t)nDistance, anWhence[nMethod]);
    if (nPos < 0)
        return 0;
    if (pqwPos)
        *pqwPos = (QWORD)nPos;
    return 1;
}

QWORD PlatGetFileSize(HANDLE hFile)
{
    struct stat st;
    if (fstat(FdOf(hFile), &st) != 0)
        return 0;
    return (QWORD)st.st_size;
}

int PlatGetWriteTime(HANDLE hFile, SYSTEMTIME* pTime)
{
    struct stat st;
    struct tm tmLocal;
    if (!hFile || fstat(FdOf(hFile), &st) != 0)
        return 0;
    time_t t = st.st_mtim.tv_sec;
    if (!localtime_r(&t, &tmLocal))
        return 0;
    pTime->wYear = (WORD)(tmLocal.tm_year + 1900);
    pTime->wMonth = (WORD)(tmLocal.tm_mon + 1);
    pTime->wDayOfWeek = (WORD)tmLocal.tm_wday;
    pTime->wDay = (WORD)tmLocal.tm_mday;
    pTime->wHour = (WORD)tmLocal.tm_hour;
    pTime->wMinute = (WORD)tmLocal.tm_min;
    pTime->wSecond = (WORD)(tmLocal.tm_sec > 59 ? 59 : tmLocal.tm_sec);
    pTime->wMilliseconds = (WORD)(st.st_mtim.tv_nsec / 1000000);
    return 1;
}

int PlatDeleteFile(const char* lpszName)
{
    std::string host;
    struct stat st;
    if (!ToHostPath(lpszName, &host) || lstat(host.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode) || IsReadOnly(st))
        return 0;
    return unlink(host.c_str()) == 0;
}

int PlatMoveFile(const char* lpszFrom, const char* lpszTo)
{
    std::string from, to;
    return ToHostPath(lpszFrom, &from) && ToHostPath(lpszTo, &to) && MoveOver(from, to, false, false);
}

// --- Folders and names --------------------------------------------------

int PlatCreateDirectory(const char* lpszPath)
{
    std::string host;
    if (!ToHostPath(lpszPath, &host))
        return 0;
    return mkdir(host.c_str(), 0777) == 0;
}

int PlatRemoveDirectory(const char* lpszPath)
{
    std::string host;
    if (!ToHostPath(lpszPath, &host))
        return 0;
    return rmdir(host.c_str()) == 0;
}

DWORD PlatGetFileAttributes(const char* lpszPath)
{
    std::string host;
    struct stat st;
    if (!ToHostPath(lpszPath, &host) || stat(host.c_str(), &st) != 0)
        return INVALID_FILE_ATTRIBUTES;
    return PlatHostAttributes(st);
}

DWORD PlatHostAttributes(const struct stat& st)
{
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return IsReadOnly(st) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

int PlatSetFileAttributes(const char* lpszPath, DWORD dwAttributes)
{
    std::string host;
    struct stat st;
    if (!ToHostPath(lpszPath, &host) || stat(host.c_str(), &st) != 0)
        return 0;
    if (S_ISDIR(st.st_mode))
        return 1; // folders carry no read-only bit that matters here
    return chmod(host.c_str(), WithReadOnly(st.st_mode & 07777, (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0)) == 0;
}

HANDLE PlatFindFirst(const char* lpszPattern, PlatFindData* pData)
{
    std::string pattern = lpszPattern;
    if (pattern.empty())
        return NULL;
    // Split at the last separator: the folder, and the name or wildcard.
    size_t nCut = std::string::npos;
    for (size_t i = 0; i < pattern.size(); i++)
        if (IsSeparatorAt(pattern, i))
            nCut = i;
    if (nCut == pattern.size() - 1)
        return NULL;
    std::string folder = nCut == std::string::npos ? std::string() : pattern.substr(0, nCut + 1);
    std::string name = nCut == std::string::npos ? pattern : pattern.substr(nCut + 1);
    if (nCut == std::string::npos && name.size() >= 2 && name[1] == ':') {
        folder = name.substr(0, 2);
        name = name.substr(2);
    }

    FindState* pState = new FindState;
    pState->nNext = 0;
    PlatFindData fd;
    if (name.find_first_of("*?") == std::string::npos) {
        std::string host;
        if (ToHostPath(pattern.c_str(), &host) && FillFindData(host, name, &fd))
            pState->aEntries.push_back(fd);
    } else {
        std::string hostFolder;
        if (folder.empty())
            hostFolder = ".";
        else if (!ToHostPath(folder.c_str(), &hostFolder))
            hostFolder.clear();
        DIR* pDir = hostFolder.empty() ? NULL : opendir(hostFolder.c_str());
        if (pDir) {
            while (struct dirent* pEntry = readdir(pDir)) {
                std::string entryName;
                // A name with no code-page-932 form is handed out flagged,
                // with '?' for what it lacks; only "*" patterns can meet
                // it, as no other pattern could name its characters.
                bool bExact = ToCp932(pEntry->d_name, &entryName);
                if (!bExact)
                    entryName = ShownCp932(pEntry->d_name);
                if (bExact ? !MatchPattern(name.c_str(), entryName.c_str()) : name != "*" && name != "*.*")
                    continue;
                if (FillFindData(hostFolder + "/" + pEntry->d_name, entryName, &fd)) {
                    fd.bNoCp932Name = !bExact;
                    pState->aEntries.push_back(fd);
                }
            }
            closedir(pDir);
        }
        std::sort(pState->aEntries.begin(), pState->aEntries.end(), NoCaseLess);
    }
    if (pState->aEntries.empty()) {
        delete pState;
        return NULL;
    }
    *pData = pState->aEntries[pState->nNext++];
    return pState;
}

int PlatFindNext(HANDLE hFind, PlatFindData* pData)
{
    FindState* pState = (FindState*)hFind;
    if (pState->nNext >= pState->aEntries.size())
        return 0;
    *pData = pState->aEntries[pState->nNext++];
    return 1;
}

void PlatFindClose(HANDLE hFind)
{
    delete (FindState*)hFind;
}

DWORD PlatGetFullPathName(const char* lpszPath, DWORD dwBufSize, char* lpszBuf, char** ppFilePart)
{
    std::string path = lpszPath, cwd;
    if (path.empty())
        return 0;
    bool bDrive = path.size() >= 2 && path[1] == ':';
    // A full path needs no current folder, which may be gone or have no
    // library form.
    if (!(bDrive && path.size() >= 3 && path[2] == '\\') && !CurrentDirectory(&cwd))
        return 0;
    std::string root, rest;
    if (bDrive && path.size() >= 3 && path[2] == '\\') {
        root = path.substr(0, 2);
        rest = path.substr(3);
    } else if (bDrive) { // "Z:name" is relative to that drive's current folder
        root = path.substr(0, 2);
        rest = cwd.substr(3) + "\\" + path.substr(2);
    } else if (path[0] == '\\') {
        root = cwd.substr(0, 2);
        rest = path.substr(1);
    } else {
        root = cwd.substr(0, 2);
        rest = cwd.substr(3) + "\\" + path;
    }

    std::vector<std::string> aParts = SplitPath(rest), aOut;
    bool bTrailing = !rest.empty() && aParts.back().empty();
    for (const std::string& part : aParts) {
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!aOut.empty())
                aOut.pop_back();
            continue;
        }
        aOut.push_back(part);
    }
    std::string full = root + "\\";
    for (size_t i = 0; i < aOut.size(); i++)
        full += aOut[i] + (i + 1 < aOut.size() || bTrailing ? "\\" : "");
    if (!CopyOut(full, lpszBuf, dwBufSize))
        return 0;
    if (ppFilePart)
        *ppFilePart = aOut.empty() || bTrailing ? NULL : lpszBuf + full.size() - aOut.back().size();
    return (DWORD)full.size();
}

DWORD PlatGetCurrentDirectory(DWORD dwBufSize, char* lpszBuf)
{
    std::string cwd;
    if (!CurrentDirectory(&cwd) || !CopyOut(cwd, lpszBuf, dwBufSize))
        return 0;
    return (DWORD)cwd.size();
}

int PlatSetCurrentDirectory(const char* lpszPath)
{
    std::string host;
    if (!ToHostPath(lpszPath, &host))
        return 0;
    return chdir(host.c_str()) == 0;
}

DWORD PlatGetModuleFileName(char* lpszBuf, DWORD dwBufSize)
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string path;
    if (n <= 0)
        return 0;
    buf[n] = 0;
    if (!FromHostPath(buf, &path) || !CopyOut(path, lpszBuf, dwBufSize))
        return 0;
    return (DWORD)path.size();
}

// --- Resources: a POSIX program carries none ----------------------------

HRSRC PlatFindResource(HMODULE, const char*, const char*)
{
    return NULL;
}

HGLOBAL PlatLoadResource(HMODULE, HRSRC)
{
    return NULL;
}

DWORD PlatSizeofResource(HMODULE, HRSRC)
{
    return 0;
}

void* PlatLockResource(HGLOBAL)
{
    return NULL;
}

void PlatFreeResource(HGLOBAL)
{
}

// --- Command-line programs ----------------------------------------------

int PlatPathFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize)
{
    std::string path;
    return FromHostPath(lpszNative, &path) && CopyOut(path, lpszBuf, dwBufSize);
}

int PlatTextFromNative(const char* lpszNative, char* lpszBuf, DWORD dwBufSize)
{
    std::string text;
    return ToCp932(lpszNative, &text) && CopyOut(text, lpszBuf, dwBufSize);
}

int PlatTextToNative(const char* lpszText, char* lpszBuf, DWORD dwBufSize)
{
    // Character by character, so that one unconvertible byte costs one '?'.
    std::string out;
    for (size_t i = 0; lpszText[i];) {
        size_t n = PlatIsLeadByte((unsigned char)lpszText[i]) && lpszText[i + 1] ? 2 : 1;
        std::string utf8;
        out += Convert("UTF-8", "CP932", std::string(lpszText + i, n), &utf8) ? utf8 : "?";
        i += n;
    }
    return CopyOut(out, lpszBuf, dwBufSize);
}

int PlatIsTerminal(int nStream)
{
    return isatty(nStream) ? 1 : 0;
}

void PlatSetStdoutBinary(void)
{
}

#endif

#ifndef _WIN32
bool PlatHostPath(const char* lpszPath, std::string* pOut)
{
    return ToHostPath(lpszPath, pOut);
}
#endif
