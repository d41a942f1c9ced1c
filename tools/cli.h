// What both tools share on the command line and on their output: option
// parsing, paths from the command line, names made safe for the terminal,
// whole-file writes, and a check of standard output before exiting.
#ifndef TOOLS_CLI_H
#define TOOLS_CLI_H

#include "platform/wintypes.h"

#include <stddef.h>
#include <string>
#include <utility>
#include <vector>

struct CliOption {
    const char* lpszName;  // "--method"
    const char* lpszShort; // "-m", or null
    bool bValue;
};

struct CliArgs {
    std::vector<std::pair<const char*, const char*>> options; // long name, value (null for a flag)
    std::vector<const char*> operands;
    bool Has(const char* lpszName) const;
    // The value given last; null when the option is absent.
    const char* Value(const char* lpszName) const;
};

// Parses what follows a command's name. Options may stand before, between
// or after the operands until "--", after which everything is an operand;
// "--name value" and "--name=value" are the same. Returns an empty text,
// or the usage error, naming the option.
std::string ParseCli(int argc, char** argv, const std::vector<CliOption>& options, CliArgs* pArgs);

// Whether an argument before any "--" is --help or -h.
bool AsksForHelp(int argc, char** argv);

// Flushes standard output; a write that failed (a full disk, a closed
// pipe) turns nResult into 1, with a message. Every command ends here.
int FinishOutput(const char* lpszTool, int nResult);

// Code-page-932 text as the console shows it; control characters become
// '?', so no name from a file or an archive steers the terminal.
std::string Shown(const char* lpszText);
// Text already in the console's spelling (an argument, a name from the
// native listing) with its control characters made '?'.
std::string ShownNative(const std::string& text);

// A command-line path as a full library path (code page 932, backslashes)
// in a MAX_PATH buffer. On failure *pProblem says why, naming the path as
// given or the current folder: a character with no code page 932 form,
// or too long.
bool ToLibraryPath(const char* lpszArg, char* lpszFull, std::string* pProblem);

// Writes a whole buffer to a temporary file beside lpszPath (created
// exclusively, never through a link, removed when the program is
// interrupted) and moves it over lpszPath: a failure leaves neither a cut
// file nor a damaged old one. A read-only lpszPath is refused; one that is
// not a regular file (a device, a pipe) is written itself. On failure
// *pReason says why (WriteProblem); *pbDirect (when not null) says whether
// the target itself was written.
bool WriteFileAtomically(const char* lpszPath, const void* pData, size_t nSize, std::string* pReason,
                         bool* pbDirect = NULL);

// Reads a whole file of at most qwMax bytes into *pData, in pieces (one
// read's count is 32 bits). False when it cannot be opened or read to its
// end, is larger, or does not fit in memory.
bool ReadWholeFile(const char* lpszPath, std::vector<BYTE>* pData, QWORD qwMax);

// Why the last failed call of the library's seam failed, in the seam's
// words ("access denied", "disk full"), or the system's own for other
// reasons; empty when none is recorded. Read right after the failure.
std::string SeamReason();

// Why a write to lpszPath failed, right after the failure: a folder in the
// way, a read-only file, or SeamReason.
std::string WriteProblem(const char* lpszPath);

#endif
