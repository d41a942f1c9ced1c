// Temporary files for writes that must appear whole or not at all: the
// content goes to a new file beside the target, moved over it once
// complete. Inside the tree only; not part of the installed interface.
#ifndef FILE_TEMPFILE_H
#define FILE_TEMPFILE_H

class CFile;

// Creates the temporary file of a target in the target's folder, for a
// file moved over the target once complete, and opens it in *pFile. Its
// name (in lpszTemp, MAX_PATH bytes) is one no member can have (at least
// 64 bytes, more than a member name holds), it is created exclusively and
// never through a symbolic link, so no file of the user's and no member
// extracted beside it is ever written over; an interrupted program that
// asked for it removes it. End it with FinishTempFile. False when no such
// file can be created there (a target folder deeper than 195 bytes leaves
// no room for such a name).
bool CreateTempFile(CFile* pFile, char* lpszTemp, const char* lpszTarget);

// Moves the complete temporary file over the target, or deletes it when
// bOk is false or the move fails. Returns whether the target was replaced.
bool FinishTempFile(const char* lpszTemp, const char* lpszTarget, bool bOk);

#endif
