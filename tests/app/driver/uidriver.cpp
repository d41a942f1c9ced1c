// A console program that drives update.exe for the end-to-end tests, as
// a user would: it starts the program, waits for its dialogs and message
// boxes, reads their texts and presses their buttons. It also prepares
// the registry of the prefix it runs in.
//
// Commands arrive on stdin one per line, fields separated by tabs, in
// UTF-8; each is answered with one line, "ok" and tab-separated fields,
// or "err" and a reason. Every wait polls with a timeout in milliseconds.
//
//   start EXE CWD [NAME=VALUE...]
//                            start the program, with these variables set in
//                            its environment; answers its process id. A
//                            program started before stays driven in the
//                            background (see use)
//   use PID                  drive that program again
//   foreground               the handle of the foreground window
//   find KIND TIMEOUT        wait for a visible, painted top-level window of
//                            the program: confirm, progress or msgbox (an
//                            ownerless message box); answers handle,
//                            caption, main text and its screen rectangle
//   text HWND ID             a control's text
//   click HWND ID            post a button click
//   escape HWND              post Escape to the window's focused control
//   gone HWND TIMEOUT        wait until the window no longer exists
//   catch HWND ID TEXT PERCENT TIMEOUT
//                            wait until a control of the progress dialog
//                            shows TEXT (a TEXT ending in * matches every
//                            text that starts with the rest) and its bar
//                            PERCENT, then suspend the window's thread
//   hold HWND ID TEXT FOLDER BYTES TIMEOUT
//                            wait until a control of the progress dialog
//                            shows TEXT and a temporary copy (upd*.tmp) in
//                            FOLDER holds at least BYTES bytes, both seen
//                            while the window's thread is suspended, and
//                            leave it suspended: the program is then in
//                            the middle of that file for certain
//   resume                   resume the suspended thread
//   windows                  captions of the program's visible windows
//   exit TIMEOUT             wait for the program to end; its exit code
//   kill                     end every program started that still runs
//   killwhen PATTERN BYTES TIMEOUT
//                            wait until a file matching PATTERN (wildcards
//                            in its last part) holds at least BYTES bytes,
//                            seen again while the program's main thread is
//                            suspended, and end the program there
//   regset KEY VALUE DATA    a string value under HKEY_CURRENT_USER
//   regdel KEY               delete a key and everything below it
//   regdelvalue KEY VALUE
//   lock PATH / unlock       hold files open with no sharing; unlock
//                            closes them all
//   attr PATH [VALUE]        set a file's attributes to VALUE (hex) when
//                            given; answers them (hex)
//   defcaption               the caption of a message box given none
//   quit
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <set>
#include <string>
#include <vector>

namespace {

HANDLE g_hProcess = NULL;
DWORD g_dwProcessId = 0;
DWORD g_dwMainThreadId = 0;
struct Program {
    HANDLE hProcess;
    DWORD dwProcessId;
    DWORD dwMainThreadId;
};
// Programs started before the one driven now.
std::vector<Program> g_background;
HANDLE g_hSuspended = NULL;
std::vector<HANDLE> g_locked;
// The dialogs found so far: while one is being destroyed it may briefly
// look like a message box (its other controls gone first).
std::set<HWND> g_dialogs;

std::wstring Wide(const std::string& s)
{
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), NULL, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), (int)s.size(), &w[0], n);
    return w;
}

std::string Utf8(const std::wstring& w)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

// Texts travel on one line: line breaks and tabs are escaped.
std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

std::string WindowText(HWND hWnd)
{
    wchar_t buf[1024];
    int n = GetWindowTextW(hWnd, buf, 1024);
    return Utf8(std::wstring(buf, n > 0 ? n : 0));
}

std::string ClassName(HWND hWnd)
{
    wchar_t buf[256];
    int n = GetClassNameW(hWnd, buf, 256);
    return Utf8(std::wstring(buf, n > 0 ? n : 0));
}

HWND ParseHwnd(const std::string& s)
{
    return (HWND)(uintptr_t)strtoull(s.c_str(), NULL, 16);
}

bool Painted(HWND hWnd)
{
    if (GetUpdateRect(hWnd, NULL, FALSE))
        return false;
    for (HWND hChild = GetWindow(hWnd, GW_CHILD); hChild; hChild = GetWindow(hChild, GW_HWNDNEXT))
        if (IsWindowVisible(hChild) && GetUpdateRect(hChild, NULL, FALSE))
            return false;
    return true;
}

struct FindState {
    std::string kind;
    HWND hFound;
};

BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam)
{
    FindState* p = (FindState*)lParam;
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid != g_dwProcessId || !IsWindowVisible(hWnd) || ClassName(hWnd) != "#32770")
        return TRUE;
    bool bMatch = false;
    if (p->kind == "confirm")
        bMatch = GetDlgItem(hWnd, 1004) != NULL;
    else if (p->kind == "progress")
        bMatch = GetDlgItem(hWnd, 1001) != NULL;
    else if (p->kind == "msgbox")
        // The confirmation dialog has a static of id -1 too.
        bMatch = GetDlgItem(hWnd, 0xFFFF) != NULL && GetWindow(hWnd, GW_OWNER) == NULL &&
                 GetDlgItem(hWnd, 1004) == NULL && GetDlgItem(hWnd, 1001) == NULL && !g_dialogs.count(hWnd);
    if (!bMatch)
        return TRUE;
    p->hFound = hWnd;
    return FALSE;
}

// Polls cond every few milliseconds until it holds or the time is up.
template <class F> bool Poll(DWORD dwTimeout, F cond)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        if (cond())
            return true;
        if (GetTickCount() - dwStart > dwTimeout)
            return false;
        Sleep(2);
    }
}

DWORD ThreadOf(HWND hWnd)
{
    return GetWindowThreadProcessId(hWnd, NULL);
}

// The size of the largest file matching a pattern; -1 when there is none.
long long LargestFile(const std::wstring& pattern)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(pattern.c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return -1;
    long long nLargest = -1;
    do {
        long long n = (long long)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
        if (n > nLargest)
            nLargest = n;
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return nLargest;
}

// Suspends a thread and waits until it has stopped: SuspendThread alone
// may return while the thread still runs.
bool SuspendAndWait(HANDLE hThread)
{
    if (SuspendThread(hThread) == (DWORD)-1)
        return false;
    CONTEXT ctx;
    ZeroMemory(&ctx, sizeof(ctx));
    ctx.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(hThread, &ctx);
    return true;
}

std::string Reply(const std::vector<std::string>& fields)
{
    std::string s = "ok";
    for (const std::string& f : fields)
        s += "\t" + Escape(f);
    return s;
}

struct ListState {
    std::vector<std::string> captions;
};

BOOL CALLBACK ListProc(HWND hWnd, LPARAM lParam)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    if (dwPid == g_dwProcessId && IsWindowVisible(hWnd))
        ((ListState*)lParam)->captions.push_back(WindowText(hWnd));
    return TRUE;
}

DWORD WINAPI ProbeBox(LPVOID)
{
    MessageBoxW(NULL, L"probe", NULL, MB_OK);
    return 0;
}

BOOL CALLBACK FindProbe(HWND hWnd, LPARAM lParam)
{
    DWORD dwPid = 0;
    GetWindowThreadProcessId(hWnd, &dwPid);
    HWND hText = GetDlgItem(hWnd, 0xFFFF);
    if (dwPid == GetCurrentProcessId() && hText && WindowText(hText) == "probe") {
        *(HWND*)lParam = hWnd;
        return FALSE;
    }
    return TRUE;
}

std::string Run(const std::vector<std::string>& a)
{
    const std::string& cmd = a[0];
    auto need = [&](size_t n) { return a.size() >= n + 1; };

    if (cmd == "start" && need(2)) {
        std::wstring exe = Wide(a[1]), cwd = Wide(a[2]);
        // The environment block: this program's, each variable named in
        // the additions replaced by them.
        std::wstring env;
        std::set<std::wstring> names;
        for (size_t i = 3; i < a.size(); i++) {
            env += Wide(a[i]) + L'\0';
            names.insert(Wide(a[i].substr(0, a[i].find('=') + 1)));
        }
        wchar_t* pEnv = GetEnvironmentStringsW();
        for (const wchar_t* p = pEnv; *p; p += wcslen(p) + 1) {
            std::wstring var = p;
            if (!names.count(var.substr(0, var.find(L'=', 1) + 1)))
                env += var + L'\0';
        }
        FreeEnvironmentStringsW(pEnv);
        env += L'\0';
        std::wstring cmdline = L"\"" + exe + L"\"";
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        if (!CreateProcessW(exe.c_str(), &cmdline[0], NULL, NULL, FALSE, CREATE_UNICODE_ENVIRONMENT, &env[0],
                            cwd.c_str(), &si, &pi))
            return "err CreateProcess " + std::to_string(GetLastError());
        CloseHandle(pi.hThread);
        if (!g_hProcess && g_background.empty())
            g_dialogs.clear();
        if (g_hProcess)
            g_background.push_back({ g_hProcess, g_dwProcessId, g_dwMainThreadId });
        g_hProcess = pi.hProcess;
        g_dwProcessId = pi.dwProcessId;
        g_dwMainThreadId = pi.dwThreadId;
        return Reply({ std::to_string(pi.dwProcessId) });
    }
    if (cmd == "use" && need(1)) {
        DWORD dwPid = strtoul(a[1].c_str(), NULL, 10);
        for (size_t i = 0; i < g_background.size(); i++) {
            if (g_background[i].dwProcessId != dwPid)
                continue;
            Program now = g_background[i];
            g_background.erase(g_background.begin() + i);
            if (g_hProcess)
                g_background.push_back({ g_hProcess, g_dwProcessId, g_dwMainThreadId });
            g_hProcess = now.hProcess;
            g_dwProcessId = now.dwProcessId;
            g_dwMainThreadId = now.dwMainThreadId;
            return "ok";
        }
        return "err no such program";
    }
    if (cmd == "foreground") {
        char szHwnd[32];
        snprintf(szHwnd, sizeof(szHwnd), "%llx", (unsigned long long)(uintptr_t)GetForegroundWindow());
        return Reply({ szHwnd });
    }
    if (cmd == "killwhen" && need(3)) {
        std::wstring pattern = Wide(a[1]);
        long long nBytes = atoll(a[2].c_str());
        HANDLE hThread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, g_dwMainThreadId);
        if (!g_hProcess || !hThread)
            return "err no program";
        // Watched while the program runs, looked at again while it stands
        // still, so that it ends exactly in the state seen. Holding it at
        // every look instead starved it: under Wine each hold is a round
        // of server calls and signals, and the program crawled through a
        // run for minutes, at a pace that depended on the machine's load.
        // A state must therefore outlast one look (a directory read).
        DWORD dwStart = GetTickCount(), dwTimeout = atoi(a[3].c_str());
        bool bSeen = false;
        while (!bSeen && GetTickCount() - dwStart <= dwTimeout) {
            if (LargestFile(pattern) < nBytes)
                continue;
            if (!SuspendAndWait(hThread))
                break;
            bSeen = LargestFile(pattern) >= nBytes;
            if (!bSeen)
                ResumeThread(hThread);
        }
        if (bSeen) {
            TerminateProcess(g_hProcess, 99);
            WaitForSingleObject(g_hProcess, 10000);
        }
        CloseHandle(hThread);
        if (!bSeen)
            return "err never seen; largest: " + std::to_string(LargestFile(pattern));
        CloseHandle(g_hProcess);
        g_hProcess = NULL;
        return "ok";
    }
    if (cmd == "find" && need(2)) {
        FindState st = { a[1], NULL };
        bool bOk = Poll(atoi(a[2].c_str()), [&] {
            st.hFound = NULL;
            EnumWindows(FindProc, (LPARAM)&st);
            return st.hFound && Painted(st.hFound);
        });
        if (!bOk)
            return "err no " + a[1] + " window";
        int nId = a[1] == "confirm" ? 1004 : a[1] == "progress" ? 1002 : 0xFFFF;
        if (nId != 0xFFFF)
            g_dialogs.insert(st.hFound);
        RECT rc;
        GetWindowRect(st.hFound, &rc);
        char szHwnd[32], szRect[64];
        snprintf(szHwnd, sizeof(szHwnd), "%llx", (unsigned long long)(uintptr_t)st.hFound);
        snprintf(szRect, sizeof(szRect), "%ldx%ld+%ld+%ld", rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top);
        return Reply({ szHwnd, WindowText(st.hFound), WindowText(GetDlgItem(st.hFound, nId)), szRect });
    }
    if (cmd == "text" && need(2)) {
        HWND hItem = GetDlgItem(ParseHwnd(a[1]), atoi(a[2].c_str()));
        if (!hItem)
            return "err no such control";
        return Reply({ WindowText(hItem) });
    }
    if (cmd == "click" && need(2)) {
        HWND hWnd = ParseHwnd(a[1]);
        int nId = atoi(a[2].c_str());
        // Posted, not sent: a sent click would not return while the
        // message box it leads to is open.
        if (!PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hWnd, nId)))
            return "err PostMessage";
        return "ok";
    }
    if (cmd == "escape" && need(1)) {
        HWND hWnd = ParseHwnd(a[1]);
        GUITHREADINFO gti;
        ZeroMemory(&gti, sizeof(gti));
        gti.cbSize = sizeof(gti);
        HWND hTarget = hWnd;
        if (GetGUIThreadInfo(ThreadOf(hWnd), &gti) && gti.hwndFocus)
            hTarget = gti.hwndFocus;
        PostMessageW(hTarget, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(hTarget, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        return "ok";
    }
    if (cmd == "gone" && need(2)) {
        HWND hWnd = ParseHwnd(a[1]);
        return Poll(atoi(a[2].c_str()), [&] { return !IsWindow(hWnd); }) ? "ok" : "err still there";
    }
    if (cmd == "catch" && need(5)) {
        HWND hDlg = ParseHwnd(a[1]);
        HWND hItem = GetDlgItem(hDlg, atoi(a[2].c_str()));
        HWND hBar = GetDlgItem(hDlg, 1001);
        DWORD dwTimeout = atoi(a[5].c_str());
        if (!hItem || !hBar)
            return "err no such control";
        const std::string& text = a[3];
        bool bPrefix = !text.empty() && text.back() == '*';
        auto shown = [&] {
            std::string now = WindowText(hItem);
            return bPrefix ? now.compare(0, text.size() - 1, text, 0, text.size() - 1) == 0 : now == text;
        };
        if (!Poll(dwTimeout, shown))
            return "err text never shown; last: " + WindowText(hItem);
        // The program paints and puts its window on the screen only while
        // it services messages between blocks; a bar that has moved on
        // shows that it did so after the text changed. The position is
        // asked for with a message, answered only between blocks too.
        int nPercent = atoi(a[4].c_str());
        if (!Poll(dwTimeout, [&] {
                DWORD_PTR dwPos = 0;
                return SendMessageTimeoutW(hBar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &dwPos) &&
                       (int)dwPos >= nPercent;
            }))
            return "err the bar never reached " + a[4];
        g_hSuspended = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, ThreadOf(hItem));
        if (!g_hSuspended || !SuspendAndWait(g_hSuspended))
            return "err cannot suspend";
        return "ok";
    }
    if (cmd == "hold" && need(6)) {
        HWND hItem = GetDlgItem(ParseHwnd(a[1]), atoi(a[2].c_str()));
        if (!hItem)
            return "err no such control";
        std::wstring pattern = Wide(a[4]) + L"\\upd*.tmp";
        long long nBytes = atoll(a[5].c_str());
        DWORD dwTimeout = atoi(a[6].c_str());
        if (!Poll(dwTimeout, [&] { return WindowText(hItem) == a[3]; }))
            return "err text never shown; last: " + WindowText(hItem);
        // Answered only when the program services its queue, which it does
        // right after painting: the screen then shows the new text too.
        DWORD_PTR dwPos = 0;
        SendMessageTimeoutW(GetDlgItem(GetParent(hItem), 1001), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, dwTimeout, &dwPos);
        HANDLE hThread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, ThreadOf(hItem));
        if (!hThread)
            return "err cannot open the thread";
        // Looked at only while the program stands still, so what is seen
        // is where it is, not where it was.
        bool bHeld = Poll(dwTimeout, [&] {
            if (!SuspendAndWait(hThread))
                return false;
            if (WindowText(hItem) == a[3] && LargestFile(pattern) >= nBytes)
                return true;
            ResumeThread(hThread);
            return false;
        });
        if (!bHeld) {
            CloseHandle(hThread);
            return "err never held there; label: " + WindowText(hItem) +
                   ", temporary copy: " + std::to_string(LargestFile(pattern));
        }
        g_hSuspended = hThread;
        return "ok";
    }
    if (cmd == "resume") {
        if (!g_hSuspended)
            return "err nothing suspended";
        ResumeThread(g_hSuspended);
        CloseHandle(g_hSuspended);
        g_hSuspended = NULL;
        return "ok";
    }
    if (cmd == "windows") {
        ListState st;
        EnumWindows(ListProc, (LPARAM)&st);
        return Reply(st.captions);
    }
    if (cmd == "exit" && need(1)) {
        if (!g_hProcess)
            return "err no program";
        if (WaitForSingleObject(g_hProcess, atoi(a[1].c_str())) != WAIT_OBJECT_0)
            return "err still running";
        DWORD dwCode = 0;
        GetExitCodeProcess(g_hProcess, &dwCode);
        CloseHandle(g_hProcess);
        g_hProcess = NULL;
        return Reply({ std::to_string(dwCode) });
    }
    if (cmd == "kill") {
        if (g_hSuspended)
            Run({ "resume" });
        if (g_hProcess)
            g_background.push_back({ g_hProcess, g_dwProcessId, g_dwMainThreadId });
        for (const Program& p : g_background) {
            TerminateProcess(p.hProcess, 99);
            WaitForSingleObject(p.hProcess, 10000);
            CloseHandle(p.hProcess);
        }
        g_background.clear();
        g_hProcess = NULL;
        return "ok";
    }
    if (cmd == "regset" && need(3)) {
        HKEY hKey;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(a[1]).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hKey, NULL))
            return "err RegCreateKeyEx";
        std::wstring data = Wide(a[3]);
        LONG r = RegSetValueExW(hKey, Wide(a[2]).c_str(), 0, REG_SZ, (const BYTE*)data.c_str(),
                                (DWORD)((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(hKey);
        return r ? "err RegSetValueEx" : "ok";
    }
    if (cmd == "regdel" && need(1)) {
        LONG r = RegDeleteTreeW(HKEY_CURRENT_USER, Wide(a[1]).c_str());
        if (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND)
            RegDeleteKeyW(HKEY_CURRENT_USER, Wide(a[1]).c_str());
        return "ok";
    }
    if (cmd == "regdelvalue" && need(2)) {
        HKEY hKey;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(a[1]).c_str(), 0, KEY_ALL_ACCESS, &hKey))
            return "err RegOpenKeyEx";
        LONG r = RegDeleteValueW(hKey, Wide(a[2]).c_str());
        RegCloseKey(hKey);
        return r ? "err RegDeleteValue" : "ok";
    }
    if (cmd == "lock" && need(1)) {
        HANDLE hLocked = CreateFileW(Wide(a[1]).c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (hLocked == INVALID_HANDLE_VALUE)
            return "err CreateFile " + std::to_string(GetLastError());
        g_locked.push_back(hLocked);
        return "ok";
    }
    if (cmd == "unlock") {
        for (HANDLE h : g_locked)
            CloseHandle(h);
        g_locked.clear();
        return "ok";
    }
    if (cmd == "attr" && need(1)) {
        std::wstring path = Wide(a[1]);
        if (a.size() > 2 && !SetFileAttributesW(path.c_str(), strtoul(a[2].c_str(), NULL, 16)))
            return "err SetFileAttributes " + std::to_string(GetLastError());
        DWORD dw = GetFileAttributesW(path.c_str());
        char buf[16];
        snprintf(buf, sizeof(buf), "%lx", (unsigned long)dw);
        return dw == INVALID_FILE_ATTRIBUTES ? "err GetFileAttributes" : Reply({ buf });
    }
    if (cmd == "defcaption") {
        HANDLE hThread = CreateThread(NULL, 0, ProbeBox, NULL, 0, NULL);
        HWND hBox = NULL;
        bool bOk = Poll(10000, [&] {
            EnumWindows(FindProbe, (LPARAM)&hBox);
            return hBox != NULL;
        });
        std::string caption = bOk ? WindowText(hBox) : "";
        if (bOk)
            PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(hBox, IDOK));
        WaitForSingleObject(hThread, 10000);
        CloseHandle(hThread);
        return bOk ? Reply({ caption }) : "err no probe box";
    }
    return "err unknown command or missing fields: " + cmd;
}

} // namespace

int main()
{
    char line[8192];
    while (fgets(line, sizeof(line), stdin)) {
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        std::vector<std::string> fields;
        size_t pos = 0;
        for (;;) {
            size_t tab = s.find('\t', pos);
            fields.push_back(s.substr(pos, tab == std::string::npos ? std::string::npos : tab - pos));
            if (tab == std::string::npos)
                break;
            pos = tab + 1;
        }
        if (fields[0] == "quit")
            break;
        std::string reply = Run(fields);
        fputs(reply.c_str(), stdout);
        fputc('\n', stdout);
        fflush(stdout);
    }
    Run({ "kill" });
    Run({ "unlock" });
    return 0;
}
