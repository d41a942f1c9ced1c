#include "heldbar.h"

#include <commctrl.h>

void StartHeldBar(HeldBar* pBar, HWND hDlg, HWND hBar)
{
    pBar->hDlg = hDlg;
    pBar->hBar = hBar;
    pBar->dwPainted = (DWORD)-1;
    HoldBar(pBar);
}

void ReleaseBar(HeldBar* pBar)
{
    SendMessageA(pBar->hBar, WM_SETREDRAW, TRUE, 0);
    // Asking the bar's own thread is a plain call, also under Wine.
    DWORD dwPos = (DWORD)SendMessageA(pBar->hBar, PBM_GETPOS, 0, 0);
    if (dwPos == pBar->dwPainted && !GetUpdateRect(pBar->hDlg, NULL, FALSE))
        return;
    InvalidateRect(pBar->hBar, NULL, TRUE);
    // Painted now, before the caller services the queue, rather than as
    // the last message it finds there: Wine puts the window on the screen
    // once the queue is empty, and it then shows the position that anyone
    // who asked during the service was told. The dialog first, which does
    // not clip its children.
    UpdateWindow(pBar->hDlg);
    pBar->dwPainted = dwPos;
}

void HoldBar(HeldBar* pBar)
{
    SendMessageA(pBar->hBar, WM_SETREDRAW, FALSE, 0);
}
