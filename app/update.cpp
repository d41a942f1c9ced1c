// update.exe: applies the update that lies beside it (Updateinf.dat and
// the data folder) to the game's install folder named in the registry,
// and records what it installed in the game's Uninstallinf.dat. Every
// outcome is shown in a message box; the exit code is always 0.
#include "update.h"

#include "file/directory.h"
#include "file/path.h"
#include "messages.h"
#include "resource.h"
#include "system/registry.h"
#include "system/shelldlg.h"
#include "updatespace.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

UpdateContext g_Context;

static void ShowMessage(const char* lpszText, const char* lpszCaption)
{
    MessageBoxA(NULL, lpszText, lpszCaption, MB_OK);
}

// The running program's folder with a trailing separator, followed by
// lpszName. Returns 0 when the result would not fit in MAX_PATH bytes.
static int MakeExePath(char* lpszBuf, const char* lpszName)
{
    DWORD dwLen = GetModuleFileNameA(NULL, lpszBuf, MAX_PATH);
    if (dwLen == 0 || dwLen >= MAX_PATH)
        return 0;
    CutFileName(lpszBuf);
    AddBackslash(lpszBuf);
    if (strlen(lpszBuf) + strlen(lpszName) >= MAX_PATH)
        return 0;
    strcat(lpszBuf, lpszName);
    return 1;
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
    if (!GetDiskFreeSpaceExA(lpszFolder, &liCaller, &liTotal, &liFree))
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

static void RunUpdate(HINSTANCE hInstance)
{
    char lpszFileName[MAX_PATH];
    char lpszInstallDirectory[MAX_PATH];
    char lpszUninstallInfoFile[MAX_PATH];
    char lpszSrcFileName[MAX_PATH];
    char lpszBuf[128];

    if (!MakeExePath(lpszFileName, g_szUpdateInfoName) || !LoadUpdateInfo(&g_Context, lpszFileName)) {
        ShowMessage(g_szMsgCannotOpenUpdateInfo, NULL);
        return;
    }

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

    if (!MakeExePath(lpszSrcFileName, g_szSourceFolderName) || !AddBackslash(lpszSrcFileName) ||
        !RecordsFit(lpszInstallDirectory, lpszSrcFileName)) {
        ShowMessage(g_szMsgCannotOpenUpdateInfo, NULL);
        return;
    }

    // Only OK goes on. A dialog that could not be shown is no consent, and
    // is reported as a progress dialog that could not be shown is:
    // without a word the user would not know the update never ran.
    INT_PTR nConfirmed = DialogBoxParamA(hInstance, MAKEINTRESOURCEA(IDD_UPDATE_CONFIRM), NULL, ConfirmDlgProc, 0);
    if (nConfirmed == -1)
        ShowMessage(g_szMsgFailed, NULL);
    if (nConfirmed != 1)
        return;

    AddBackslash(lpszInstallDirectory);
    // Uninstallinf.dat stays as it is: nothing was installed.
    if (!HasRoomForUpdate(lpszInstallDirectory, lpszSrcFileName))
        return;

    int bDone = 0;
    HWND hDlg = CreateDialogParamA(hInstance, MAKEINTRESOURCEA(IDD_UPDATE_PROGRESS), NULL, ProgressDlgProc, 0);
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

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpszCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)lpszCmdLine;
    (void)nCmdShow;
    // The progress bar's class must be registered before dialog 102 is made.
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&icc);

    InitContext(&g_Context);
    RunUpdate(hInstance);
    FreeContext(&g_Context);
    return 0;
}
