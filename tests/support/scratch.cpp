#include "support/scratch.h"

#include "file/directory.h"
#include "platform/platform.h"

#include <stdio.h>

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
