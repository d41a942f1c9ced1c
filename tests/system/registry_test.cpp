// Runs against the real registry of the test prefix, below a key of its
// own that each test removes again.
#include "system/registry.h"

#include <gtest/gtest.h>
#include <string.h>
#include <string>

namespace {

const char kRoot[] = "Software\\GamepatchTests";

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_key = std::string(kRoot) + "\\" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Cleanup();
        ASSERT_EQ(1, m_reg.Create(HKEY_CURRENT_USER, m_key.c_str()));
    }
    void TearDown() override
    {
        m_reg.Close();
        Cleanup();
    }
    void Cleanup()
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, m_key.c_str());
    }
    std::string m_key;
    CRegistry m_reg;
};

TEST_F(Registry, OpenNeedsAnExistingKeyAndCreateMakesOne)
{
    CRegistry clReg;
    EXPECT_EQ(nullptr, clReg.m_hKey);
    EXPECT_EQ(0, clReg.Open(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    EXPECT_EQ(nullptr, clReg.m_hKey);
    ASSERT_EQ(1, clReg.Create(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    EXPECT_NE(nullptr, clReg.m_hKey);
    ASSERT_EQ(1, clReg.WriteDword("n", 5));
    // Reopening closes the first key and holds the new one.
    ASSERT_EQ(1, clReg.Open(HKEY_CURRENT_USER, m_key.c_str()));
    EXPECT_EQ(0xAAu, clReg.GetDword("n", 0xAA));
    ASSERT_EQ(1, clReg.Open(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    EXPECT_EQ(5u, clReg.GetDword("n", 0xAA));
    // A failed open leaves no key: value operations then fail.
    EXPECT_EQ(0, clReg.Open(HKEY_CURRENT_USER, (m_key + "\\Missing").c_str()));
    EXPECT_EQ(nullptr, clReg.m_hKey);
    EXPECT_EQ(0, clReg.WriteDword("n", 6));
    DWORD dw = 77;
    EXPECT_EQ(0, clReg.ReadDword("n", &dw));
    EXPECT_EQ(77u, dw);
}

TEST_F(Registry, ConstructorOpensAndDestructorCloses)
{
    ASSERT_EQ(1, m_reg.WriteString("s", "v"));
    {
        CRegistry clReg(HKEY_CURRENT_USER, m_key.c_str());
        ASSERT_NE(nullptr, clReg.m_hKey);
        char sz[8] = {};
        EXPECT_EQ(1, clReg.ReadString("s", sz, sizeof(sz)));
        EXPECT_STREQ("v", sz);
    }
    CRegistry clMissing(HKEY_CURRENT_USER, (m_key + "\\Missing").c_str());
    EXPECT_EQ(nullptr, clMissing.m_hKey);
}

TEST_F(Registry, DwordsRoundTripAndMissingValuesKeepDefaults)
{
    ASSERT_EQ(1, m_reg.WriteDword("d", 0xDEADBEEF));
    DWORD dw = 0;
    EXPECT_EQ(1, m_reg.ReadDword("d", &dw));
    EXPECT_EQ(0xDEADBEEFu, dw);
    EXPECT_EQ(0xDEADBEEFu, m_reg.GetDword("d", 1));

    dw = 0x12345678;
    EXPECT_EQ(0, m_reg.ReadDword("missing", &dw));
    EXPECT_EQ(0x12345678u, dw);
    EXPECT_EQ(99u, m_reg.GetDword("missing", 99));

    // Types are not checked: four binary bytes read as a number.
    const BYTE ab[4] = { 1, 2, 3, 4 };
    ASSERT_EQ(1, m_reg.WriteBinary("b", ab, 4));
    EXPECT_EQ(0x04030201u, m_reg.GetDword("b", 0));
    // Eight bytes do not fit the 4-byte buffer.
    const BYTE ab8[8] = {};
    ASSERT_EQ(1, m_reg.WriteBinary("b8", ab8, 8));
    EXPECT_EQ(7u, m_reg.GetDword("b8", 7));
}

TEST_F(Registry, BinaryRoundTrip)
{
    BYTE abData[300];
    for (int i = 0; i < 300; i++)
        abData[i] = (BYTE)(i * 7);
    ASSERT_EQ(1, m_reg.WriteBinary("bin", abData, sizeof(abData)));
    BYTE abBack[300] = {};
    EXPECT_EQ(1, m_reg.ReadBinary("bin", abBack, sizeof(abBack)));
    EXPECT_EQ(0, memcmp(abData, abBack, sizeof(abData)));
    EXPECT_EQ(0, m_reg.ReadBinary("bin", abBack, 299));
    EXPECT_EQ(0, m_reg.ReadBinary("missing", abBack, sizeof(abBack)));
}

TEST_F(Registry, StringOfExactlyTheOfferedSizeFitsAndOneByteMoreFails)
{
    ASSERT_EQ(1, m_reg.WriteString("s", "C:\\Game\\"));
    char sz[16];
    memset(sz, 'x', sizeof(sz));
    EXPECT_EQ(1, m_reg.ReadString("s", sz, 9)); // 8 characters and the terminator
    EXPECT_STREQ("C:\\Game\\", sz);
    EXPECT_EQ(0, m_reg.ReadString("s", sz, 8));

    // Code page 932 text: its size is counted in those bytes. "Sofuto" in
    // katakana is six bytes, the first ending in 0x5C.
    const char szKana[] = "\x83\x5C\x83\x74\x83\x67\\";
    ASSERT_EQ(1, m_reg.WriteString("kana", szKana));
    memset(sz, 'x', sizeof(sz));
    EXPECT_EQ(1, m_reg.ReadString("kana", sz, 8));
    EXPECT_STREQ(szKana, sz);
    EXPECT_EQ(0, m_reg.ReadString("kana", sz, 7));
    EXPECT_EQ(0, m_reg.ReadString("missing", sz, sizeof(sz)));
}

// Names and strings are stored as their characters, whatever the
// system's code page: what the library writes in code page 932 reads back
// in UTF-16 as katakana, and a character with no code-page-932 form reads
// as '?', never as a look-alike (an e for the accented e of Jose).
TEST_F(Registry, NamesAndStringsAreTheirCharacters)
{
    const char szKana[] = "\x83\x5C\x83\x74\x83\x67";
    const std::wstring kana = L"\u30BD\u30D5\u30C8";
    CRegistry clReg;
    ASSERT_EQ(1, clReg.Create(HKEY_CURRENT_USER, (m_key + "\\" + szKana).c_str()));
    ASSERT_EQ(1, clReg.WriteString(szKana, (std::string("C:\\") + szKana + "\\").c_str()));
    std::wstring key = std::wstring(m_key.begin(), m_key.end()) + L"\\" + kana;
    HKEY hKey = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &hKey));
    WCHAR szWide[32] = {};
    DWORD dwBytes = sizeof(szWide);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(hKey, kana.c_str(), NULL, NULL, (BYTE*)szWide, &dwBytes));
    EXPECT_EQ(L"C:\\" + kana + L"\\", std::wstring(szWide));

    const WCHAR szJose[] = L"C:\\Jos\u00E9\\";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(hKey, L"jose", 0, REG_SZ, (const BYTE*)szJose, sizeof(szJose)));
    RegCloseKey(hKey);
    char sz[16] = {};
    EXPECT_EQ(1, clReg.ReadString("jose", sz, 9)); // sized in code page 932 bytes
    EXPECT_STREQ("C:\\Jos?\\", sz);
    EXPECT_EQ(0, clReg.ReadString("jose", sz, 8));
    clReg.Close();
    EXPECT_EQ(1, clReg.DeleteKey(HKEY_CURRENT_USER, (m_key + "\\" + szKana).c_str()));
}

TEST_F(Registry, DeleteValueAndDeleteKey)
{
    ASSERT_EQ(1, m_reg.WriteDword("d", 1));
    EXPECT_EQ(1, m_reg.DeleteValue("d"));
    EXPECT_EQ(0, m_reg.DeleteValue("d"));
    EXPECT_EQ(5u, m_reg.GetDword("d", 5));

    CRegistry clSub;
    ASSERT_EQ(1, clSub.Create(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    clSub.Close();
    // DeleteKey needs no open key and leaves an open one open.
    CRegistry clNone;
    EXPECT_EQ(1, clNone.DeleteKey(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    EXPECT_EQ(nullptr, clNone.m_hKey);
    EXPECT_EQ(0, clSub.Open(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    ASSERT_EQ(1, clSub.Create(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    clSub.Close();
    EXPECT_EQ(1, m_reg.DeleteKey(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
    EXPECT_EQ(1, m_reg.WriteDword("still", 3));
    EXPECT_EQ(3u, m_reg.GetDword("still", 0));
    EXPECT_EQ(0, m_reg.DeleteKey(HKEY_CURRENT_USER, (m_key + "\\Sub").c_str()));
}

TEST_F(Registry, ValueOperationsWithoutAKeyFail)
{
    CRegistry clReg;
    char sz[4];
    BYTE ab[4] = {};
    EXPECT_EQ(0, clReg.WriteString("s", "x"));
    EXPECT_EQ(0, clReg.ReadString("s", sz, sizeof(sz)));
    EXPECT_EQ(0, clReg.WriteBinary("b", ab, 4));
    EXPECT_EQ(0, clReg.ReadBinary("b", ab, 4));
    EXPECT_EQ(0, clReg.DeleteValue("s"));
    clReg.Close();
    EXPECT_EQ(nullptr, clReg.m_hKey);
}

} // namespace
