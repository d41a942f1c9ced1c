// Folder creation, removal and existence tests. Paths are code-page-932
// strings below MAX_PATH bytes; separators follow the rule of path.h.
#ifndef FILE_DIRECTORY_H
#define FILE_DIRECTORY_H

// Creates every missing level of a folder path, with or without a trailing
// separator; the last component is always made a folder. Failures pass
// silently (a missing folder shows when a file in it cannot be created).
// Always 1.
int CreateDirectories(const char* lpszPath);

// Removes, from the deepest up, the folders of the path of a file (or of a
// folder ending in a separator) as long as they are empty; stops at a
// drive colon.
void RemoveEmptyDirectories(const char* lpszPath);

// 1 when a file or folder of that name exists (a drive root included).
int PathExists(const char* lpszPath);

#endif
