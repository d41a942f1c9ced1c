#include "update.h"

#include "copyblocks.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "file/path.h"
#include "heldbar.h"
#include "messages.h"
#include "platform/platform.h"
#include "platform/wide.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>

// Services every pending message, keys through the dialog manager so that
// Escape and Enter work in the progress dialog. Called when due
// (PumpMessagesWhenDue) between records, so that Cancel and repainting
// work during a run of small files too, and after blocks.
static void PumpMessages(HWND hDlg)
{
    MSG msg;
    while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Not ours to consume: leave it for whoever loops next.
            PostQuitMessage((int)msg.wParam);
            return;
        }
        if (IsDialogMessageW(hDlg, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// The dialog is brought up to date at most every REFRESH_INTERVAL_MS:
// under Wine each position set and each look at the queue is a round trip
// to the server, and each repaint goes through the X server, which took
// longer than copying a block or a small file. A hundred times a second
// still follows every visible step and sees Cancel at once.
// The bar and the label, looked up once: under Wine every GetDlgItem is a
// round trip to the server.
static HWND s_hBar;
static HWND s_hLabel;
// Held for the pass: it paints only when the queue is serviced. The
// label's text paints at once, which costs a tenth of what the bar did.
static HeldBar s_heldBar;
static PercentThrottle s_throttle;
static DWORD s_dwLastPump;

// Milliseconds from the performance counter. Not GetTickCount: under Wine
// that is a value the server keeps, and it stood still during a copy that
// made no server calls, so the queue was never due.
static DWORD NowMs()
{
    static LARGE_INTEGER s_liFrequency;
    if (s_liFrequency.QuadPart == 0)
        QueryPerformanceFrequency(&s_liFrequency);
    LARGE_INTEGER liNow;
    QueryPerformanceCounter(&liNow);
    return (DWORD)(liNow.QuadPart / (s_liFrequency.QuadPart / 1000));
}

static void SetPercent(void* pParam, DWORD dwPercent)
{
    (void)pParam;
    if (ThrottlePercent(&s_throttle, dwPercent, NowMs()))
        SendMessageA(s_hBar, PBM_SETPOS, dwPercent, 0);
}

static void PumpMessagesWhenDue(HWND hDlg)
{
    DWORD dwNow = NowMs();
    if (dwNow - s_dwLastPump < REFRESH_INTERVAL_MS)
        return;
    s_dwLastPump = dwNow;
    ReleaseBar(&s_heldBar);
    PumpMessages(hDlg);
    HoldBar(&s_heldBar);
}

static int KeepCopying(void* pParam)
{
    PumpMessagesWhenDue((HWND)pParam);
    return !g_Context.bCancel;
}

// Moves the complete temporary file over the destination. Most
// destinations are new or ordinary files, so the move is tried first and
// the attributes are looked at only when it is refused: a read-only,
// hidden or system file cannot be replaced as it is, and gets its
// attributes back when the second try fails too.
static int MoveOver(const char* lpszTempFile, const char* lpszDestFile)
{
    std::wstring temp = PlatWide(lpszTempFile), dest = PlatWide(lpszDestFile);
    if (MoveFileExW(temp.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    DWORD dwAttributes = GetFileAttributesW(dest.c_str());
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(dwAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ||
        !SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL))
        return 0;
    if (MoveFileExW(temp.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 1;
    SetFileAttributesW(dest.c_str(), dwAttributes);
    return 0;
}

// A replaced file stays hidden or a system file, as its maker set it; the
// copy takes those attributes before it is moved over it. Read-only is not
// kept: the update replaces what it installed before.
static void KeepHiddenAndSystem(const char* lpszTempFile, const char* lpszDestFile)
{
    const DWORD dwKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD dwAttributes = PlatGetFileAttributes(lpszDestFile);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (dwAttributes & dwKept))
        PlatSetFileAttributes(lpszTempFile, dwAttributes & dwKept);
}

// Copies one file. The source is opened first, so a missing replacement
// never touches the installed file; the copy goes to a fresh temporary
// file beside the destination and replaces it only when complete, so a
// Cancel or a failure leaves the installed file as it was.
static int CopyOneFile(HWND hDlg, const char* lpszSrcFile, const char* lpszDestFile)
{
    CFile clSrcFile;
    if (!clSrcFile.Open(lpszSrcFile, 0))
        return 0;
    char lpszFolder[MAX_PATH], lpszTempFile[MAX_PATH];
    CutFileName(lpszFolder, lpszDestFile);
    // Creates the file under a name no other file has; fails when the
    // folder does not exist.
    WCHAR wszTempFile[MAX_PATH];
    if (!GetTempFileNameW(PlatWide(lpszFolder).c_str(), PlatWide(g_szTempPrefix).c_str(), 0, wszTempFile))
        return 0;
    // In the install folder, whose name has a code-page-932 form.
    if (!PlatNarrowTo(wszTempFile, lpszTempFile, MAX_PATH)) {
        DeleteFileW(wszTempFile);
        return 0;
    }

    CopyCallbacks callbacks = { SetPercent, KeepCopying, hDlg };
    int bOk;
    {
        CFile clDestFile;
        bOk = clDestFile.Open(lpszTempFile, 1) && CopyBlocks(&clDestFile, &clSrcFile, &callbacks);
    }
    clSrcFile.Close();

    if (bOk) {
        KeepHiddenAndSystem(lpszTempFile, lpszDestFile);
        bOk = MoveOver(lpszTempFile, lpszDestFile);
    }
    if (!bOk)
        PlatDeleteFile(lpszTempFile);
    return bOk;
}

static int CopyRecords(HWND hDlg, const char* lpszInstallDirectory, const char* lpszSrcFileName)
{
    char lpszDestFile[MAX_PATH], lpszSrcFile[MAX_PATH];
    // The label: a path of up to 259 bytes and the text around it.
    char lpszBuf[MAX_PATH + 64];

    for (DWORD i = 0; i < g_Context.update.dwCount; i++) {
        PumpMessagesWhenDue(hDlg);
        if (g_Context.bCancel)
            return 0;
        const FileRecord* pRecord = &g_Context.pUpdateRecords[i];
        // Every path was checked to fit behind both roots before the run.
        snprintf(lpszDestFile, sizeof(lpszDestFile), "%s%s", lpszInstallDirectory, pRecord->szPath);
        if (IsFolderRecord(pRecord)) {
            CreateDirectories(lpszDestFile);
            MergeRecord(&g_Context, pRecord);
            continue;
        }
        snprintf(lpszSrcFile, sizeof(lpszSrcFile), "%s%s", lpszSrcFileName, pRecord->szPath);
        snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtCopying, pRecord->szPath);
        SetWindowTextW(s_hLabel, PlatWide(lpszBuf).c_str());
        if (!CopyOneFile(hDlg, lpszSrcFile, lpszDestFile))
            return 0;
        MergeRecord(&g_Context, pRecord);
    }
    return 1;
}

int CopyFiles(HWND hDlg, const char* lpszInstallDirectory, const char* lpszSrcFileName)
{
    CreateDirectories(lpszInstallDirectory);
    s_hBar = GetDlgItem(hDlg, IDC_PROGRESS_BAR);
    s_hLabel = GetDlgItem(hDlg, IDC_PROGRESS_TEXT);
    // The bar starts at 0; the queue is due at once, so that the dialog
    // is painted before the first file.
    StartHeldBar(&s_heldBar, hDlg, s_hBar);
    StartThrottle(&s_throttle, NowMs());
    s_dwLastPump = s_throttle.dwLastSet - REFRESH_INTERVAL_MS;
    int bDone = CopyRecords(hDlg, lpszInstallDirectory, lpszSrcFileName);
    // However the pass ended, the bar is left painting again and showing
    // where it stopped.
    ReleaseBar(&s_heldBar);
    return bDone;
}
