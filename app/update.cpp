// update.exe: applies the update that lies beside it (Updateinf.dat and
// the data folder) to the game's install folder named in the registry,
// and records what it installed in the game's Uninstallinf.dat. Every
// outcome is shown in a message box; the exit code is always 0.
#include "update.h"

#include "messages.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/volume.h"
#include "platform/wide.h"
#include "resource.h"
#include "system/registry.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <string>

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

// The engine's first problem as the player is shown it.
static void ShowProblem(const UpdateEngine* pEngine)
{
    const EngineProblem* pFirst = &pEngine->problems.front();
    char lpszText[1024];
    EngineMessage(pEngine, pFirst, EngineCountLike(pEngine, pFirst) - 1, lpszText, sizeof(lpszText));
    ShowMessage(lpszText, NULL);
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

// One updater at a time per install folder: two would copy over each
// other and both rewrite Uninstallinf.dat, the later losing the other's
// entries. The folder is named as the file system identifies it, so two
// lists whose registry keys differ (a game and an add-on installed into
// its folder) or are spelled differently meet at one lock. Returns
// PLAT_LOCK_HELD when this run holds it until it ends (a lock left by a
// killed run is taken over); PLAT_LOCK_NONE when no lock could be made,
// and the update goes ahead as it did before there was one. Otherwise the
// running one's topmost window that takes input, the one the user must
// answer, comes to the front.
static int LockInstallFolder(const char* lpszInstallDirectory)
{
    PlatFileId id;
    if (!PlatGetFileId(lpszInstallDirectory, &id))
        return PLAT_LOCK_NONE;
    char lpszName[64];
    snprintf(lpszName, sizeof(lpszName), "GamepatchUpdate-%016llx-%016llx", (unsigned long long)id.qwVolume,
             (unsigned long long)id.qwFile);
    OwnerSearch search = { 0, NULL };
    int nLock = PlatTakeProcessLock(lpszName, &search.dwProcessId);
    if (nLock != PLAT_LOCK_ELSEWHERE)
        return nLock;
    if (search.dwProcessId)
        EnumWindows(FindOwnerWindow, (LPARAM)&search);
    if (search.hWnd) {
        if (IsIconic(search.hWnd))
            ShowWindow(search.hWnd, SW_RESTORE);
        SetForegroundWindow(search.hWnd);
    }
    return PLAT_LOCK_ELSEWHERE;
}

// After OK, under the progress dialog: the plan is checked against the
// file system until nothing stands in the way. A file held by another
// program (the game still running) asks for it to be closed; any other
// refusal, or Cancel, ends the run with nothing changed. Returns 1 when
// the copy may begin.
static int ReadyToCopy(UpdateEngine* pEngine, Progress* pProgress)
{
    EngineCallbacks callbacks = ProgressCallbacks(pProgress);
    char lpszCaption[128], lpszText[1024];
    snprintf(lpszCaption, sizeof(lpszCaption), g_szFmtConfirmCaption, pEngine->context.update.szTitle);
    for (;;) {
        if (EnginePlan(pEngine, &callbacks) && EngineCheck(pEngine, &callbacks))
            return 1;
        if (pEngine->problems.empty())
            return 0;
        const EngineProblem* pFirst = &pEngine->problems.front();
        if (pFirst->nCheck == ENGINE_CANCELLED)
            return 0;
        if (pFirst->nCheck != ENGINE_IN_USE) {
            DestroyWindow(pProgress->hDlg);
            pProgress->hDlg = NULL;
            ShowProblem(pEngine);
            return 0;
        }
        EngineMessage(pEngine, pFirst, EngineCountLike(pEngine, pFirst) - 1, lpszText, sizeof(lpszText));
        EnableWindow(pProgress->hDlg, FALSE);
        int nAnswer = ShowBox(PlatWide(lpszText), lpszCaption, MB_RETRYCANCEL | MB_ICONWARNING);
        EnableWindow(pProgress->hDlg, TRUE);
        if (nAnswer != IDRETRY)
            return 0;
    }
}

static void RunUpdate(HINSTANCE hInstance, UpdateEngine* pEngine)
{
    char lpszInstallDirectory[MAX_PATH];
    // Updateinf.dat and data\ are reached by relative names from the
    // program's own folder, whose name may have no code-page-932 form.
    if (!PlatEnterProgramFolder() || !EngineLoadUpdate(pEngine, "")) {
        ShowMessage(g_szMsgCannotOpenUpdateInfo, NULL);
        return;
    }
    const UpdateHeader* pHeader = &pEngine->context.update;

    CRegistry clRegistry;
    // The title was cut to 60 bytes, which this buffer holds with the text.
    char lpszBuf[128];
    snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtNotInstalled, pHeader->szTitle);
    if (!clRegistry.Open(HKEY_CURRENT_USER, pHeader->szRegKey)) {
        ShowMessage(lpszBuf, NULL);
        return;
    }
    // A value stored without its terminator, or too long for
    // "Uninstallinf.dat" to fit behind it, is not a usable folder.
    memset(lpszInstallDirectory, 0, sizeof(lpszInstallDirectory));
    if (!clRegistry.ReadString(pHeader->szRegValue, lpszInstallDirectory, MAX_PATH) ||
        !memchr(lpszInstallDirectory, 0, MAX_PATH) || strlen(lpszInstallDirectory) > MAX_INSTALL_DIRECTORY_LENGTH) {
        ShowMessage(lpszBuf, NULL);
        return;
    }
    // A character with no code-page-932 form reads as '?', which no
    // Windows name holds: no library path can reach that folder. It is
    // shown as the registry holds it, as the player knows it.
    if (strchr(lpszInstallDirectory, '?')) {
        WCHAR wszFolder[MAX_PATH + 1];
        clRegistry.ReadWideString(pHeader->szRegValue, wszFolder, MAX_PATH + 1);
        std::wstring format = PlatWide(g_szFmtUnusableInstallFolder);
        ShowBox(format.replace(format.find(L"%s"), 2, wszFolder), NULL, MB_OK);
        return;
    }
    // The value ends in a separator (nothing is inserted before the
    // marker's or the list's name); the engine's folders always do.
    if (PlatGetFileAttributes((std::string(lpszInstallDirectory) + g_szEditionMarker).c_str()) !=
        INVALID_FILE_ATTRIBUTES) {
        ShowMessage(g_szMsgWrongEdition, NULL);
        return;
    }
    if (PlatGetFileAttributes((std::string(lpszInstallDirectory) + g_szUninstallInfoName).c_str()) ==
        INVALID_FILE_ATTRIBUTES) {
        ShowMessage(lpszBuf, NULL);
        return;
    }

    // Another updater for this folder runs: it has the user's attention.
    // Uninstallinf.dat is read only under the lock, so that what is
    // rewritten is what the other run left.
    int nLock = LockInstallFolder(lpszInstallDirectory);
    if (nLock == PLAT_LOCK_ELSEWHERE)
        return;
    if (!EngineLoadInstalled(pEngine, lpszInstallDirectory)) {
        ShowProblem(pEngine);
        return;
    }

    // Only OK goes on. A dialog that could not be shown is no consent, and
    // is reported as a progress dialog that could not be shown is:
    // without a word the user would not know the update never ran.
    INT_PTR nConfirmed =
        DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_UPDATE_CONFIRM), NULL, ConfirmDlgProc, (LPARAM)pEngine);
    if (nConfirmed == -1)
        ShowMessage(g_szMsgFailed, NULL);
    if (nConfirmed != 1)
        return;

    // The progress dialog comes first, so the player sees the update at
    // work while the checks run under it.
    Progress progress = {};
    HWND hDlg = CreateDialogParamW(hInstance, MAKEINTRESOURCEW(IDD_UPDATE_PROGRESS), NULL, ProgressDlgProc,
                                   (LPARAM)&progress);
    if (!hDlg) {
        ShowMessage(g_szMsgFailed, NULL);
        return;
    }
    ShowWindow(hDlg, SW_SHOW);
    StartProgress(&progress, hDlg, g_szMsgChecking);
    // What a killed run left would count against the free space. Without
    // the lock they could be another run's copies in progress.
    if (nLock == PLAT_LOCK_HELD)
        EngineRemoveLeftovers(pEngine);
    // Uninstallinf.dat stays as it is: nothing was installed.
    if (!ReadyToCopy(pEngine, &progress)) {
        if (progress.hDlg)
            DestroyWindow(progress.hDlg);
        return;
    }

    EngineCallbacks callbacks = ProgressCallbacks(&progress);
    int bDone = EngineCarryOut(pEngine, &callbacks);
    EndProgress(&progress);
    DestroyWindow(hDlg);
    if (bDone)
        ShowMessage(g_szMsgCompleted, g_szCaptionCompleted);
    else
        ShowMessage(g_szMsgFailed, NULL);

    // Also after a failure or Cancel: what was installed must be listed.
    if (!EngineRewriteList(pEngine))
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

    UpdateEngine engine;
    RunUpdate(hInstance, &engine);
    return 0;
}
