// Text between the command line and the information files. The files hold
// code page 932; the command line and the console speak UTF-8 on POSIX and
// the system code page on Windows. The library's seam converts paths; these
// cover what it does not: plain text (a title may hold a slash), UTF-8 for
// JSON whatever the console speaks, and names the seam's folder listing
// leaves out because they have no code-page-932 form.
#ifndef TOOLS_NATIVETEXT_H
#define TOOLS_NATIVETEXT_H

#include <string>
#include <vector>

// A lead byte of code page 932: it and the byte after it are one character.
inline bool IsCp932Lead(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Command-line text as code page 932, unchanged otherwise (slashes stay
// slashes). False when a character has no code-page-932 form.
bool TextFromNative(const char* lpszNative, std::string* pOut);

// Code-page-932 text as UTF-8; a byte sequence that is not code page 932
// becomes U+FFFD, so damaged names still print.
std::string TextToUtf8(const char* lpszText);

// Code-page-932 text as a quoted JSON string in UTF-8, whatever the
// console speaks.
std::string Json(const char* lpszText);

// Whether the names the OS hands this program are code page 932: always on
// POSIX (the seam converts), on Windows only when the system code page for
// programs that are not Unicode is 932.
bool NativeNamesAreCp932();

// The entries of a folder, given as a command-line path, whose names have
// no code-page-932 form, as UTF-8. Only POSIX can meet them: the seam's
// listing skips such names, where Windows hands them out with '?' in place
// of the characters it cannot convert.
std::vector<std::string> UnrepresentableNames(const std::string& nativeFolder);

// Entries of a folder (a command-line path) that are not files or folders
// one can read: a symbolic link that leads nowhere or round in a loop, a
// FIFO, a socket or a device. Names in UTF-8. Only POSIX lists them; the
// seam's listing leaves dangling links out and shows FIFOs as files.
struct SpecialEntry {
    std::string name;
    const char* lpszWhat;
};
std::vector<SpecialEntry> SpecialEntries(const std::string& nativeFolder);

// The current folder as the user spells it (UTF-8 on POSIX), for messages
// when the library cannot take it; empty when unknown.
std::string NativeCurrentDirectory();

// The system's reason for the last failed call (errno, GetLastError), as
// text; empty when none is recorded.
std::string LastSystemError();
void ClearSystemError();

// Whether the command-line path lies inside the folder, or is it, after
// links and "." and ".." are resolved, with the file system's own letter
// case rule (exact on POSIX, case-blind on Windows). The path itself need
// not exist yet; its folder must.
bool IsInsideFolder(const std::string& nativePath, const std::string& nativeFolder);

#endif
