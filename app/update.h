// The pieces of update.exe that meet: the two dialog procedures and the
// progress dialog's side of the engine's callbacks. Everything the run
// decides is the engine's (engine/engine.h); this program only asks and
// shows.
#ifndef APP_UPDATE_H
#define APP_UPDATE_H

#include "copyblocks.h"
#include "engine/engine.h"
#include "heldbar.h"

#include <windows.h>

#include <string>

// The modal confirmation dialog (template 101), created with the engine
// as its parameter: its caption and first line name the title; OK ends
// it with 1, Cancel, Escape and the close box with 0.
INT_PTR CALLBACK ConfirmDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// The progress dialog's state, handed to it at creation.
struct Progress {
    HWND hDlg;
    HWND hBar;
    HWND hLabel;
    // Painted only when the queue is serviced (heldbar.h).
    HeldBar heldBar;
    PercentThrottle throttle;
    DWORD dwLastPump;
    // A label waiting for the next time the dialog is brought up to date:
    // set per file, it cost more than copying a small file under Wine.
    std::wstring label;
    int bLabelDue;
    // Set by Cancel, Escape and the close box.
    int bCancel;
};

// The modeless progress dialog (template 102), created with its Progress
// as parameter: Cancel, Escape and the close box set bCancel; it never
// closes itself.
INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Starts driving the shown dialog: the label reads lpszLabel, the bar 0.
void StartProgress(Progress* pProgress, HWND hDlg, const char* lpszLabel);
// Lets the bar paint again, showing where the work stopped.
void EndProgress(Progress* pProgress);
// The engine's callbacks that drive the dialog and see its Cancel.
EngineCallbacks ProgressCallbacks(Progress* pProgress);

#endif
