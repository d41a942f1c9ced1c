// A scratch folder for one test, below the current folder, removed with
// everything in it when the test ends. Paths are library paths
// (code page 932, backslashes).
#ifndef TESTS_SUPPORT_SCRATCH_H
#define TESTS_SUPPORT_SCRATCH_H

#include <string>

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name);
    ~ScratchDir();
    // The folder itself, without a trailing backslash.
    const std::string& Root() const { return m_root; }
    // Root() + "\" + rel.
    std::string Path(const std::string& rel) const { return m_root + "\\" + rel; }

private:
    std::string m_root;
};

// Removes a file or a whole folder tree; read-only files too.
void RemoveTree(const std::string& path);

// Whole-file helpers that go around CFile, so that tests of CFile do not
// check it against itself. Names must be ASCII.
bool WriteWholeFile(const std::string& path, const std::string& data);
bool ReadWholeFile(const std::string& path, std::string* pData);

// Names the library cannot spell (no code-page-932 form), made, entered
// and removed around it. utf8 is relative to the current folder, with
// slashes. An entry that exists already counts as made.
bool MakeHostEntry(const std::string& utf8, bool bFolder);
void RemoveHostEntry(const std::string& utf8);
bool SetHostCurrentDirectory(const std::string& utf8);

// True for a Windows build running under Wine, where a few behaviours of
// the real system differ (Wine running as root may write read-only files).
bool RunningUnderWine();

#endif
