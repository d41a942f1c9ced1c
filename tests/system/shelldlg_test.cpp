// The file dialogs and the folder browser, shown for real on the test
// run's X server. Each dialog runs on a thread of its own while the test's
// thread drives it as a user would: it waits for the window, types a name
// into it and presses its buttons. Every wait polls with a timeout.
#include "system/shelldlg.h"

#include "file/directory.h"
#include "platform/platform.h"
#include "support/scratch.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <functional>
#include <string.h>
#include <string>

namespace {

const DWORD kTimeout = 30000;

// Control ids of the platform's dialogs.
const int kFileNameBox = 0x47C;  // the name combo box of the Explorer-style dialog
const int kFolderTree = 0x3741;  // the browser's tree view

template <class F> bool Poll(F cond)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        if (cond())
            return true;
        if (GetTickCount() - dwStart > kTimeout)
            return false;
        Sleep(2);
    }
}


std::string CurrentDirectory()
{
    char buf[MAX_PATH];
    DWORD dwLen = GetCurrentDirectoryA(MAX_PATH, buf);
    return std::string(buf, dwLen < MAX_PATH ? dwLen : 0);
}

std::string FullPath(const std::string& path)
{
    char buf[MAX_PATH];
    DWORD dwLen = GetFullPathNameA(path.c_str(), MAX_PATH, buf, NULL);
    return std::string(buf, dwLen < MAX_PATH ? dwLen : 0);
}

// One dialog call on its own thread, with its result once it returned.
class DialogThread {
public:
    explicit DialogThread(std::function<int()> call) : m_call(call)
    {
        m_hThread = CreateThread(NULL, 0, Main, this, 0, &m_dwThreadId);
    }
    ~DialogThread()
    {
        // A test that failed half-way leaves its dialog open: cancel every
        // window of the thread until it returns.
        while (m_hThread && WaitForSingleObject(m_hThread, 50) == WAIT_TIMEOUT)
            EnumThreadWindows(m_dwThreadId, CancelProc, 0);
        if (m_hThread)
            CloseHandle(m_hThread);
    }
    bool Running() const { return WaitForSingleObject(m_hThread, 0) == WAIT_TIMEOUT; }
    bool Finished() const { return WaitForSingleObject(m_hThread, kTimeout) == WAIT_OBJECT_0; }
    int Result() const { return m_nResult; }

    // The first visible dialog window of the thread that pred accepts.
    HWND Wait(std::function<bool(HWND)> pred) const
    {
        FindState st = { &pred, NULL };
        Poll([&] {
            EnumThreadWindows(m_dwThreadId, FindProc, (LPARAM)&st);
            return st.hFound != NULL;
        });
        return st.hFound;
    }
    HWND WaitDialog(int nControlId) const
    {
        return Wait([=](HWND h) { return GetDlgItem(h, nControlId) != NULL; });
    }
    // A message box that the dialog opened.
    HWND WaitBox(HWND hDlg) const
    {
        return Wait([=](HWND h) { return GetWindow(h, GW_OWNER) == hDlg && GetDlgItem(h, 0xFFFF) != NULL; });
    }

private:
    struct FindState {
        std::function<bool(HWND)>* pPred;
        HWND hFound;
    };
    static BOOL CALLBACK FindProc(HWND hWnd, LPARAM lParam)
    {
        FindState* p = (FindState*)lParam;
        char szClass[16];
        if (!IsWindowVisible(hWnd) || !GetClassNameA(hWnd, szClass, sizeof(szClass)) || strcmp(szClass, "#32770"))
            return TRUE;
        if (!(*p->pPred)(hWnd))
            return TRUE;
        p->hFound = hWnd;
        return FALSE;
    }
    static BOOL CALLBACK CancelProc(HWND hWnd, LPARAM)
    {
        PostMessageA(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
    static DWORD WINAPI Main(LPVOID p)
    {
        DialogThread* self = (DialogThread*)p;
        self->m_nResult = self->m_call();
        return 0;
    }

    std::function<int()> m_call;
    HANDLE m_hThread;
    DWORD m_dwThreadId = 0;
    int m_nResult = -1;
};

// Posted, never sent: a sent click would not return while the message
// box it opens is shown.
void Click(HWND hDlg, int nId)
{
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, nId));
}

// Presses a message box's button and waits until the box has gone.
bool Answer(HWND hBox, int nId)
{
    Click(hBox, nId);
    return Poll([=] { return !IsWindow(hBox); });
}

BOOL CALLBACK FindEdit(HWND hWnd, LPARAM lParam)
{
    char szClass[16];
    GetClassNameA(hWnd, szClass, sizeof(szClass));
    if (strcmp(szClass, "Edit"))
        return TRUE;
    *(HWND*)lParam = hWnd;
    return FALSE;
}

// Types a name into the file dialog's name box, in UTF-16 as a user on
// any system types it, and presses its OK button.
void Enter(HWND hDlg, const std::wstring& name)
{
    HWND hEdit = NULL;
    EnumChildWindows(GetDlgItem(hDlg, kFileNameBox), FindEdit, (LPARAM)&hEdit);
    ASSERT_TRUE(hEdit != NULL);
    SendMessageW(hEdit, WM_SETTEXT, 0, (LPARAM)name.c_str());
    Click(hDlg, IDOK);
}

// An ASCII name.
void Enter(HWND hDlg, const std::string& name)
{
    Enter(hDlg, std::wstring(name.begin(), name.end()));
}

const char kFilter[] = "Text\0*.txt\0All\0*.*\0";

class FileDialog : public ::testing::Test {
protected:
    FileDialog() : m_dir("shelldlg")
    {
        m_root = FullPath(m_dir.Root());
        CreateDirectories(m_dir.Path("other").c_str());
        WriteWholeFile(m_dir.Path("exists.txt"), "x");
        WriteWholeFile(m_dir.Path("other\\far.txt"), "y");
        m_start = CurrentDirectory();
        memset(m_szName, 'Q', sizeof(m_szName));
        memset(m_szFull, 'Q', sizeof(m_szFull));
    }
    ~FileDialog() override { SetCurrentDirectoryA(m_start.c_str()); }

    std::function<int()> Call(int bSave, const char* lpszDefExt = NULL)
    {
        return [=] { return SelectFileDialog(m_szName, NULL, bSave, m_root.c_str(), lpszDefExt, kFilter, 2, m_szFull); };
    }

    ScratchDir m_dir;
    std::string m_root, m_start;
    char m_szName[MAX_PATH], m_szFull[MAX_PATH];
};

TEST_F(FileDialog, OpenRefusesAMissingNameAndReturnsTheChosenOne)
{
    DialogThread dlg(Call(0));
    HWND hDlg = dlg.WaitDialog(kFileNameBox);
    ASSERT_TRUE(hDlg);

    Enter(hDlg, "missing.txt");
    HWND hBox = dlg.WaitBox(hDlg);
    ASSERT_TRUE(hBox) << "no complaint about a file that does not exist";
    ASSERT_TRUE(Answer(hBox, IDOK));
    EXPECT_TRUE(dlg.Running()) << "the dialog ended on a missing file";

    Enter(hDlg, "exists.txt");
    ASSERT_TRUE(dlg.Finished());
    EXPECT_NE(0, dlg.Result());
    EXPECT_STREQ("exists.txt", m_szName);
    EXPECT_EQ(m_root + "\\exists.txt", m_szFull);
    EXPECT_EQ(m_start, CurrentDirectory());

    // Names cross as their characters whatever the system's code page:
    // "Sofuto" in katakana comes back in code page 932; cafe with an
    // accent, which has no form there, is no choice.
    const std::string kana = "\x83\x5C\x83\x74\x83\x67.txt";
    ASSERT_TRUE(WriteWholeFile(m_dir.Path("k.txt"), "k"));
    ASSERT_EQ(1, PlatMoveFile(m_dir.Path("k.txt").c_str(), m_dir.Path(kana).c_str()));
    ASSERT_TRUE(MakeHostEntry("scratch_shelldlg/caf\xC3\xA9.txt", false));
    for (const wchar_t* lpszTyped : { L"\u30BD\u30D5\u30C8.txt", L"caf\u00E9.txt" }) {
        DialogThread dlgKana(Call(0));
        hDlg = dlgKana.WaitDialog(kFileNameBox);
        ASSERT_TRUE(hDlg);
        Enter(hDlg, std::wstring(lpszTyped));
        ASSERT_TRUE(dlgKana.Finished());
        bool bKana = lpszTyped[0] != L'c';
        EXPECT_EQ(bKana ? 1 : 0, dlgKana.Result() != 0) << bKana;
        EXPECT_EQ(bKana ? kana : "", std::string(m_szName));
        EXPECT_EQ(bKana ? m_root + "\\" + kana : "", std::string(m_szFull));
    }
    RemoveHostEntry("scratch_shelldlg/caf\xC3\xA9.txt");
}

TEST_F(FileDialog, SaveAsksBeforeOverwritingAndAddsTheDefaultExtension)
{
    {
        DialogThread dlg(Call(1, "txt"));
        HWND hDlg = dlg.WaitDialog(kFileNameBox);
        ASSERT_TRUE(hDlg);
        Enter(hDlg, "exists.txt");
        HWND hBox = dlg.WaitBox(hDlg);
        ASSERT_TRUE(hBox) << "overwritten without asking";
        ASSERT_TRUE(Answer(hBox, IDNO));
        EXPECT_TRUE(dlg.Running()) << "No did not keep the dialog open";

        Enter(hDlg, "exists.txt");
        hBox = dlg.WaitBox(hDlg);
        ASSERT_TRUE(hBox);
        ASSERT_TRUE(Answer(hBox, IDYES));
        ASSERT_TRUE(dlg.Finished());
        EXPECT_NE(0, dlg.Result());
        EXPECT_STREQ("exists.txt", m_szName);
    }
    {
        // A new name: no question, and the extension is added.
        DialogThread dlg(Call(1, "txt"));
        HWND hDlg = dlg.WaitDialog(kFileNameBox);
        ASSERT_TRUE(hDlg);
        Enter(hDlg, "fresh");
        ASSERT_TRUE(dlg.Finished());
        EXPECT_NE(0, dlg.Result());
        EXPECT_STREQ("fresh.txt", m_szName);
        EXPECT_EQ(m_root + "\\fresh.txt", m_szFull);
    }
    EXPECT_EQ(m_start, CurrentDirectory());
}

// Browsing moves the process's current folder while the dialog is open;
// the call puts it back, whether the user chose a file or cancelled.
TEST_F(FileDialog, CurrentFolderIsRestoredAfterBrowsingElsewhere)
{
    for (int bSave = 0; bSave <= 1; bSave++) {
        for (int bCancel = 0; bCancel <= 1; bCancel++) {
            SCOPED_TRACE(testing::Message() << "save " << bSave << ", cancel " << bCancel);
            DialogThread dlg(Call(bSave));
            HWND hDlg = dlg.WaitDialog(kFileNameBox);
            ASSERT_TRUE(hDlg);
            Enter(hDlg, "other");
            ASSERT_TRUE(Poll([&] { return CurrentDirectory() == m_root + "\\other"; }))
                << "the dialog never moved the current folder; it is " << CurrentDirectory();
            if (bCancel)
                Click(hDlg, IDCANCEL);
            else
                Enter(hDlg, "far.txt");
            if (!bCancel && bSave) {
                HWND hBox = dlg.WaitBox(hDlg);
                ASSERT_TRUE(hBox);
                ASSERT_TRUE(Answer(hBox, IDYES));
            }
            ASSERT_TRUE(dlg.Finished());
            EXPECT_EQ(m_start, CurrentDirectory());
            if (bCancel) {
                EXPECT_EQ(0, dlg.Result());
                EXPECT_STREQ("", m_szFull);
            } else {
                EXPECT_NE(0, dlg.Result());
                EXPECT_STREQ("far.txt", m_szName);
                EXPECT_EQ(m_root + "\\other\\far.txt", m_szFull);
            }
        }
    }
}

// --- The folder browser -------------------------------------------------

std::string ItemText(HWND hTree, HTREEITEM hItem)
{
    char buf[MAX_PATH] = "";
    TVITEMA item;
    memset(&item, 0, sizeof(item));
    item.mask = TVIF_TEXT;
    item.hItem = hItem;
    item.pszText = buf;
    item.cchTextMax = sizeof(buf);
    if (!SendMessageA(hTree, TVM_GETITEMA, 0, (LPARAM)&item))
        return "";
    return buf;
}

HTREEITEM Selected(HWND hTree)
{
    return (HTREEITEM)SendMessageA(hTree, TVM_GETNEXTITEM, TVGN_CARET, 0);
}

// The browser finds the folder to select by comparing the parsed path
// with its tree item by item, and Wine's items carry each folder's write
// time: a folder on the way that changes meanwhile (the build tree, /tmp)
// makes the selection miss at random. So the tests browse a folder of
// their own at the top of the prefix's drive C:, which nothing else
// touches.
class FolderBrowser : public ::testing::Test {
protected:
    FolderBrowser() : m_root("C:\\gamepatch_browse")
    {
        RemoveTree(m_root);
        CreateDirectories((m_root + "\\inner").c_str());
        memset(m_szPath, 'Q', sizeof(m_szPath));
    }
    ~FolderBrowser() override { RemoveTree(m_root); }
    std::string m_root;
    char m_szPath[MAX_PATH];
};

TEST_F(FolderBrowser, OpensOnTheInitialFolderAndReturnsTheChosenOne)
{
    {
        DialogThread dlg([&] { return BrowseFolderDialog(m_szPath, NULL, m_root.c_str()); });
        HWND hDlg = dlg.WaitDialog(kFolderTree);
        ASSERT_TRUE(hDlg);
        HWND hTree = GetDlgItem(hDlg, kFolderTree);
        ASSERT_TRUE(Poll([&] { return ItemText(hTree, Selected(hTree)) == "gamepatch_browse"; }))
            << "selected: " << ItemText(hTree, Selected(hTree));
        Click(hDlg, IDOK);
        ASSERT_TRUE(dlg.Finished());
        EXPECT_EQ(1, dlg.Result());
        EXPECT_EQ(m_root, m_szPath);
    }
    {
        // Down into a subfolder before OK.
        DialogThread dlg([&] { return BrowseFolderDialog(m_szPath, NULL, m_root.c_str()); });
        HWND hDlg = dlg.WaitDialog(kFolderTree);
        ASSERT_TRUE(hDlg);
        HWND hTree = GetDlgItem(hDlg, kFolderTree);
        ASSERT_TRUE(Poll([&] { return ItemText(hTree, Selected(hTree)) == "gamepatch_browse"; }));
        HTREEITEM hFolder = Selected(hTree);
        SendMessageA(hTree, TVM_EXPAND, TVE_EXPAND, (LPARAM)hFolder);
        HTREEITEM hChild = (HTREEITEM)SendMessageA(hTree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)hFolder);
        ASSERT_EQ("inner", ItemText(hTree, hChild));
        SendMessageA(hTree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)hChild);
        Click(hDlg, IDOK);
        ASSERT_TRUE(dlg.Finished());
        EXPECT_EQ(1, dlg.Result());
        EXPECT_EQ(m_root + "\\inner", m_szPath);
    }
}

TEST_F(FolderBrowser, CancelLeavesTheBufferAndNoInitialFolderIsAllowed)
{
    for (const char* lpszInitial : { (const char*)NULL, "" }) {
        SCOPED_TRACE(lpszInitial ? "empty" : "null");
        DialogThread dlg([&] { return BrowseFolderDialog(m_szPath, NULL, lpszInitial); });
        HWND hDlg = dlg.WaitDialog(kFolderTree);
        ASSERT_TRUE(hDlg);
        HWND hTree = GetDlgItem(hDlg, kFolderTree);
        // The browser stays at the top of the namespace.
        HTREEITEM hTop = (HTREEITEM)SendMessageA(hTree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        EXPECT_TRUE(Selected(hTree) == NULL || Selected(hTree) == hTop);
        Click(hDlg, IDCANCEL);
        ASSERT_TRUE(dlg.Finished());
        EXPECT_EQ(0, dlg.Result());
        EXPECT_EQ('Q', m_szPath[0]);
    }
}

} // namespace
