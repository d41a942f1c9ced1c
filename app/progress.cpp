// The progress dialog's side of the engine's callbacks: the label, the
// bar and the queue, brought up to date at most every REFRESH_INTERVAL_MS.
// Under Wine each position set, each label and each look at the queue is
// a round trip to the server, and each repaint goes through the X server,
// which took longer than copying a block or a small file. A hundred times
// a second still follows every visible step and sees Cancel at once.
#include "update.h"

#include "messages.h"
#include "platform/wide.h"
#include "resource.h"

#include <commctrl.h>
#include <stdio.h>

namespace {

// Milliseconds from the performance counter. Not GetTickCount: under Wine
// that is a value the server keeps, and it stood still during a copy that
// made no server calls, so the queue was never due.
DWORD NowMs()
{
    LARGE_INTEGER liFrequency, liNow;
    QueryPerformanceFrequency(&liFrequency);
    QueryPerformanceCounter(&liNow);
    return (DWORD)(liNow.QuadPart / (liFrequency.QuadPart / 1000));
}

// Services every pending message, keys through the dialog manager so that
// Escape and Enter work in the progress dialog.
void PumpMessages(HWND hDlg)
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

void BringUpToDate(Progress* p)
{
    if (p->bLabelDue) {
        SetWindowTextW(p->hLabel, p->label.c_str());
        p->bLabelDue = 0;
    }
    ReleaseBar(&p->heldBar);
    PumpMessages(p->hDlg);
    HoldBar(&p->heldBar);
}

void OnFile(void* pParam, const char* szPath)
{
    Progress* p = (Progress*)pParam;
    char lpszBuf[MAX_PATH + 64];
    snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtCopying, szPath);
    p->label = PlatWide(lpszBuf);
    p->bLabelDue = 1;
}

void OnPercent(void* pParam, DWORD dwPercent)
{
    Progress* p = (Progress*)pParam;
    if (ThrottlePercent(&p->throttle, dwPercent, NowMs()))
        SendMessageW(p->hBar, PBM_SETPOS, dwPercent, 0);
}

int KeepGoing(void* pParam)
{
    Progress* p = (Progress*)pParam;
    DWORD dwNow = NowMs();
    if (dwNow - p->dwLastPump >= REFRESH_INTERVAL_MS) {
        p->dwLastPump = dwNow;
        BringUpToDate(p);
    }
    return !p->bCancel;
}

} // namespace

void StartProgress(Progress* p, HWND hDlg, const char* lpszLabel)
{
    p->hDlg = hDlg;
    p->hBar = GetDlgItem(hDlg, IDC_PROGRESS_BAR);
    p->hLabel = GetDlgItem(hDlg, IDC_PROGRESS_TEXT);
    SetWindowTextW(p->hLabel, PlatWide(lpszLabel).c_str());
    p->bLabelDue = 0;
    // The bar starts at 0; the queue is due at once, so that the dialog
    // is painted before the first check.
    StartHeldBar(&p->heldBar, hDlg, p->hBar);
    StartThrottle(&p->throttle, NowMs());
    p->dwLastPump = p->throttle.dwLastSet - REFRESH_INTERVAL_MS;
    KeepGoing(p);
}

void EndProgress(Progress* p)
{
    if (p->bLabelDue)
        SetWindowTextW(p->hLabel, p->label.c_str());
    p->bLabelDue = 0;
    ReleaseBar(&p->heldBar);
}

EngineCallbacks ProgressCallbacks(Progress* pProgress)
{
    EngineCallbacks callbacks = { OnFile, OnPercent, KeepGoing, pProgress };
    return callbacks;
}
