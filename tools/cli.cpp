#include "cli.h"

#include "file/cfile.h"
#include "file/tempfile.h"
#include "nativetext.h"
#include "platform/error.h"
#include "platform/platform.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <new>

bool CliArgs::Has(const char* lpszName) const
{
    return Value(lpszName) != NULL;
}

const char* CliArgs::Value(const char* lpszName) const
{
    const char* lpszValue = NULL;
    for (const auto& option : options)
        if (strcmp(option.first, lpszName) == 0)
            lpszValue = option.second ? option.second : "";
    return lpszValue;
}

std::string ParseCli(int argc, char** argv, const std::vector<CliOption>& options, CliArgs* pArgs)
{
    bool bOptions = true;
    for (int i = 0; i < argc; i++) {
        const char* lpszArg = argv[i];
        if (!bOptions || lpszArg[0] != '-' || lpszArg[1] == 0) {
            pArgs->operands.push_back(lpszArg);
            continue;
        }
        if (strcmp(lpszArg, "--") == 0) {
            bOptions = false;
            continue;
        }
        const char* lpszEquals = strncmp(lpszArg, "--", 2) == 0 ? strchr(lpszArg, '=') : NULL;
        std::string name = lpszEquals ? std::string(lpszArg, lpszEquals - lpszArg) : lpszArg;
        const CliOption* pOption = NULL;
        for (const CliOption& option : options)
            if (name == option.lpszName || (option.lpszShort && name == option.lpszShort))
                pOption = &option;
        if (!pOption)
            return "unknown option: " + name;
        const char* lpszValue = NULL;
        if (pOption->bValue) {
            if (lpszEquals)
                lpszValue = lpszEquals + 1;
            else if (i + 1 < argc)
                lpszValue = argv[++i];
            else
                return name + " needs a value";
        } else if (lpszEquals) {
            return name + " takes no value";
        }
        pArgs->options.push_back(std::make_pair(pOption->lpszName, lpszValue));
    }
    return std::string();
}

bool AsksForHelp(int argc, char** argv)
{
    for (int i = 0; i < argc && strcmp(argv[i], "--") != 0; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return true;
    return false;
}

int FinishOutput(const char* lpszTool, int nResult)
{
    if (fflush(stdout) != 0 || ferror(stdout)) {
        std::string reason = LastSystemError();
        fprintf(stderr, "%s: cannot write to standard output%s%s\n", lpszTool, reason.empty() ? "" : ": ",
                reason.c_str());
        return 1;
    }
    return nResult;
}

std::string ShownNative(const std::string& text)
{
    std::string clean = text;
    for (char& c : clean)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = '?';
    return clean;
}

std::string Shown(const char* lpszText)
{
    std::string clean = ShownNative(lpszText);
    std::vector<char> buf(clean.size() * 4 + 1);
    return PlatTextToNative(clean.c_str(), buf.data(), (DWORD)buf.size()) ? buf.data() : "?";
}

bool ToLibraryPath(const char* lpszArg, char* lpszFull, std::string* pProblem)
{
    std::string quoted = "'" + ShownNative(lpszArg) + "'";
    char lpszPath[MAX_PATH];
    std::string text;
    if (!PlatPathFromNative(lpszArg, lpszPath, MAX_PATH)) {
        if (!TextFromNative(lpszArg, &text))
            *pProblem = quoted + " has a character with no code page 932 form";
        else
            *pProblem = quoted + " is longer than 259 bytes in code page 932";
        return false;
    }
    DWORD dwLen = PlatGetFullPathName(lpszPath, MAX_PATH, lpszFull, NULL);
    if (dwLen > 0 && dwLen < MAX_PATH)
        return true;
    // A relative path takes the current folder in front; that may be what
    // the library cannot take.
    char lpszCurrent[MAX_PATH];
    DWORD dwCurrent = PlatGetCurrentDirectory(MAX_PATH, lpszCurrent);
    if (dwCurrent == 0 || dwCurrent >= MAX_PATH) {
        std::string current = NativeCurrentDirectory();
        *pProblem = "the current folder '" + ShownNative(current) + "' " +
                    (TextFromNative(current.c_str(), &text) ? "is longer than 259 bytes in code page 932"
                                                            : "has a character with no code page 932 form") +
                    "; run from another folder";
    } else {
        *pProblem = quoted + " makes a full path longer than 259 bytes in code page 932";
    }
    return false;
}

std::string SeamReason()
{
    int nError = PlatGetLastError();
    return nError != PLAT_ERROR_OTHER ? PlatErrorText(nError) : LastSystemError();
}

std::string WriteProblem(const char* lpszPath)
{
    std::string reason = SeamReason();
    DWORD dwAttributes = PlatGetFileAttributes(lpszPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return "a folder of that name is in the way";
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_READONLY))
        return "it is read-only, and is not replaced";
    return reason;
}

bool ReadWholeFile(const char* lpszPath, std::vector<BYTE>* pData, QWORD qwMax)
{
    CFile clFile;
    if (!clFile.Open(lpszPath, 0))
        return false;
    QWORD qwSize = clFile.GetSize64();
    if (qwSize > qwMax || qwSize > (size_t)-1)
        return false;
    try {
        pData->resize((size_t)qwSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return clFile.ReadExactly(pData->data(), pData->size()) != 0;
}

bool WriteFileAtomically(const char* lpszPath, const void* pData, size_t nSize, std::string* pReason, bool* pbDirect)
{
    CTempFile clTemp;
    ClearSystemError();
    bool bOk = nSize <= 0xFFFFFFFF && clTemp.Create(lpszPath, 0) &&
               clTemp.File()->Write(pData, (DWORD)nSize) == nSize;
    if (pbDirect)
        *pbDirect = clTemp.IsDirect();
    if (!clTemp.Finish(bOk) || !bOk) {
        *pReason = WriteProblem(lpszPath);
        return false;
    }
    return true;
}
