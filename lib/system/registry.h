// CRegistry: one open key of the Windows registry. It opens or creates a
// key under a root key, reads and writes 32-bit, binary and string values
// in it, deletes values and keys, and closes the key when it is closed,
// reopened or destroyed.
//
// Root keys are the predefined HKEY_* handles or any open key; key paths
// and value names are code-page-932 strings. Every operation returns 1
// when the registry call succeeded and 0 otherwise; the OS error is not
// passed on. Operations on values with no key open fail with 0.
//
// The readers do not look at the stored type: a 4-byte binary value reads
// as a DWORD, a string can be read with ReadBinary. A value larger than
// the offered buffer makes the read fail.
#ifndef SYSTEM_REGISTRY_H
#define SYSTEM_REGISTRY_H

#include "file/cbase.h"

#include <windows.h>

class CRegistry : public CBase {
public:
    // No key open.
    CRegistry();
    // Open(hRoot, lpszKey); the result is not kept.
    CRegistry(HKEY hRoot, const char* lpszKey);
    // Close().
    virtual ~CRegistry();

    // Closes the held key, then creates the key (or opens it when it
    // exists) with all access. On failure no key is held.
    int Create(HKEY hRoot, const char* lpszKey);
    // Closes the held key, then opens an existing key with all access. On
    // failure no key is held.
    int Open(HKEY hRoot, const char* lpszKey);
    // Closes the held key, if any.
    void Close();

    // Deletes a key that has no subkeys. Independent of the object's own
    // key, which is neither used nor closed.
    int DeleteKey(HKEY hRoot, const char* lpszKey);
    int DeleteValue(const char* lpszName);

    // Reads a 4-byte value into *pdwValue; on failure *pdwValue is left
    // untouched.
    int ReadDword(const char* lpszName, DWORD* pdwValue);
    // The value, or dwDefault when it cannot be read.
    DWORD GetDword(const char* lpszName, DWORD dwDefault);
    int WriteDword(const char* lpszName, DWORD dwValue);

    // Reads the value into pBuffer, offering dwSize bytes. The count
    // delivered is not returned; on failure the buffer holds whatever the
    // OS left there.
    int ReadBinary(const char* lpszName, void* pBuffer, DWORD dwSize);
    int WriteBinary(const char* lpszName, const void* pData, DWORD dwSize);
    // As ReadBinary. The text is terminated only when the stored value
    // carries its terminator within dwSize bytes.
    int ReadString(const char* lpszName, char* lpszBuffer, DWORD dwSize);
    // Stores a REG_SZ value of the text and its terminator.
    int WriteString(const char* lpszName, const char* lpszText);
    // The value as the registry holds it, in UTF-16, into dwChars wide
    // characters, always terminated: for showing a text that may have no
    // code-page-932 form. Returns 0 when it cannot be read.
    int ReadWideString(const char* lpszName, wchar_t* lpszBuffer, DWORD dwChars);

    // The open key; null when none is open.
    HKEY m_hKey;
};

#endif
