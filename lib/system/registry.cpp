#include "system/registry.h"

#include "platform/wide.h"

#include <string.h>

#include <string>
#include <vector>

// Names and string values cross as UTF-16, converted from and to code page
// 932 here: the A functions would read them in the system's code page.

namespace {

// A key path or value name; null (the default value) stays null.
class WideName {
public:
    explicit WideName(const char* lpszName) : m_bNull(lpszName == NULL), m_name(m_bNull ? L"" : PlatWide(lpszName)) {}
    operator const WCHAR*() const { return m_bNull ? NULL : m_name.c_str(); }

private:
    bool m_bNull;
    std::wstring m_name;
};

bool IsStringType(DWORD dwType)
{
    return dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_MULTI_SZ;
}

// RegQueryValueExA as a Japanese system answers it: string values in code
// page 932, their size counted in those bytes; other values as stored. A
// character with no code-page-932 form reads as '?', never as a look-alike
// that would name another folder. A value larger than dwSize fails.
LONG QueryValue(HKEY hKey, const char* lpszName, void* pBuffer, DWORD dwSize)
{
    WideName name(lpszName);
    DWORD dwType = 0, dwBytes = 0;
    LONG lResult = RegQueryValueExW(hKey, name, NULL, &dwType, NULL, &dwBytes);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    std::vector<BYTE> data(dwBytes + sizeof(WCHAR));
    lResult = RegQueryValueExW(hKey, name, NULL, &dwType, data.data(), &dwBytes);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    if (IsStringType(dwType)) {
        std::string narrow;
        PlatNarrow((const WCHAR*)data.data(), dwBytes / sizeof(WCHAR), &narrow);
        data.assign(narrow.begin(), narrow.end());
        dwBytes = (DWORD)narrow.size();
    }
    if (dwBytes > dwSize)
        return ERROR_MORE_DATA;
    memcpy(pBuffer, data.data(), dwBytes);
    return ERROR_SUCCESS;
}

int SetValue(HKEY hKey, const char* lpszName, DWORD dwType, const void* pData, DWORD dwSize)
{
    if (!hKey)
        return 0;
    return RegSetValueExW(hKey, WideName(lpszName), 0, dwType, (const BYTE*)pData, dwSize) == ERROR_SUCCESS;
}

} // namespace

CRegistry::CRegistry() : m_hKey(NULL)
{
}

CRegistry::CRegistry(HKEY hRoot, const char* lpszKey) : m_hKey(NULL)
{
    Open(hRoot, lpszKey);
}

CRegistry::~CRegistry()
{
    Close();
}

int CRegistry::Create(HKEY hRoot, const char* lpszKey)
{
    Close();
    if (RegCreateKeyExW(hRoot, WideName(lpszKey), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_hKey, NULL) !=
        ERROR_SUCCESS) {
        // The OS leaves the handle undefined on failure.
        m_hKey = NULL;
        return 0;
    }
    return 1;
}

int CRegistry::Open(HKEY hRoot, const char* lpszKey)
{
    Close();
    if (RegOpenKeyExW(hRoot, WideName(lpszKey), 0, KEY_ALL_ACCESS, &m_hKey) != ERROR_SUCCESS) {
        m_hKey = NULL;
        return 0;
    }
    return 1;
}

void CRegistry::Close()
{
    if (m_hKey) {
        RegCloseKey(m_hKey);
        m_hKey = NULL;
    }
}

int CRegistry::DeleteKey(HKEY hRoot, const char* lpszKey)
{
    return RegDeleteKeyW(hRoot, WideName(lpszKey)) == ERROR_SUCCESS;
}

int CRegistry::DeleteValue(const char* lpszName)
{
    // A null handle would be taken as a predefined key by some versions;
    // refuse it here.
    if (!m_hKey)
        return 0;
    return RegDeleteValueW(m_hKey, WideName(lpszName)) == ERROR_SUCCESS;
}

int CRegistry::ReadDword(const char* lpszName, DWORD* pdwValue)
{
    DWORD dwValue = 0; // a shorter value reads zero-extended
    if (!ReadBinary(lpszName, &dwValue, sizeof(dwValue)))
        return 0;
    *pdwValue = dwValue;
    return 1;
}

DWORD CRegistry::GetDword(const char* lpszName, DWORD dwDefault)
{
    DWORD dwValue = dwDefault;
    ReadDword(lpszName, &dwValue);
    return dwValue;
}

int CRegistry::WriteDword(const char* lpszName, DWORD dwValue)
{
    return SetValue(m_hKey, lpszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

int CRegistry::ReadBinary(const char* lpszName, void* pBuffer, DWORD dwSize)
{
    if (!m_hKey)
        return 0;
    return QueryValue(m_hKey, lpszName, pBuffer, dwSize) == ERROR_SUCCESS;
}

int CRegistry::WriteBinary(const char* lpszName, const void* pData, DWORD dwSize)
{
    return SetValue(m_hKey, lpszName, REG_BINARY, pData, dwSize);
}

int CRegistry::ReadString(const char* lpszName, char* lpszBuffer, DWORD dwSize)
{
    return ReadBinary(lpszName, lpszBuffer, dwSize);
}

int CRegistry::ReadWideString(const char* lpszName, wchar_t* lpszBuffer, DWORD dwChars)
{
    if (dwChars == 0)
        return 0;
    memset(lpszBuffer, 0, dwChars * sizeof(wchar_t));
    DWORD dwBytes = (dwChars - 1) * sizeof(wchar_t);
    return m_hKey && RegQueryValueExW(m_hKey, PlatWide(lpszName).c_str(), NULL, NULL, (BYTE*)lpszBuffer, &dwBytes) ==
                         ERROR_SUCCESS;
}

int CRegistry::WriteString(const char* lpszName, const char* lpszText)
{
    std::wstring text = PlatWide(lpszText);
    return SetValue(m_hKey, lpszName, REG_SZ, text.c_str(), (DWORD)((text.size() + 1) * sizeof(WCHAR)));
}
