// plaincopy.exe: the plain peer of update.exe's copy pass in the copy-pass
// benchmark. It copies the files an update list names with nothing but
// the Win32 calls any copy makes, in update.exe's block size: no dialog,
// no temporary file, no attributes. Under the same Wine, what this costs
// is what Wine costs every program; what update.exe takes beyond it is
// the updater's own.
//
// usage: plaincopy.exe [--copyfile | --replace | --replace-flush] LIST SRC DEST
//   LIST        an Updateinf.dat; folders are created and files copied
//               in its order
//   SRC, DEST   folders, each ending in a backslash
//   --copyfile  each file with CopyFileA instead of the block loop
//   --replace   the block loop into a fresh temporary file beside the
//               destination, moved over it when complete: the file
//               operations update.exe makes, without its dialog
//   --replace-flush
//               --replace with the temporary file flushed to the disk
//               (FlushFileBuffers) before a move that writes through, as
//               update.exe does so that a power cut leaves the old file
//               or the whole new one: what the flushes cost
// Exits with 0 when every file was copied, 1 otherwise.
#include "copyblocks.h"
#include "updateinfo.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "file/path.h"

static BYTE s_abBlock[COPY_BLOCK_SIZE];

// bFlush: the copy reaches the disk before its handle is closed.
static int CopyByBlocks(const char* lpszFrom, const char* lpszTo, int bFlush)
{
    HANDLE hFrom = CreateFileA(lpszFrom, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                               NULL);
    if (hFrom == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE hTo = CreateFileA(lpszTo, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hTo == INVALID_HANDLE_VALUE) {
        CloseHandle(hFrom);
        return 0;
    }
    int bOk = 1;
    for (;;) {
        DWORD dwRead = 0, dwWritten = 0;
        if (!ReadFile(hFrom, s_abBlock, COPY_BLOCK_SIZE, &dwRead, NULL)) {
            bOk = 0;
            break;
        }
        if (dwRead == 0)
            break;
        if (!WriteFile(hTo, s_abBlock, dwRead, &dwWritten, NULL) || dwWritten != dwRead) {
            bOk = 0;
            break;
        }
    }
    if (bOk && bFlush && !FlushFileBuffers(hTo))
        bOk = 0;
    CloseHandle(hTo);
    CloseHandle(hFrom);
    return bOk;
}

static int CopyByReplacing(const char* lpszFrom, const char* lpszTo, int bFlush)
{
    char lpszFolder[MAX_PATH], lpszTemp[MAX_PATH];
    CutFileName(lpszFolder, lpszTo);
    if (!GetTempFileNameA(lpszFolder, "upd", 0, lpszTemp))
        return 0;
    DWORD dwMove = MOVEFILE_REPLACE_EXISTING | (bFlush ? MOVEFILE_WRITE_THROUGH : 0);
    if (CopyByBlocks(lpszFrom, lpszTemp, bFlush) && MoveFileExA(lpszTemp, lpszTo, dwMove))
        return 1;
    DeleteFileA(lpszTemp);
    return 0;
}

int main(int argc, char** argv)
{
    const char* lpszMode = argc == 5 ? argv[1] : "";
    int bCopyFile = strcmp(lpszMode, "--copyfile") == 0, bReplace = strcmp(lpszMode, "--replace") == 0;
    int bFlush = strcmp(lpszMode, "--replace-flush") == 0;
    if (argc != 4 + (bCopyFile || bReplace || bFlush)) {
        fprintf(stderr, "usage: plaincopy.exe [--copyfile | --replace | --replace-flush] LIST SRC DEST\n");
        return 2;
    }
    const char* lpszList = argv[argc - 3];
    const char* lpszSrc = argv[argc - 2];
    const char* lpszDest = argv[argc - 1];
    UpdateContext context;
    InitContext(&context);
    if (!LoadUpdateInfo(&context, lpszList)) {
        fprintf(stderr, "cannot read %s\n", lpszList);
        return 2;
    }
    CreateDirectoryA(lpszDest, NULL);
    int nFailed = 0;
    char lpszFrom[2 * MAX_PATH], lpszTo[2 * MAX_PATH];
    for (DWORD i = 0; i < context.update.dwCount; i++) {
        const FileRecord* pRecord = &context.pUpdateRecords[i];
        snprintf(lpszTo, sizeof(lpszTo), "%s%s", lpszDest, pRecord->szPath);
        if (IsFolderRecord(pRecord)) {
            CreateDirectoryA(lpszTo, NULL);
            continue;
        }
        snprintf(lpszFrom, sizeof(lpszFrom), "%s%s", lpszSrc, pRecord->szPath);
        int bOk = bCopyFile  ? CopyFileA(lpszFrom, lpszTo, FALSE) != 0
                  : bReplace || bFlush ? CopyByReplacing(lpszFrom, lpszTo, bFlush)
                                       : CopyByBlocks(lpszFrom, lpszTo, 0);
        if (!bOk) {
            fprintf(stderr, "cannot copy %s\n", pRecord->szPath);
            nFailed++;
        }
    }
    FreeContext(&context);
    return nFailed ? 1 : 0;
}
