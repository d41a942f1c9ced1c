// The held progress bar with real windows on the test run's X server: a
// window of the dialog class without WS_CLIPCHILDREN, as the progress
// dialog is, with a bordered bar, read back pixel by pixel through the
// dialog's device context, which takes in what its children painted.
#include "heldbar.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

class HeldBarTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_PROGRESS_CLASS };
        InitCommonControlsEx(&icc);
        m_hDlg = CreateWindowExA(WS_EX_DLGMODALFRAME, WC_DIALOG, "held bar", WS_POPUP | WS_CAPTION | WS_VISIBLE, 20,
                                 20, 320, 120, NULL, NULL, NULL, NULL);
        m_hBar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 40, 280, 20, m_hDlg,
                                 (HMENU)1001, NULL, NULL);
        ASSERT_TRUE(m_hDlg != NULL && m_hBar != NULL);
    }
    void TearDown() override
    {
        if (m_hDlg)
            DestroyWindow(m_hDlg);
    }

    // What the copy pass does between blocks when the dialog is due.
    static void Service()
    {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    void SetPos(int nPercent) { SendMessageA(m_hBar, PBM_SETPOS, nPercent, 0); }
    // Whether the bar shows filled nPercent of the way across: in the
    // colour a bar not given one fills with when drawn without a theme.
    bool FilledAt(int nPercent)
    {
        RECT rc;
        GetClientRect(m_hBar, &rc);
        POINT pt = { rc.right * nPercent / 100, rc.bottom / 2 };
        MapWindowPoints(m_hBar, m_hDlg, &pt, 1);
        HDC hdc = GetDC(m_hDlg);
        COLORREF cr = GetPixel(hdc, pt.x, pt.y);
        ReleaseDC(m_hDlg, hdc);
        return cr == GetSysColor(COLOR_HIGHLIGHT);
    }

    HWND m_hDlg = NULL;
    HWND m_hBar = NULL;
    HeldBar m_bar;
};

TEST_F(HeldBarTest, PaintsPositionsOnlyWhenReleased)
{
    Service();
    StartHeldBar(&m_bar, m_hDlg, m_hBar);
    SetPos(60);
    EXPECT_FALSE(FilledAt(30));
    ReleaseBar(&m_bar);
    EXPECT_TRUE(FilledAt(30));
    EXPECT_FALSE(FilledAt(90));

    HoldBar(&m_bar);
    SetPos(100);
    SetPos(0);
    SetPos(95);
    EXPECT_FALSE(FilledAt(90));
    ReleaseBar(&m_bar);
    EXPECT_TRUE(FilledAt(90));
    // Still reports every position it was given.
    EXPECT_EQ(95, SendMessageA(m_hBar, PBM_GETPOS, 0, 0));
}

TEST_F(HeldBarTest, FirstReleasePaintsADialogNeverPainted)
{
    // Held before the dialog's first paint, as the copy pass does right
    // after showing it.
    StartHeldBar(&m_bar, m_hDlg, m_hBar);
    SetPos(40);
    ReleaseBar(&m_bar);
    EXPECT_TRUE(FilledAt(20));
    EXPECT_FALSE(FilledAt(60));
    EXPECT_FALSE(GetUpdateRect(m_hDlg, NULL, FALSE));
}

TEST_F(HeldBarTest, RepaintsOverWhatTheDialogPaintedWhileItWasHidden)
{
    Service();
    StartHeldBar(&m_bar, m_hDlg, m_hBar);
    SetPos(60);
    ReleaseBar(&m_bar);
    ASSERT_TRUE(FilledAt(30));
    HoldBar(&m_bar);
    // The dialog has to repaint (uncovered, say) while the bar is hidden;
    // its background goes over where the bar is.
    RedrawWindow(m_hDlg, NULL, NULL, RDW_INVALIDATE | RDW_ERASE);
    ReleaseBar(&m_bar);
    Service();
    EXPECT_TRUE(FilledAt(30));
}

TEST_F(HeldBarTest, PaintsAtOnceAgainOnceReleased)
{
    Service();
    StartHeldBar(&m_bar, m_hDlg, m_hBar);
    SetPos(10);
    ReleaseBar(&m_bar);
    // The end of the pass: an ordinary bar again.
    SetPos(80);
    EXPECT_TRUE(FilledAt(70));
}

} // namespace
