// Whole-file writes for the library and the tools: the content goes to a
// temporary file beside the target, moved over it once complete (the
// seam's PlatBeginReplace/PlatEndReplace), under the library's own names.
// Inside the tree only; not part of the installed interface.
#ifndef FILE_TEMPFILE_H
#define FILE_TEMPFILE_H

#include "file/cfile.h"
#include "platform/platform.h"

class CTempFile {
public:
    CTempFile();
    // An unfinished replacement ends as a failure: the target untouched.
    ~CTempFile();

    // Starts replacing lpszTarget (dwFlags: PLAT_REPLACE_*). The temporary
    // file's name is the target's with ".~N" and '~' up to at least 64
    // bytes, more than a pack member name holds, so no member extracted
    // beside it meets one; a name taken is skipped. A target that is not a
    // regular file (a device) is written itself. False when no such file
    // can be created there (a target folder deeper than 195 bytes leaves no
    // room for the name); PlatGetLastError says why.
    bool Create(const char* lpszTarget, DWORD dwFlags);

    // Where the content goes while the replacement runs. The object keeps
    // the handle: it is never closed by the caller.
    CFile* File() { return &m_clFile; }

    // Moves the complete content over the target (bOk), or drops it.
    // Returns whether the target now holds it; on failure PlatGetLastError
    // says why.
    bool Finish(bool bOk);

    // Whether the target is written itself (a device, a stream), with no
    // temporary file: what else the program writes there mixes with it.
    bool IsDirect() const { return m_replace.bDirect != 0; }

private:
    CTempFile(const CTempFile&);
    CTempFile& operator=(const CTempFile&);

    CFile m_clFile;
    PlatReplace m_replace;
    bool m_bActive;
};

#endif
