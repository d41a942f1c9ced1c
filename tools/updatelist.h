// updatelist: writes the update list Updateinf.dat from a patch's data
// folder, shows either information file, and checks a patch against an
// installed game without changing anything. The files are read and merged
// with the updater's own code (app/updateinfo.h), so the tool refuses what
// the updater refuses and predicts what it does.
#ifndef TOOLS_UPDATELIST_H
#define TOOLS_UPDATELIST_H

#include "cli.h"
#include "updateinfo.h"
#include "updatesum.h"

#include <string>
#include <vector>

// The commands; argc and argv hold what follows the command's name.
// Results are the exit status: 0 success, 1 failure, 2 bad usage.
int MakeCommand(int argc, char** argv);
int ShowCommand(int argc, char** argv);
int CheckCommand(int argc, char** argv);

// "updatelist: " and the text on stderr; returns 1.
int Fail(const std::string& text);
// A usage error on stderr with a pointer to the command's --help; returns 2.
int Usage(const std::string& text, const char* lpszCommand = NULL);

// A command-line path as a full library path (code page 932,
// backslashes) in a MAX_PATH buffer; reports the failure itself, naming
// the path or the current folder the library cannot take.
bool LibraryPath(const char* lpszArg, char* lpszFull);

// A library path as the command line would name it (on POSIX without the
// drive Z: and with slashes).
std::string NativePath(const char* lpszPath);

// The longest root (install folder, or source root) that the path still
// fits behind by the updater's own measure; -1 when none does.
int LongestRootFor(const char* szPath);

struct DeltaReport {
    DWORD dwDeltas, dwArchives, dwWhole, dwSame;
    QWORD qwDeltaBytes, qwWholeBytes, qwNewBytes;
};

// make --base: writes the package's data folder lpszOut (a full library
// path) from the records of the new release, which is the current folder:
// for a file whose path is a file in lpszBase (the older release) a delta
// from it where that is smaller, else the file itself; a delta's sum entry
// gets its fields. A delta's name must fit behind every patch folder
// nRootLimit promises. False with *pErrors saying why.
bool WriteDeltaPackage(const char* lpszOut, const char* lpszBase, const std::vector<FileRecord>& records,
                       std::vector<SumEntry>* pSums, int nRootLimit, DeltaReport* pReport,
                       std::vector<std::string>* pErrors);

#endif
