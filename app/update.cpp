// update.exe: applies the update that lies beside it (Updateinf.dat and
// the data folder) to the game's install folder named in the registry,
// and records what it installed in the game's Uninstallinf.dat. Every
// outcome is shown in a message box; the exit code is always 0.
#include "update.h"

#include "file/directory.h"
#include "file/path.h"
#include "messages.h"
#include "precheck.h"
#include "resource.h"
#include "system/registry.h"
#include "system/shelldlg.h"
#include "updatespace.h"

#include "platform/wide.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <string>

UpdateContext g_Context;

// Texts are code page 932 and shown in UTF-16, converted with that code
// page named, so they read the same on every system.
static int ShowBox(const std::wstring& text, const char* lpszCaption, UINT uType)
{
    return MessageBoxW(NULL, text.c_str(), lpszCaption ? PlatWide(lpszCaption).c_str() : NULL, uType);
}

static void ShowMessage(const char* lpszText, const char* lpszCaption)
{
    ShowBox(PlatWide(lpszText), lpszCaption, MB_OK);
}

// The program's own folder becomes the current folder, and Updateinf.dat
// and data\ are reached by relative names from it: the folder is where
// the player unpacked the download, whose name may have no code-page-932
// form (the downloads of a player named José), which no library path can
// spell. Returns 0 when the folder cannot be entered.
static int EnterOwnFolder()
{
    std::wstring path(32768, L'\0');
    DWORD dwLen = GetModuleFileNameW(NULL, &path[0], (DWORD)path.size());
    size_t nSep = dwLen > 0 && dwLen < path.size() ? path.rfind(L'\\', dwLen) : std::wstring::npos;
    if (nSep == std::wstring::npos)
        return 0;
    path.resize(nSep + 1);
    return SetCurrentDirectoryW(path.c_str()) != 0;
}

// The install folder as the registry holds it, in UTF-16: for the message
// that says it cannot be used, which must show it as the player knows it.
static std::wstring StoredInstallFolder(const CRegistry& clRegistry)
{
    WCHAR wszFolder[MAX_PATH + 1] = L"";
    DWORD dwBytes = sizeof(wszFolder) - sizeof(WCHAR);
    RegQueryValueExW(clRegistry.m_hKey, PlatWide(g_Context.update.szRegValue).c_str(), NULL, NULL,
                     (BYTE*)wszFolder, &dwBytes);
    return wszFolder;
}

// Every record path must fit behind both folders, checked before the user
// is asked, so that the copy pass never cuts a path.
static int RecordsFit(const char* lpszInstallDirectory, const char* lpszSrcFileName)
{
    char lpszInstall[MAX_PATH];
    strcpy(lpszInstall, lpszInstallDirectory);
    AddBackslash(lpszInstall);
    for (DWORD i = 0; i < g_Context.update.dwCount; i++) {
        const char* szPath = g_Context.pUpdateRecords[i].szPath;
        if (!RecordFitsBehind(lpszInstall, szPath) || !RecordFitsBehind(lpszSrcFileName, szPath))
            return 0;
    }
    return 1;
}

// The bytes this user may still write on the volume holding lpszFolder.
// Not the volume's free space as a whole: a disk quota leaves the user
// less, and the copy runs as this user.
static int GetFreeBytesForCaller(const char* lpszFolder, QWORD* pqwFree)
{
    ULARGE_INTEGER liCaller, liTotal, liFree;
    if (!GetDiskFreeSpaceExW(PlatWide(lpszFolder).c_str(), &liCaller, &liTotal, &liFree))
        return 0;
    *pqwFree = liCaller.QuadPart;
    return 1;
}

// Refuses, with a message, an update that cannot fit on the install
// folder's volume, before anything is copied: a copy that ran out of
// space half-way would leave the game part old and part new. When any
// number cannot be worked out the update goes ahead as without the check.
static int HasRoomForUpdate(const char* lpszInstallDirectory, const char* lpszSrcFileName)
{
    DWORD dwCluster;
    QWORD qwNeeded, qwFree;
    if (!GetDiskClusterBytes(lpszInstallDirectory, &dwCluster) ||
        !GetUpdateSpaceNeeded(&g_Context, lpszInstallDirectory, lpszSrcFileName, dwCluster, &qwNeeded) ||
        !GetFreeBytesForCaller(lpszInstallDirectory, &qwFree) || qwFree >= qwNeeded)
        return 1;
    char lpszText[256];
    FormatNoSpaceMessage(lpszText, sizeof(lpszText), qwNeeded, qwFree);
    ShowMessage(lpszText, NULL);
    return 0;
}

// After OK and before the progress dialog, so that a reason the update
// would stop for half-way, which can be seen now, stops it whole: a source
// that cannot be read or a path of the wrong type fails the update, a
// destination held by another program (the game still running) asks for
// it to be closed. Returns 1 when the copy may begin.
static int ReadyToCopy(const char* lpszInstallDirectory, const char* lpszSrcFileName)
{
    int nFault;
    if (FindFaultyRecord(&g_Context, lpszInstallDirectory, lpszSrcFileName, &nFault) < g_Context.update.dwCount) {
        ShowMessage(g_szMsgFailed, NULL);
        return 0;
    }
    if (!HasRoomForUpdate(lpszInstallDirectory, lpszSrcFileName))
        return 0;
    char lpszCaption[128], lpszText[512];
    snprintf(lpszCaption, sizeof(lpszCaption), g_szFmtConfirmCaption, g_Context.update.szTitle);
    for (;;) {
        DWORD dwFirst = 0;
        DWORD dwInUse = CountFilesInUse(&g_Context, lpszInstallDirectory, &dwFirst);
        if (dwInUse == 0)
            return 1;
        FormatFilesInUseMessage(lpszText, sizeof(lpszText), g_Context.pUpdateRecords[dwFirst].szPath, dwInUse);
        if (ShowBox(PlatWide(lpszText), lpszCaption, MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            return 0;
    }
}

// The name of one game's updater lock, and of the place its holder leaves
// its process id: the registry key and value that name the install
// folder, letters folded as the registry folds them, hashed to fit an
// object name (which takes no backslash).
static void MakeLockName(char* lpszBuf, size_t nSize, const char* lpszSuffix)
{
    char lpszKey[sizeof(g_Context.update.szRegKey) + sizeof(g_Context.update.szRegValue) + 1];
    snprintf(lpszKey, sizeof(lpszKey), "%s\\%s", g_Context.update.szRegKey, g_Context.update.szRegValue);
    WCHAR wszKey[sizeof(lpszKey)];
    int nLen = MultiByteToWideChar(932, 0, lpszKey, -1, wszKey, (int)(sizeof(lpszKey)));
    if (nLen <= 0)
        nLen = 0;
    CharUpperBuffW(wszKey, (DWORD)nLen);
    unsigned long long qwHash = 0xcbf29ce484222325ULL;
    for (int i = 0; i < nLen; i++) {
        qwHash = (qwHash ^ (wszKey[i] & 0xFF)) * 0x100000001b3ULL;
        qwHash = (qwHash ^ (wszKey[i] >> 8)) * 0x100000001b3ULL;
    }
    snprintf(lpszBuf, nSize, "Local\\GamepatchUpdate-%016llx%s", qwHash, lpszSuffix);
}

struct OwnerSearch {
    DWORD dwProcessId;
    HWND hWnd;
};

static BOOL CALLBACK FindOwnerWindow(HWND hWnd, LPARAM lParam)
{
    OwnerSearch* pSearch = (OwnerSearch*)lParam;
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId != pSearch->dwProcessId || !IsWindowVisible(hWnd) || !IsWindowEnabled(hWnd))
        return TRUE;
    pSearch->hWnd = hWnd;
    return FALSE;
}

enum GameLock { LOCK_HELD_ELSEWHERE, LOCK_HELD, LOCK_NONE };

// One updater at a time per game: two would copy over each other and both
// rewrite Uninstallinf.dat, the later losing the other's entries. Returns
// LOCK_HELD when this run holds the game's lock until it ends (a lock left
// by a killed run is taken over); LOCK_NONE when no lock could be made,
// and the update goes ahead as it did before there was one. Otherwise the
// running one's window comes to the front: its process id, left beside the
// lock, names it, and of its windows the topmost one that takes input is
// the one the user must answer. Updates of different games lock different
// names.
static GameLock LockGame()
{
    char lpszName[64];
    MakeLockName(lpszName, sizeof(lpszName), "");
    HANDLE hLock = CreateMutexA(NULL, FALSE, lpszName);
    if (!hLock)
        return LOCK_NONE;
    DWORD dwWait = WaitForSingleObject(hLock, 0);
    MakeLockName(lpszName, sizeof(lpszName), "-owner");
    if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
        HANDLE hOwner = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(DWORD), lpszName);
        DWORD* pdwOwner = hOwner ? (DWORD*)MapViewOfFile(hOwner, FILE_MAP_WRITE, 0, 0, sizeof(DWORD)) : NULL;
        if (pdwOwner)
            *pdwOwner = GetCurrentProcessId();
        // Both handles stay open until the process ends, which releases them.
        return LOCK_HELD;
    }
    OwnerSearch search = { 0, NULL };
    HANDLE hOwner = OpenFileMappingA(FILE_MAP_READ, FALSE, lpszName);
    DWORD* pdwOwner = hOwner ? (DWORD*)MapViewOfFile(hOwner, FILE_MAP_READ, 0, 0, sizeof(DWORD)) : NULL;
    if (pdwOwner) {
        search.dwProcessId = *pdwOwner;
        UnmapViewOfFile(pdwOwner);
    }
    if (search.dwProcessId)
        EnumWindows(FindOwnerWindow, (LPARAM)&search);
    if (search.hWnd) {
        if (IsIconic(search.hWnd))
            ShowWindow(search.hWnd, SW_RESTORE);
        SetForegroundWindow(search.hWnd);
    }
    return LOCK_HELD_ELSEWHERE;
}

static void RunUpdate(HINSTANCE hInstance)
{
    char lpszInstallDirectory[MAX_PATH];
    char lpszUninstallInfoFile[MAX_PATH];
    char lpszSrcFileName[MAX_PATH];
    char lpszBuf[128];

    if (!EnterOwnFolder() || !LoadUpdateInfo(&g_Context, g_szUpdateInfoName)) {
        ShowMessage(g_szMsgCannotOpenUpdateInfo, NULL);
        return;
    }
    // Another updater for this game runs: it has the user's attention.
    GameLock nLock = LockGame();
    if (nLock == LOCK_HELD_ELSEWHERE)
        return;

    CRegistry clRegistry;
    // The title was cut to 60 bytes, which this buffer holds with the text.
    snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtNotInstalled, g_Context.update.szTitle);
    if (!clRegistry.Open(HKEY_CURRENT_USER, g_Context.update.szRegKey)) {
        ShowMessage(lpszBuf, NULL);
        return;
    }
    // A value stored without its terminator, or too long for
    // "Uninstallinf.dat" to fit behind it, is not a usable folder.
    memset(lpszInstallDirectory, 0, sizeof(lpszInstallDirectory));
    if (!clRegistry.ReadString(g_Context.update.szRegValue, lpszInstallDirectory, MAX_PATH) ||
        !memchr(lpszInstallDirectory, 0, MAX_PATH) || strlen(lpszInstallDirectory) > MAX_INSTALL_DIRECTORY_LENGTH) {
        ShowMessage(lpszBuf, NULL);
        return;
    }
    // A character with no code-page-932 form reads as '?', which no
    // Windows name holds: no library path can reach that folder.
    if (strchr(lpszInstallDirectory, '?')) {
        std::wstring format = PlatWide(g_szFmtUnusableInstallFolder);
        size_t nAt = format.find(L"%s");
        ShowBox(format.replace(nAt, 2, StoredInstallFolder(clRegistry)), NULL, MB_OK);
        return;
    }

    // The value ends in a separator; nothing is inserted.
    snprintf(lpszUninstallInfoFile, MAX_PATH, "%s%s", lpszInstallDirectory, g_szEditionMarker);
    if (PathExists(lpszUninstallInfoFile)) {
        ShowMessage(g_szMsgWrongEdition, NULL);
        return;
    }

    snprintf(lpszUninstallInfoFile, MAX_PATH, "%s%s", lpszInstallDirectory, g_szUninstallInfoName);
    if (!LoadUninstallInfo(&g_Context, lpszUninstallInfoFile)) {
        ShowMessage(lpszBuf, NULL);
        return;
    }

    snprintf(lpszSrcFileName, MAX_PATH, "%s\\", g_szSourceFolderName);
    if (!RecordsFit(lpszInstallDirectory, lpszSrcFileName)) {
        ShowMessage(g_szMsgCannotOpenUpdateInfo, NULL);
        return;
    }

    // Only OK goes on. A dialog that could not be shown is no consent, and
    // is reported as a progress dialog that could not be shown is:
    // without a word the user would not know the update never ran.
    INT_PTR nConfirmed = DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_UPDATE_CONFIRM), NULL, ConfirmDlgProc, 0);
    if (nConfirmed == -1)
        ShowMessage(g_szMsgFailed, NULL);
    if (nConfirmed != 1)
        return;

    AddBackslash(lpszInstallDirectory);
    // What a killed run left would count against the free space. Without
    // the lock they could be another run's copies in progress.
    if (nLock == LOCK_HELD)
        RemoveLeftTemporaryFiles(&g_Context, lpszInstallDirectory);
    // Uninstallinf.dat stays as it is: nothing was installed.
    if (!ReadyToCopy(lpszInstallDirectory, lpszSrcFileName))
        return;

    int bDone = 0;
    HWND hDlg = CreateDialogParamW(hInstance, MAKEINTRESOURCEW(IDD_UPDATE_PROGRESS), NULL, ProgressDlgProc, 0);
    if (hDlg) {
        ShowWindow(hDlg, SW_SHOW);
        bDone = CopyFiles(hDlg, lpszInstallDirectory, lpszSrcFileName);
        DestroyWindow(hDlg);
    }
    if (bDone)
        ShowMessage(g_szMsgCompleted, g_szCaptionCompleted);
    else
        ShowMessage(g_szMsgFailed, NULL);

    // Also after a failure or Cancel: what was installed must be listed.
    if (!WriteUninstallInfo(&g_Context, lpszUninstallInfoFile))
        ShowMessage(g_szMsgCannotWriteUninstallInfo, NULL);
}

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

// The program runs from a download folder with the rights it asks for, so
// a DLL placed beside it must never be loaded. Every DLL it imports at
// load time is one the system only ever takes from its own folder; the
// others (the common controls, and whatever system DLLs load on its
// behalf) come later, and from now on only from the system folder. Where
// that call is missing (an old system without its update), at least the
// current folder leaves the search.
static void LoadOnlyFromSystemFolder()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn pfnSet = (SetDefaultDllDirectoriesFn)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (!pfnSet || !pfnSet(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryA("");
        return;
    }
    // Some system DLLs load others through a search of their own that this
    // setting does not reach (Wine's themes do so for msimg32). Loaded
    // from the system folder now, those are found already loaded later.
    static const char* const s_apszPreloaded[] = { "version.dll", "uxtheme.dll", "msimg32.dll" };
    for (const char* lpszDll : s_apszPreloaded)
        LoadLibraryExA(lpszDll, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpszCmdLine;
    (void)nCmdShow;
    LoadOnlyFromSystemFolder();
    // The progress bar's class must be registered before dialog 102 is made.
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&icc);

    InitContext(&g_Context);
    RunUpdate(hInstance);
    FreeContext(&g_Context);
    return 0;
}
