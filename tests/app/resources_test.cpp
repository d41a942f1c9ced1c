// Checks the resources linked into update.exe: both dialog templates
// control by control, in Japanese (1041), the icon and the manifest.
#include "resource.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <string>
#include <vector>

#ifndef UPDATE_EXE
#error UPDATE_EXE must name update.exe relative to the folder of the test
#endif

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

class Resources : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_hModule = LoadLibraryExA(UPDATE_EXE, NULL, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (s_hModule)
            FreeLibrary(s_hModule);
    }
    void SetUp() override { ASSERT_NE(nullptr, s_hModule) << "cannot load " << UPDATE_EXE; }

    // The bytes of one resource, or empty when there is none.
    static std::string Load(LPCSTR lpszType, LPCSTR lpszName, WORD wLang)
    {
        HRSRC hRsrc = FindResourceExA(s_hModule, lpszType, lpszName, wLang);
        if (!hRsrc)
            return std::string();
        HGLOBAL hData = LoadResource(s_hModule, hRsrc);
        const char* p = (const char*)LockResource(hData);
        return std::string(p, SizeofResource(s_hModule, hRsrc));
    }
    static HMODULE s_hModule;
};
HMODULE Resources::s_hModule = NULL;

// A reader for the classic dialog template layout.
class TemplateReader {
public:
    explicit TemplateReader(const std::string& data) : m_data(data), m_pos(0) {}
    DWORD Dword() { DWORD v = 0; Take(&v, 4); return v; }
    WORD Word() { WORD v = 0; Take(&v, 2); return v; }
    short Short() { return (short)Word(); }
    // A string, or "#n" for an ordinal.
    std::wstring SzOrOrd()
    {
        WORD w = Word();
        if (w == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring s;
        for (; w; w = Word())
            s += (wchar_t)w;
        return s;
    }
    void AlignDword() { m_pos = (m_pos + 3) & ~(size_t)3; }
    bool Overrun() const { return m_pos > m_data.size(); }

private:
    void Take(void* p, size_t n)
    {
        if (m_pos + n <= m_data.size())
            memcpy(p, m_data.data() + m_pos, n);
        m_pos += n;
    }
    const std::string& m_data;
    size_t m_pos;
};

struct Item {
    DWORD dwStyle;
    short x, y, cx, cy;
    WORD wId;
    std::wstring cls, text;
};

const DWORD kFrame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;

void CheckTemplate(const std::string& data, const wchar_t* lpszCaption, const std::vector<Item>& expected)
{
    ASSERT_FALSE(data.empty()) << "no Japanese template";
    TemplateReader r(data);
    EXPECT_EQ(kFrame, r.Dword()) << "frame style";
    EXPECT_EQ(0u, r.Dword()) << "extended style";
    WORD wCount = r.Word();
    r.Short();
    r.Short();
    EXPECT_EQ(197, r.Short());
    EXPECT_EQ(61, r.Short());
    EXPECT_EQ(L"", r.SzOrOrd()) << "menu";
    EXPECT_EQ(L"", r.SzOrOrd()) << "class";
    EXPECT_EQ(std::wstring(lpszCaption), r.SzOrOrd());
    EXPECT_EQ(9, r.Word()) << "font size";
    EXPECT_EQ(std::wstring(L"ＭＳ Ｐゴシック"), r.SzOrOrd());
    ASSERT_EQ(expected.size(), wCount);
    for (const Item& e : expected) {
        r.AlignDword();
        Item got;
        got.dwStyle = r.Dword();
        EXPECT_EQ(0u, r.Dword()) << "extended style of " << e.wId;
        got.x = r.Short();
        got.y = r.Short();
        got.cx = r.Short();
        got.cy = r.Short();
        got.wId = r.Word();
        got.cls = r.SzOrOrd();
        got.text = r.SzOrOrd();
        EXPECT_EQ(0, r.Word()) << "creation data of " << e.wId;
        EXPECT_EQ(e.wId, got.wId);
        EXPECT_EQ(e.dwStyle, got.dwStyle) << std::hex << "style of " << e.wId;
        EXPECT_EQ(e.x, got.x) << e.wId;
        EXPECT_EQ(e.y, got.y) << e.wId;
        EXPECT_EQ(e.cx, got.cx) << e.wId;
        EXPECT_EQ(e.cy, got.cy) << e.wId;
        // The resource compiler stores class names in capitals; the OS
        // compares them without regard to case.
        EXPECT_EQ(0, _wcsicmp(e.cls.c_str(), got.cls.c_str())) << "class of " << e.wId;
        EXPECT_TRUE(e.text == got.text) << "text of " << e.wId;
    }
    EXPECT_FALSE(r.Overrun());
}

const DWORD kChild = WS_CHILD | WS_VISIBLE;
const wchar_t kButton[] = L"#128";
const wchar_t kStatic[] = L"#130";

TEST_F(Resources, ConfirmationDialogTemplate)
{
    CheckTemplate(Load(RT_DIALOG, MAKEINTRESOURCEA(IDD_UPDATE_CONFIRM), kJapanese), L"アップデート",
                  {
                      { kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 7, 40, 60, 14, IDOK, kButton, L"OK" },
                      { kChild | WS_TABSTOP | BS_PUSHBUTTON, 130, 40, 60, 14, IDCANCEL, kButton, L"ｷｬﾝｾﾙ" },
                      { kChild | WS_GROUP | SS_CENTER | SS_CENTERIMAGE, 7, 7, 183, 8, IDC_CONFIRM_TEXT, kStatic,
                        L"-のアップデートを行います" },
                      { kChild | WS_GROUP | SS_CENTER, 7, 21, 183, 8, 0xFFFF, kStatic, L"よろしいですか？" },
                  });
}

TEST_F(Resources, ProgressDialogTemplate)
{
    CheckTemplate(Load(RT_DIALOG, MAKEINTRESOURCEA(IDD_UPDATE_PROGRESS), kJapanese), L"アップデート中",
                  {
                      { kChild | WS_TABSTOP | BS_PUSHBUTTON, 130, 40, 60, 14, IDCANCEL, kButton, L"ｷｬﾝｾﾙ" },
                      { kChild | WS_BORDER, 7, 21, 183, 14, IDC_PROGRESS_BAR, L"msctls_progress32", L"Progress1" },
                      { kChild | WS_GROUP | SS_LEFT, 7, 7, 131, 8, IDC_PROGRESS_TEXT, kStatic, L"Static" },
                  });
}

TEST_F(Resources, IconIsOne32By32ImageOf16Colours)
{
    std::string group = Load(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_UPDATE), kJapanese);
    ASSERT_EQ(6u + 14u, group.size());
    const BYTE* p = (const BYTE*)group.data();
    EXPECT_EQ(1, p[2] | p[3] << 8) << "resource type: icon";
    EXPECT_EQ(1, p[4] | p[5] << 8) << "one image";
    EXPECT_EQ(32, p[6]);
    EXPECT_EQ(32, p[7]);
    EXPECT_EQ(16, p[8]);
    EXPECT_EQ(4, p[12] | p[13] << 8) << "bits per pixel";
    WORD wImage = (WORD)(p[18] | p[19] << 8);
    std::string image = Load(RT_ICON, MAKEINTRESOURCEA(wImage), kJapanese);
    ASSERT_GE(image.size(), 40u + 64u + 512u + 128u);
    const BITMAPINFOHEADER* pHeader = (const BITMAPINFOHEADER*)image.data();
    EXPECT_EQ(32, pHeader->biWidth);
    EXPECT_EQ(64, pHeader->biHeight);
    EXPECT_EQ(4, pHeader->biBitCount);
}

TEST_F(Resources, ManifestEnablesCommonControlsAndAsksForTheHighestAvailableLevel)
{
    std::string manifest = Load(RT_MANIFEST, MAKEINTRESOURCEA(1), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""));
    EXPECT_NE(std::string::npos, manifest.find("requestedExecutionLevel level=\"highestAvailable\""));
}

} // namespace
