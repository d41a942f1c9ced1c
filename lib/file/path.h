// Path and string helpers over code-page-932 path buffers of MAX_PATH
// (260) bytes. No helper takes a buffer size: the caller keeps inputs and
// results below 260 bytes.
//
// Only a backslash separates components, and only when it is a byte of its
// own: the second byte of a double-byte character (0x83 0x5C is a katakana)
// never splits a path. Slashes and drive colons are ordinary characters.
//
// Two-argument forms write into dst from a separate source and return dst
// (the two must not overlap); one-argument forms rewrite their buffer in
// place and return it.
#ifndef FILE_PATH_H
#define FILE_PATH_H

// The part after the last separator (index 0 is never taken as one); the
// whole path when there is none.
char* GetFileName(char* lpszDst, const char* lpszPath);
char* GetFileName(char* lpszBuf);
// The part before the last separator, without it; empty when there is none.
char* CutFileName(char* lpszDst, const char* lpszPath);
char* CutFileName(char* lpszBuf);
// The text after the last dot that has something behind it; empty when
// there is none. Separators do not stop the search.
char* GetExtension(char* lpszDst, const char* lpszPath);
char* GetExtension(char* lpszBuf);
// The text after the very last dot, possibly empty.
char* GetLastExtension(char* lpszDst, const char* lpszPath);
// The path up to its last dot, without the dot; the whole path without one.
char* CutExtension(char* lpszDst, const char* lpszPath);
// The extension after the last dot replaced by lpszExt (the dot removed too
// when lpszExt is empty); AddExtension's result when the path has no dot.
char* ChangeExtension(char* lpszDst, const char* lpszPath, const char* lpszExt);
char* ChangeExtension(char* lpszBuf, const char* lpszExt);
// The path with "." and lpszExt appended, unless its extension already
// equals lpszExt with letter case ignored.
char* AddExtension(char* lpszDst, const char* lpszPath, const char* lpszExt);
char* AddExtension(char* lpszBuf, const char* lpszExt);
// The first three bytes, as in a drive root such as "D:\".
char* GetDriveRoot(char* lpszDst, const char* lpszPath);
char* GetDriveRoot(char* lpszBuf);
// The current folder, a separator and lpszName.
char* MakeCurrentDirectoryPath(char* lpszDst, const char* lpszName);
char* MakeCurrentDirectoryPath(char* lpszBuf);
// The path without a leading lpszBase (bytes 32 apart match, so ASCII
// letter case is ignored); the whole path when it does not start so.
char* CutBasePath(char* lpszDst, const char* lpszPath, const char* lpszBase);
// The path without the program's own folder in front: the folder D:\Game
// and the path D:\Game\data\a.dat give \data\a.dat.
char* CutExeDirectory(char* lpszDst, const char* lpszPath);
char* CutExeDirectory(char* lpszBuf);
// Appends a separator unless the buffer ends in one or is shorter than two
// bytes.
char* AddBackslash(char* lpszBuf);
// "1234567" gives "1,234,567": a comma before every group of three
// characters counted from the right.
char* AddComma(char* lpszDst, const char* lpszDigits);
char* AddComma(char* lpszBuf);
// The text without its commas.
char* DeleteComma(char* lpszDst, const char* lpszText);
char* DeleteComma(char* lpszBuf);

// The one rule for names and paths: compares two code-page-932 strings
// with the letters A to Z of single-byte characters taken as a to z; the
// second byte of a double-byte character is compared as it is, so 0x83
// 0x41 and 0x83 0x61 (two different katakana) stay two names, as they are
// to Windows. Returns <0, 0 or >0, by the folded bytes.
int CompareNoCase(const char* lpszA, const char* lpszB);

// lpszSrc with the letters A to Z of single-byte characters made small, the
// key of a name under CompareNoCase: two strings compare equal exactly when
// their keys are equal bytes. lpszDst holds strlen(lpszSrc) + 1 bytes and
// may be lpszSrc itself.
char* FoldNameCase(char* lpszDst, const char* lpszSrc);

// The one rule for a name that is one component of a path (a member of an
// archive, a file or folder of an update list): what keeps Windows from
// creating it as it is, or NAME_OK.
enum NameProblem {
    NAME_OK = 0,
    NAME_EMPTY,
    // Not well-formed code page 932 that converts both ways: a lead byte
    // without its second byte, a pair the code page does not assign, or a
    // byte (0x80, 0xA0, 0xFD to 0xFF) that only Windows' table gives a
    // private character.
    NAME_MALFORMED,
    // < > : " / \ | ? * or a control character.
    NAME_FORBIDDEN,
    // A final dot or space, which Windows drops (".", ".." included).
    NAME_DOT_OR_SPACE_END,
    // CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1-9, LPT1-9, in any letter
    // case, with any extension and spaces before it: the device, not a file.
    NAME_DEVICE
};
NameProblem CheckComponentName(const char* lpszName);

// Whether byte i of lpszPath is a separator: a backslash that is not the
// second byte of a double-byte character.
int IsSeparatorAt(const char* lpszPath, int i);

#endif
