// Shared by the targets that read their input as a sequence of calls: a
// reader that hands out the input's bytes as operands (zeros once it runs
// out), a scratch folder of this process's own, and the check that turns
// a difference from the model into a crash.
#ifndef FUZZ_CALL_SEQUENCE_H
#define FUZZ_CALL_SEQUENCE_H

#include "platform/wintypes.h"
#include "support/scratch.h"

#include <sanitizer/common_interface_defs.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Reports what differs and aborts, so that libFuzzer keeps the input.
#define EXPECT(cond)                         \
    do {                                     \
        if (!(cond))                         \
            Fail(__FILE__, __LINE__, #cond); \
    } while (0)

// With CALL_TRACE set in the environment, each call is printed before it
// is made: the way to read a crash input.
#define TRACE(...)                                                   \
    do {                                                             \
        static const bool bTrace = getenv("CALL_TRACE") != NULL;     \
        if (bTrace)                                                  \
            fprintf(stderr, __VA_ARGS__);                            \
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

// The tests' whole-file helpers, for host paths and bytes.
inline void WriteHostFile(const std::string& path, const std::vector<BYTE>& bytes)
{
    if (!WriteWholeFile(path, std::string(bytes.begin(), bytes.end())))
        abort();
}

inline bool ReadHostFile(const std::string& path, std::vector<BYTE>* pBytes)
{
    std::string data;
    if (!ReadWholeFile(path, &data))
        return false;
    pBytes->assign(data.begin(), data.end());
    return true;
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

// The folder of this process's own, host form without a trailing slash:
// on a tmpfs when there is one (large seeks, fast files).
inline std::string& ScratchPath()
{
    static std::string folder;
    return folder;
}

inline void RemoveScratch()
{
    if (!ScratchPath().empty())
        RemoveTree(LibraryPath(ScratchPath()));
}

[[noreturn]] inline void Fail(const char* lpszFile, int nLine, const char* lpszCond)
{
    fprintf(stderr, "%s:%d: model and library differ: %s\n", lpszFile, nLine, lpszCond);
    RemoveScratch();
    abort();
}

// The scratch folder, emptied for the next input. It goes at exit and
// when a check fails or a sanitizer reports, so crashes leave none behind.
inline const std::string& ScratchFolder(const char* lpszTarget)
{
    std::string& folder = ScratchPath();
    if (folder.empty()) {
        struct stat st;
        const char* lpszBase = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : "/tmp";
        folder = std::string(lpszBase) + "/" + lpszTarget + "_" + std::to_string(getpid());
        atexit(RemoveScratch);
        __sanitizer_set_death_callback(RemoveScratch);
    }
    RemoveTree(LibraryPath(folder));
    if (mkdir(folder.c_str(), 0700) != 0)
        abort();
    return folder;
}

#endif
