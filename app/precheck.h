// The checks update.exe makes after the confirmation and before it copies
// anything, so that an update that would stop half-way for a reason to be
// seen now stops whole instead; and the removal of what a killed run left.
// Shared with the tools that author updates, so both find the same faults.
#ifndef APP_PRECHECK_H
#define APP_PRECHECK_H

#include "updateinfo.h"

#include <stddef.h>

enum RecordFault {
    FAULT_NONE,
    // A file record whose source cannot be opened for reading.
    FAULT_SOURCE,
    // A folder record whose path is an existing file.
    FAULT_FOLDER_IS_FILE,
    // A file record whose path is an existing folder.
    FAULT_FILE_IS_FOLDER,
};

// The first record the copy pass could not handle, as the file system is
// now; dwCount when there is none. *pnFault says why. Both folders end in
// a backslash and every record fits behind them.
DWORD FindFaultyRecord(const UpdateContext* pContext, const char* lpszInstallDirectory,
                       const char* lpszSrcFileName, int* pnFault);

// How many destinations of file records exist and are held by another
// program (PlatIsFileInUse answers 1), in list order; *pdwFirst is the
// first one's record. Call it after FindFaultyRecord found nothing.
DWORD CountFilesInUse(const UpdateContext* pContext, const char* lpszInstallDirectory, DWORD* pdwFirst);

// The files-in-use text for the first such record path and the count
// (nSize of 512 holds any path).
void FormatFilesInUseMessage(char* lpszBuf, size_t nSize, const char* szPath, DWORD dwCount);

// Deletes the temporary files an earlier run left when it was killed:
// IsUpdaterTempName names in the folder of every file record and
// Uninstallinf.tmp in the install folder. Only the run that holds the
// game's updater lock may call it: another run's copies are not leftovers.
void RemoveLeftTemporaryFiles(const UpdateContext* pContext, const char* lpszInstallDirectory);

#endif
