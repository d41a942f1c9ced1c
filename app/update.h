// The pieces of update.exe that meet: the update context, the two dialog
// procedures and the copy pass.
#ifndef APP_UPDATE_H
#define APP_UPDATE_H

#include "updateinfo.h"

#include <windows.h>

// Both information files for the life of the process; the dialogs are
// created with no parameter and reach it here.
extern UpdateContext g_Context;

// The modal confirmation dialog (template 101): its caption and first line
// name the title; OK ends it with 1, Cancel, Escape and the close box
// with 0.
INT_PTR CALLBACK ConfirmDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
// The modeless progress dialog (template 102): Cancel, Escape and the
// close box set g_Context.bCancel; it never closes itself.
INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Installs the update list: folders are created, files copied from the
// source root into the install folder (both paths end in a backslash),
// each installed entry merged into the uninstall list at once. Returns 1
// when every record was handled, 0 when a file could not be copied or the
// user cancelled; the installed file being replaced then stays as it was.
int CopyFiles(HWND hDlg, const char* lpszInstallDirectory, const char* lpszSrcFileName);

#endif
