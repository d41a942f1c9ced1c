// Names as file systems see them: whether a code-page-932 name stands for
// characters at all, and when two names of one folder are one file. Kept
// apart from the file calls: only code that decides where members and
// records land (extraction, the update list's checks) asks these.
#ifndef PLATFORM_NAMES_H
#define PLATFORM_NAMES_H

// Whether the code-page-932 text converts to Unicode and back with every
// character kept: no lead byte without its second byte, no byte pair the
// code page does not assign (MultiByteToWideChar with
// MB_ERR_INVALID_CHARS). A character may come back as another byte pair
// of the same character (FA 4A and 87 54 are both U+2160).
int PlatIsConvertible(const char* lpszText);

enum {
    // The rule of the system the program runs on: Windows' below on
    // Windows; on POSIX the names' Unicode forms compared exactly.
    PLAT_NAMES_HERE = 0,
    // Windows' rule on every system (where a patch is installed): the
    // UTF-16 forms with each unit made capital by simple case mapping,
    // compared unit by unit (CompareStringOrdinal ignoring case).
    PLAT_NAMES_WINDOWS = 1
};

// Compares two names of one folder by the rule: 0 when they name one
// file. A name that does not convert compares by its bytes, after every
// one that does. Returns <0, 0 or >0, a total order.
int PlatCompareFileNames(const char* lpszA, const char* lpszB, int nRule);

#endif
