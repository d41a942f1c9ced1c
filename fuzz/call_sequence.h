// Shared by the targets that read their input as a sequence of calls: a
// reader that hands out the input's bytes as operands (zeros once it runs
// out), a scratch folder of this process's own, and the check that turns
// a difference from the model into a crash.
#ifndef FUZZ_CALL_SEQUENCE_H
#define FUZZ_CALL_SEQUENCE_H

#include "platform/wintypes.h"

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// Reports what differs and aborts, so that libFuzzer keeps the input.
#define EXPECT(cond)                                                                      \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            fprintf(stderr, "%s:%d: model and library differ: %s\n", __FILE__, __LINE__, #cond); \
            abort();                                                                      \
        }                                                                                 \
    } while (0)

// With CALL_TRACE set in the environment, each call is printed before it
// is made: the way to read a crash input.
#define TRACE(...)                                \
    do {                                          \
        static const bool bTrace = getenv("CALL_TRACE") != NULL; \
        if (bTrace)                               \
            fprintf(stderr, __VA_ARGS__);         \
    } while (0)

class CallInput {
public:
    CallInput(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nLeft(nSize) {}
    bool Empty() const { return m_nLeft == 0; }
    BYTE Byte()
    {
        if (!m_nLeft)
            return 0;
        m_nLeft--;
        return *m_pData++;
    }
    WORD Word() { return (WORD)(Byte() | Byte() << 8); }
    DWORD Dword() { return (DWORD)Word() | (DWORD)Word() << 16; }
    QWORD Qword() { return (QWORD)Dword() | (QWORD)Dword() << 32; }
    // One of n choices.
    unsigned Pick(unsigned n) { return Byte() % n; }

private:
    const uint8_t* m_pData;
    size_t m_nLeft;
};

// Removes everything below a host folder, the folder itself too when bSelf.
inline void RemoveTree(const std::string& folder, bool bSelf)
{
    if (DIR* pDir = opendir(folder.c_str())) {
        while (struct dirent* pEntry = readdir(pDir)) {
            std::string name = pEntry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                chmod(path.c_str(), 0700);
                RemoveTree(path, true);
            } else {
                unlink(path.c_str());
            }
        }
        closedir(pDir);
    }
    if (bSelf)
        rmdir(folder.c_str());
}

// A folder of this process's own (on a tmpfs when there is one: large
// seeks and fast files), removed at exit. Host form, without a trailing
// slash.
inline const std::string& ScratchFolder(const char* lpszTarget)
{
    static std::string folder;
    if (folder.empty()) {
        struct stat st;
        const char* lpszBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
        folder = std::string(lpszBase) + "/" + lpszTarget + "_" + std::to_string(getpid());
        RemoveTree(folder, true);
        if (mkdir(folder.c_str(), 0700) != 0)
            abort();
        atexit([] { RemoveTree(folder, true); });
    }
    return folder;
}

// A host path as the library takes it: drive Z: is the root, with
// backslashes. It is already a full path.
inline std::string LibraryPath(const std::string& host)
{
    std::string path = "Z:" + host;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

#endif
