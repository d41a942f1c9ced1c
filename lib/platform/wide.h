// Windows only: the library's code-page-932 text to and from UTF-16, for
// the code that calls Win32 itself (lib/system, the updater's windows, the
// tools' command line and console). Code page 932 is named explicitly, so
// the result is the same whatever code page the system runs in.
#ifndef PLATFORM_WIDE_H
#define PLATFORM_WIDE_H

#ifdef _WIN32

#include "platform/wintypes.h"

#include <string>

// Code-page-932 text as UTF-16, read as a Japanese system's A functions
// read it: a byte that starts no character of the code page becomes the
// platform's stand-in character rather than failing.
std::wstring PlatWide(const char* lpszText);

// UTF-16 text as code page 932. Returns false when a character has no
// code-page-932 form (a best-fit stand-in would mean another character,
// another file); *pOut then holds the text with '?' for each of them.
bool PlatNarrow(const wchar_t* lpszWide, size_t nLen, std::string* pOut);

// The same into a buffer of dwBufSize bytes. Returns the length, or 0
// when a character has no code-page-932 form or the text does not fit.
DWORD PlatNarrowTo(const wchar_t* lpszWide, char* lpszBuf, DWORD dwBufSize);

#endif

#endif
