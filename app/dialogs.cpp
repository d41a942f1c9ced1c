#include "update.h"

#include "messages.h"
#include "platform/wide.h"
#include "resource.h"

#include <stdio.h>

INT_PTR CALLBACK ConfirmDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    // The title is at most 60 bytes, so both texts fit.
    char lpszBuf[128];
    switch (uMsg) {
    case WM_INITDIALOG: {
        const UpdateEngine* pEngine = (const UpdateEngine*)lParam;
        snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtConfirmCaption, pEngine->context.update.szTitle);
        SetWindowTextW(hDlg, PlatWide(lpszBuf).c_str());
        snprintf(lpszBuf, sizeof(lpszBuf), g_szFmtConfirmText, pEngine->context.update.szTitle);
        SetDlgItemTextW(hDlg, IDC_CONFIRM_TEXT, PlatWide(lpszBuf).c_str());
        break;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            EndDialog(hDlg, 1);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(hDlg, 0);
        break;
    }
    // Also for WM_INITDIALOG: the dialog manager then leaves the focus
    // where activation puts it.
    return 0;
}

INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_INITDIALOG)
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
    // The dialog stays up: the engine sees the flag at its next poll and
    // stops, and the run then destroys it.
    Progress* pProgress = (Progress*)GetWindowLongPtrW(hDlg, DWLP_USER);
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDCANCEL && pProgress)
        pProgress->bCancel = 1;
    return 0;
}
