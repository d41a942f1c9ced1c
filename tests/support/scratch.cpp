#include "support/scratch.h"

#include "file/directory.h"
#include "platform/platform.h"

#include <stdio.h>

#ifdef _WIN32
static std::wstring HostName(const std::string& utf8)
{
    std::wstring wide(utf8.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide;
}

bool MakeHostEntry(const std::string& utf8, bool bFolder)
{
    std::wstring name = HostName(utf8);
    if (bFolder)
        return CreateDirectoryW(name.c_str(), NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE hFile = CreateFileW(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(hFile);
    return true;
}

void RemoveHostEntry(const std::string& utf8)
{
    std::wstring name = HostName(utf8);
    if (!DeleteFileW(name.c_str()))
        RemoveDirectoryW(name.c_str());
}

bool SetHostCurrentDirectory(const std::string& utf8)
{
    return SetCurrentDirectoryW(HostName(utf8).c_str()) != 0;
}
#else
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

bool MakeHostEntry(const std::string& utf8, bool bFolder)
{
    if (bFolder)
        return mkdir(utf8.c_str(), 0777) == 0 || errno == EEXIST;
    FILE* fp = fopen(utf8.c_str(), "wb");
    return fp && fclose(fp) == 0;
}

void RemoveHostEntry(const std::string& utf8)
{
    if (unlink(utf8.c_str()) != 0)
        rmdir(utf8.c_str());
}

bool SetHostCurrentDirectory(const std::string& utf8)
{
    return chdir(utf8.c_str()) == 0;
}
#endif

bool RunningUnderWine()
{
#ifdef _WIN32
    HMODULE hNtdll = GetModuleHandleA("ntdll.dll");
    return hNtdll && GetProcAddress(hNtdll, "wine_get_version") != NULL;
#else
    return false;
#endif
}

ScratchDir::ScratchDir(const std::string& name) : m_root("scratch_" + name)
{
    RemoveTree(m_root);
    CreateDirectories(m_root.c_str());
}

ScratchDir::~ScratchDir()
{
    RemoveTree(m_root);
}

void RemoveTree(const std::string& path)
{
    DWORD dwAttr = PlatGetFileAttributes(path.c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(dwAttr & FILE_ATTRIBUTE_DIRECTORY)) {
        PlatSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        PlatDeleteFile(path.c_str());
        return;
    }
    PlatFindData fd;
    HANDLE hFind = PlatFindFirst((path + "\\*").c_str(), &fd);
    if (hFind) {
        do {
            std::string name = fd.cFileName;
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (PlatFindNext(hFind, &fd));
        PlatFindClose(hFind);
    }
    PlatRemoveDirectory(path.c_str());
}

// stdio takes forward slashes on both sides.
static std::string StdioName(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

bool WriteWholeFile(const std::string& path, const std::string& data)
{
    FILE* fp = fopen(StdioName(path).c_str(), "wb");
    if (!fp)
        return false;
    bool bOk = fwrite(data.data(), 1, data.size(), fp) == data.size();
    return fclose(fp) == 0 && bOk;
}

bool ReadWholeFile(const std::string& path, std::string* pData)
{
    FILE* fp = fopen(StdioName(path).c_str(), "rb");
    if (!fp)
        return false;
    pData->clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
        pData->append(buf, n);
    fclose(fp);
    return true;
}
