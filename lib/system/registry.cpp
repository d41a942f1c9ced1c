#include "system/registry.h"

#include <string.h>

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
    if (RegCreateKeyExA(hRoot, lpszKey, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &m_hKey, NULL) != ERROR_SUCCESS) {
        // The OS leaves the handle undefined on failure.
        m_hKey = NULL;
        return 0;
    }
    return 1;
}

int CRegistry::Open(HKEY hRoot, const char* lpszKey)
{
    Close();
    if (RegOpenKeyExA(hRoot, lpszKey, 0, KEY_ALL_ACCESS, &m_hKey) != ERROR_SUCCESS) {
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
    return RegDeleteKeyA(hRoot, lpszKey) == ERROR_SUCCESS;
}

int CRegistry::DeleteValue(const char* lpszName)
{
    // A null handle would be taken as a predefined key by some versions;
    // refuse it here.
    if (!m_hKey)
        return 0;
    return RegDeleteValueA(m_hKey, lpszName) == ERROR_SUCCESS;
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
    if (!m_hKey)
        return 0;
    return RegSetValueExA(m_hKey, lpszName, 0, REG_DWORD, (const BYTE*)&dwValue, sizeof(dwValue)) ==
           ERROR_SUCCESS;
}

int CRegistry::ReadBinary(const char* lpszName, void* pBuffer, DWORD dwSize)
{
    if (!m_hKey)
        return 0;
    DWORD dwType = 0;
    return RegQueryValueExA(m_hKey, lpszName, NULL, &dwType, (BYTE*)pBuffer, &dwSize) == ERROR_SUCCESS;
}

int CRegistry::WriteBinary(const char* lpszName, const void* pData, DWORD dwSize)
{
    if (!m_hKey)
        return 0;
    return RegSetValueExA(m_hKey, lpszName, 0, REG_BINARY, (const BYTE*)pData, dwSize) == ERROR_SUCCESS;
}

int CRegistry::ReadString(const char* lpszName, char* lpszBuffer, DWORD dwSize)
{
    return ReadBinary(lpszName, lpszBuffer, dwSize);
}

int CRegistry::WriteString(const char* lpszName, const char* lpszText)
{
    if (!m_hKey)
        return 0;
    return RegSetValueExA(m_hKey, lpszName, 0, REG_SZ, (const BYTE*)lpszText, (DWORD)strlen(lpszText) + 1) ==
           ERROR_SUCCESS;
}
