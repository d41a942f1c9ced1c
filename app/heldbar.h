// A progress bar that paints only while its dialog's queue is serviced.
// Under Wine a progress bar repaints itself inside every PBM_SETPOS,
// 0.8 ms each, more than copying a small file, while what it paints
// reaches the screen only when the queue is serviced anyway. A held bar
// takes positions without painting (WM_SETREDRAW, which also hides it from
// the system) and is brought up to date when released.
#ifndef APP_HELDBAR_H
#define APP_HELDBAR_H

#include <windows.h>

struct HeldBar {
    HWND hDlg;
    HWND hBar;
    // The position it last painted; -1 before it ever painted.
    DWORD dwPainted;
};

// Takes hold of hBar, a child of hDlg, as not painted yet.
void StartHeldBar(HeldBar* pBar, HWND hDlg, HWND hBar);
// Lets the bar paint again and paints it now where its position moved
// since it last painted or the dialog has anything to paint (over it,
// possibly, while it was hidden).
void ReleaseBar(HeldBar* pBar);
// Keeps the bar from painting until it is released.
void HoldBar(HeldBar* pBar);

#endif
