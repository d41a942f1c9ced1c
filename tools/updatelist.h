// updatelist: writes the update list Updateinf.dat from a patch's data
// folder, shows either information file, and checks a patch against an
// installed game without changing anything. The files are read and merged
// with the updater's own code (app/updateinfo.h), so the tool refuses what
// the updater refuses and predicts what it does.
#ifndef TOOLS_UPDATELIST_H
#define TOOLS_UPDATELIST_H

#include "cli.h"
#include "updateinfo.h"

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


#endif
