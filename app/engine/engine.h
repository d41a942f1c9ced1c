// The update engine: everything update.exe decides, with no window in it.
// update.exe, `updatelist check` and the tests drive the same steps on an
// UpdateEngine, so what the tool predicts is what the updater does:
//
//   1. EngineLoadUpdate reads Updateinf.dat; the caller then finds the
//      install folder (update.exe through the registry) and
//      EngineLoadInstalled looks for the other edition's marker, checks
//      that every record fits behind the folder and reads
//      Uninstallinf.dat.
//   2. EnginePlan lists the operations the copy will make, in order:
//      folders to create, files to create or replace, the list rewrite.
//   3. EngineCheck tries the plan against the file system as it is now
//      and collects every refusal, in the order update.exe shows them:
//      sources, paths of the wrong type, what cannot be written, free
//      space, files in use.
//   4. EngineCarryOut copies, merging each installed entry into the
//      uninstall list; EngineRewriteList writes that list back.
//
// Result convention: each step returns 1 when it succeeded and 0 when it
// refused or failed. Then engine.problems holds at least one
// EngineProblem, in the order found: which check refused, the record and
// the path concerned, and the system's reason where a call failed. The
// first one is what update.exe shows; `updatelist check` lists them all.
// Nothing here shows a message or keeps anything in static storage.
#ifndef APP_ENGINE_ENGINE_H
#define APP_ENGINE_ENGINE_H

#include "codec/cdelta.h"
#include "updateinfo.h"
#include "updatesum.h"

#include <memory>
#include <string>
#include <vector>

enum EngineCheck {
    // Before the confirmation.
    ENGINE_UPDATE_INFO,   // Updateinf.dat cannot be opened or is damaged
    ENGINE_WRONG_EDITION, // the install folder holds the other edition's marker
    ENGINE_NOT_INSTALLED, // Uninstallinf.dat cannot be read
    ENGINE_TOO_DEEP,      // a record does not fit behind the install folder
    // After the confirmation, before anything changes.
    ENGINE_DAMAGED,       // a source's size or hash is not the one Updateinf.sum records
    ENGINE_BASE_DIFFERS,  // the installed file a delta applies to is missing or another one
    ENGINE_SOURCE,        // a source cannot be read
    ENGINE_PATH_TYPE,     // a folder where a file goes or the reverse, or a file's folder nothing makes
    ENGINE_CANNOT_WRITE,  // a folder refuses new files, a file cannot be replaced
    ENGINE_NO_SPACE,      // a volume has too little free space
    ENGINE_IN_USE,        // an installed file is held by another program
    // While the copy runs.
    ENGINE_COPY,          // a file could not be copied
    ENGINE_CANCELLED,
    ENGINE_REWRITE,       // Uninstallinf.dat could not be rewritten
};

// No record concerned.
#define ENGINE_NO_RECORD 0xFFFFFFFF

struct EngineProblem {
    int nCheck;
    DWORD dwRecord;
    // As the player is shown it: a path below the install folder is
    // relative; the install folder itself, Uninstallinf.dat and anything
    // outside are full paths.
    std::string path;
    // PLAT_ERROR_* (platform/error.h) where a system call refused; 0
    // otherwise.
    int nSystem;
    // For the tools, in English: what was found.
    std::string detail;
};

enum PlanKind { PLAN_FOLDER, PLAN_FILE, PLAN_REWRITE_LIST };

struct PlanStep {
    int nKind;
    // The update record; ENGINE_NO_RECORD for the list rewrite.
    DWORD dwRecord;
    std::string dest;
    // Files: the source and its size as found now; bSourceReadable 0 when
    // it cannot be opened for reading.
    std::string source;
    QWORD qwSize;
    int bSourceReadable;
    // Folders: whether the folder is there already. Files: whether a file
    // is there that the copy replaces, its size and whether replacing it
    // frees its space (it has no other hard link).
    int bExists;
    QWORD qwReplaced;
    int bFreesSpace;
    // An earlier step of the plan writes the same destination (a repeated
    // path): what that step left counts as the file replaced.
    DWORD dwEarlier;
    // The size of the file written: the source's, or what its delta
    // rebuilds.
    QWORD qwResult;
    // The source is a delta against the installed file (Updateinf.sum
    // says so). bDone: the check found the installed file holding the
    // result already (a run killed after its move), so it is not patched
    // again, only listed.
    int bDelta;
    int bDone;
    // A folder stands where the file goes (the check refuses it).
    int bFolderInPlace;
};

// Free space needed and found on one volume, in its allocation units.
struct VolumeNeed {
    QWORD qwVolume;
    // A folder on it, as asked (full path).
    std::string folder;
    int bKnown;
    QWORD qwFree;
    DWORD dwCluster;
    QWORD qwNeeded;
};

// Called by the check and the copy. pfnContinue is polled between
// records, between blocks and during the checks: the place to service a
// window's queue; 0 stops the step as cancelled.
struct EngineCallbacks {
    // A file's copy begins (its record path).
    void (*pfnFile)(void* pParam, const char* szPath);
    void (*pfnPercent)(void* pParam, DWORD dwPercent);
    int (*pfnContinue)(void* pParam);
    void* pParam;
};

struct UpdateEngine {
    UpdateContext context;
    UninstallIndex index;
    // Updateinf.sum's entries, one per update record; empty when the
    // package has none, and nothing is hashed then.
    std::vector<SumEntry> sums;
    // Every source matched its hash in a check: a retry does not read
    // them all again (the copy hashes what it writes anyway).
    int bSourcesVerified;
    // Full library paths ending in a separator.
    std::string installFolder;
    std::string sourceFolder;
    std::string uninstallFile;
    std::vector<PlanStep> plan;
    std::vector<VolumeNeed> volumes;
    std::vector<EngineProblem> problems;
    // Records merged by the copy so far, in order.
    DWORD dwCopied;
    // The copy's block buffer, kept for the run.
    std::vector<BYTE> block;
    // The next number tried for a copy's temporary name.
    DWORD dwNextTemp;
    // Deltas: the codec, and the installed file each applies to read into
    // memory kept for the run (as large as the largest base): under Wine
    // fresh pages for every file cost more than applying its delta.
    CDelta delta;
    std::unique_ptr<BYTE[]> deltaBase;
    size_t nDeltaBase;

    UpdateEngine();
    ~UpdateEngine();
    UpdateEngine(const UpdateEngine&) = delete;
    UpdateEngine& operator=(const UpdateEngine&) = delete;
};

// Reads lpszPatchFolder's Updateinf.dat (the folder ends in a separator;
// "" for the current folder) and, when it is there, Updateinf.sum, which
// must match the list; takes its data folder as the source.
int EngineLoadUpdate(UpdateEngine* pEngine, const char* lpszPatchFolder);

// With the install folder (any form; a separator is added): refuses the
// other edition, a folder too deep for a record, and an unreadable
// Uninstallinf.dat, and reads that list.
int EngineLoadInstalled(UpdateEngine* pEngine, const char* lpszInstallFolder);

// Lists the operations of the run in engine.plan and what each volume
// will need, polling pCallbacks (may be null) between records. Returns 0
// only when cancelled (ENGINE_CANCELLED).
int EnginePlan(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks = NULL);

// Tries the plan, collecting every refusal; with sums, every readable
// source is hashed first, and every installed file a delta applies to, the
// percent reported over their bytes. Returns 1 when none was found.
// A cancel through the callbacks returns 0 with ENGINE_CANCELLED.
int EngineCheck(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks);

// Deletes the temporary files a killed run left: the copies' names in the
// file records' folders inside the install folder that no link leads to,
// and the list's. Only the run that holds the install folder's lock may
// call it, before EnginePlan (what is left counts against the space).
void EngineRemoveLeftovers(UpdateEngine* pEngine);

// The copy pass over the plan; with sums, each file's bytes are hashed
// as they are read and a mismatch (ENGINE_DAMAGED) fails the file before
// its move. Deltas are applied first, each result beside its file and
// checked against its hash, before any file is moved: a wrong result
// fails the run with nothing changed. Returns 1 when every record was
// handled; 0 on a failure or a cancel, the installed file being replaced
// then left as it was.
int EngineCarryOut(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks);

// Writes the merged uninstall list back (read-only, hidden and system
// attributes kept).
int EngineRewriteList(UpdateEngine* pEngine);

// The text update.exe shows for a problem, in code page 932 (lpszBuf of
// 1024 bytes); dwMore further problems of the same check are counted
// behind the path where the text does so.
void EngineMessage(const UpdateEngine* pEngine, const EngineProblem* pProblem, DWORD dwMore, char* lpszBuf,
                   size_t nSize);

// How many problems of the first problem's check were found (for "ほか N件").
DWORD EngineCountLike(const UpdateEngine* pEngine, const EngineProblem* pProblem);

#endif
