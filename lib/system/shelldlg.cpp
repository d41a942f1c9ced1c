#include "system/shelldlg.h"

#include "platform/wide.h"

#include <commdlg.h>
#include <shlobj.h>
#include <string.h>

#include <string>

// The dialogs run in their W forms with the texts converted from and to
// code page 932 here, so that they show and return the same names on
// every system, whatever its own code page.

// The request form before the places bar: 76 bytes in a 32-bit build.
static_assert(sizeof(void*) != 4 || OPENFILENAME_SIZE_VERSION_400W == 76, "older file-dialog request form");

// Text that may be null (the platform's default) as UTF-16.
static const WCHAR* OrNull(const char* lpszText, std::wstring* pWide)
{
    if (!lpszText)
        return NULL;
    *pWide = PlatWide(lpszText);
    return pWide->c_str();
}

// The filter's pairs of strings, up to and with the empty one that ends
// them, converted as one piece.
static std::wstring WideFilter(const char* lpszFilter)
{
    size_t nLen = 0;
    while (lpszFilter[nLen] || lpszFilter[nLen + 1])
        nLen++;
    nLen += 2;
    std::wstring wide(nLen * 2, L'\0');
    wide.resize(MultiByteToWideChar(932, 0, lpszFilter, (int)nLen, &wide[0], (int)wide.size()));
    return wide;
}

int SelectFileDialog(char* lpszFileName, HWND hWnd, int bSave, const char* lpszInitialDir, const char* lpszDefExt,
                     const char* lpszFilter, DWORD dwFilterIndex, char* lpszFullPath)
{
    // Kept in UTF-16, so a current folder with no code-page-932 form comes
    // back all the same.
    WCHAR current[MAX_PATH];
    DWORD dwCurrent = GetCurrentDirectoryW(MAX_PATH, current);
    // The dialog always gets a full-path buffer of its own: a caller that
    // wants only the name need not supply one, and the platform then
    // starts from an empty name rather than whatever the caller held.
    WCHAR lpszPath[MAX_PATH] = L"", lpszTitle[MAX_PATH] = L"";
    lpszFileName[0] = 0;
    std::wstring filter = lpszFilter ? WideFilter(lpszFilter) : std::wstring(), initialDir, defExt;

    OPENFILENAMEW ofn;
    memset(&ofn, 0, sizeof(ofn));
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = hWnd;
    ofn.lpstrFilter = lpszFilter ? filter.c_str() : NULL;
    ofn.nFilterIndex = dwFilterIndex;
    ofn.lpstrFile = lpszPath;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrFileTitle = lpszTitle;
    ofn.nMaxFileTitle = MAX_PATH;
    ofn.lpstrInitialDir = OrNull(lpszInitialDir, &initialDir);
    ofn.lpstrDefExt = OrNull(lpszDefExt, &defExt);
    ofn.Flags = bSave ? OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY : OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;

    BOOL bResult = bSave ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    // A choice the library could not name is no choice.
    char lpszFull[MAX_PATH] = "";
    if (bResult && (!PlatNarrowTo(lpszTitle, lpszFileName, MAX_PATH) || !PlatNarrowTo(lpszPath, lpszFull, MAX_PATH))) {
        lpszFileName[0] = 0;
        bResult = FALSE;
    }
    if (lpszFullPath)
        strcpy(lpszFullPath, bResult ? lpszFull : "");
    if (dwCurrent > 0 && dwCurrent < MAX_PATH)
        SetCurrentDirectoryW(current);
    return bResult;
}

int CALLBACK BrowseFolderCallback(HWND hWnd, UINT uMsg, LPARAM lParam, LPARAM lpData)
{
    (void)lParam;
    // Without a folder the browser stays where it starts; a null path
    // would be read as a string by the browser.
    if (uMsg == BFFM_INITIALIZED && lpData && *(const char*)lpData) {
        std::wstring folder = PlatWide((const char*)lpData);
        SendMessageW(hWnd, BFFM_SETSELECTIONW, TRUE, (LPARAM)folder.c_str());
    }
    return 0;
}

int BrowseFolderDialog(char* lpszPath, HWND hWnd, const char* lpszInitialDir)
{
    IMalloc* lpMalloc;
    if (SHGetMalloc(&lpMalloc) != S_OK || !lpMalloc)
        return 0;

    BROWSEINFOW bi;
    memset(&bi, 0, sizeof(bi));
    bi.hwndOwner = hWnd;
    bi.ulFlags = BIF_RETURNONLYFSDIRS;
    bi.lpfn = BrowseFolderCallback;
    bi.lParam = (LPARAM)lpszInitialDir;

    LPITEMIDLIST pidl = SHBrowseForFolderW(&bi);
    if (!pidl) {
        lpMalloc->Release();
        return 0;
    }
    // Only file-system folders can be chosen, so the conversion has a
    // path to give; should it fail all the same, the result is empty
    // rather than undefined.
    WCHAR lpszWide[MAX_PATH] = L"";
    SHGetPathFromIDListW(pidl, lpszWide);
    lpMalloc->Free(pidl);
    lpMalloc->Release();
    // A folder the library could not name is no choice.
    char lpszNarrow[MAX_PATH];
    if (!PlatNarrowTo(lpszWide, lpszNarrow, MAX_PATH))
        return 0;
    strcpy(lpszPath, lpszNarrow);
    return 1;
}
