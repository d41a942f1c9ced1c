#include "system/shelldlg.h"

#include <commdlg.h>
#include <shlobj.h>
#include <string.h>

// The request form before the places bar: 76 bytes in a 32-bit build.
static_assert(sizeof(void*) != 4 || OPENFILENAME_SIZE_VERSION_400A == 76, "older file-dialog request form");

int SelectFileDialog(char* lpszFileName, HWND hWnd, int bSave, const char* lpszInitialDir, const char* lpszDefExt,
                     const char* lpszFilter, DWORD dwFilterIndex, char* lpszFullPath)
{
    char current[MAX_PATH];
    DWORD dwCurrent = GetCurrentDirectoryA(MAX_PATH, current);
    // The dialog always gets a full-path buffer of its own: a caller that
    // wants only the name need not supply one, and the platform then
    // starts from an empty name rather than whatever the caller held.
    char lpszPath[MAX_PATH] = "";
    lpszFileName[0] = 0;

    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = hWnd;
    ofn.lpstrFilter = lpszFilter;
    ofn.nFilterIndex = dwFilterIndex;
    ofn.lpstrFile = lpszPath;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrFileTitle = lpszFileName;
    ofn.nMaxFileTitle = MAX_PATH;
    ofn.lpstrInitialDir = lpszInitialDir;
    ofn.lpstrDefExt = lpszDefExt;
    ofn.Flags = bSave ? OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    BOOL bResult = bSave ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (lpszFullPath)
        strcpy(lpszFullPath, bResult ? lpszPath : "");
    if (dwCurrent > 0 && dwCurrent < MAX_PATH)
        SetCurrentDirectoryA(current);
    return bResult;
}

int CALLBACK BrowseFolderCallback(HWND hWnd, UINT uMsg, LPARAM lParam, LPARAM lpData)
{
    (void)lParam;
    // Without a folder the browser stays where it starts; a null path
    // would be read as a string by the browser.
    if (uMsg == BFFM_INITIALIZED && lpData && *(const char*)lpData)
        SendMessageA(hWnd, BFFM_SETSELECTIONA, TRUE, lpData);
    return 0;
}

int BrowseFolderDialog(char* lpszPath, HWND hWnd, const char* lpszInitialDir)
{
    IMalloc* lpMalloc;
    if (SHGetMalloc(&lpMalloc) != S_OK || !lpMalloc)
        return 0;

    BROWSEINFOA bi;
    memset(&bi, 0, sizeof(bi));
    bi.hwndOwner = hWnd;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseFolderCallback;
    bi.lParam = (LPARAM)lpszInitialDir;

    LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
    if (!pidl) {
        lpMalloc->Release();
        return 0;
    }
    // Only file-system folders can be chosen, so the conversion has a
    // path to give; should it fail all the same, the result is empty
    // rather than undefined.
    lpszPath[0] = 0;
    SHGetPathFromIDListA(pidl, lpszPath);
    lpMalloc->Free(pidl);
    lpMalloc->Release();
    return 1;
}
