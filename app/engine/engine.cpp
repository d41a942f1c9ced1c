// Loading, planning and checking: everything decided before anything
// changes.
#include "engine/engine.h"

#include "copyblocks.h"
#include "engine/engine_internal.h"
#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "platform/error.h"
#include "platform/platform.h"
#include "platform/volume.h"
#include "updatespace.h"

#include <stdio.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

UpdateEngine::UpdateEngine() : bSourcesVerified(0), dwCopied(0), dwNextTemp(0), nDeltaBase(0)
{
    InitContext(&context);
}

UpdateEngine::~UpdateEngine()
{
    FreeContext(&context);
}

int EngineRefuse(UpdateEngine* pEngine, int nCheck, DWORD dwRecord, const std::string& path, int nSystem,
                 const std::string& detail)
{
    EngineProblem problem = { nCheck, dwRecord, path, nSystem, detail };
    pEngine->problems.push_back(problem);
    return 0;
}

std::string EngineShown(const UpdateEngine* pEngine, const std::string& full)
{
    const std::string& root = pEngine->installFolder;
    if (full.size() > root.size() && RecordKey(full.substr(0, root.size()).c_str()) == RecordKey(root.c_str()))
        return full.substr(root.size());
    return full;
}

// Where the last separator (a slash counts) of a full path stands; npos
// when there is none.
size_t EngineLastSeparator(const std::string& path)
{
    size_t nLast = std::string::npos;
    for (size_t i = 0; i < path.size(); i++)
        if (path[i] == '/' || IsSeparatorAt(path.c_str(), (int)i))
            nLast = i;
    return nLast;
}

static std::string WithSeparator(const char* lpszFolder)
{
    std::string folder = lpszFolder;
    if (!folder.empty() && !(folder.back() == '/' || IsSeparatorAt(folder.c_str(), (int)folder.size() - 1)))
        folder += '\\';
    return folder;
}

// Whether a sum entry speaks of its record: a folder's is all zeros; a
// file's installed size is the record's; a whole file's source is the
// file as installed; a delta is named by a path the updater could use
// below the data folder, once in the list.
static bool SumFitsRecord(const UpdateEngine* pEngine, const FileRecord* pRecord, const SumEntry& e,
                          std::unordered_set<std::string>* pDeltaPaths)
{
    const SumEntry empty = {};
    if (IsFolderRecord(pRecord))
        return memcmp(&e, &empty, sizeof(e)) == 0;
    if (e.qwInstalledSize != pRecord->dwFileSize)
        return false;
    if (e.dwKind == SUM_WHOLE)
        return e.qwSourceSize == e.qwInstalledSize &&
               memcmp(e.abSource, e.abInstalled, sizeof(e.abSource)) == 0 && e.qwBaseSize == 0 &&
               memcmp(e.abBase, empty.abBase, sizeof(e.abBase)) == 0 && !e.szSource[0];
    size_t nName = strlen(e.szSource);
    return nName > 0 && IsSafeRecordPath(e.szSource) && !IsSeparatorAt(e.szSource, (int)nName - 1) &&
           RecordFitsBehind(pEngine->sourceFolder.c_str(), e.szSource) &&
           pDeltaPaths->insert(RecordKey(pRecord->szPath)).second;
}

// Reads the sums when the package has them; they must speak of the list
// just read, entry by entry.
static int LoadSums(UpdateEngine* pEngine, const std::string& file)
{
    pEngine->sums.clear();
    pEngine->bSourcesVerified = 0;
    if (PlatGetFileAttributes(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        return 1;
    std::string reason;
    const UpdateContext* pContext = &pEngine->context;
    if (!LoadUpdateSums(file.c_str(), &pEngine->sums, &reason))
        return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, ENGINE_NO_RECORD, file, 0, reason);
    if (pEngine->sums.size() != pContext->update.dwCount)
        return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, ENGINE_NO_RECORD, file, 0,
                            "it holds " + std::to_string(pEngine->sums.size()) + " entries for the list's " +
                                std::to_string(pContext->update.dwCount) + " records");
    std::unordered_set<std::string> deltaPaths;
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const FileRecord* pRecord = &pContext->pUpdateRecords[i];
        if (!SumFitsRecord(pEngine, pRecord, pEngine->sums[i], &deltaPaths))
            return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, ENGINE_NO_RECORD, file, 0,
                                "entry " + std::to_string(i + 1) + " does not match its record " + pRecord->szPath);
    }
    // A delta applies to the file as installed before the run: a path the
    // list repeats would have it apply to what the run wrote.
    if (!deltaPaths.empty())
        for (DWORD i = 0; i < pContext->update.dwCount; i++) {
            const FileRecord* pRecord = &pContext->pUpdateRecords[i];
            if (pEngine->sums[i].dwKind == SUM_WHOLE && deltaPaths.count(RecordKey(pRecord->szPath)))
                return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, ENGINE_NO_RECORD, file, 0,
                                    std::string("the list repeats the path of a delta: ") + pRecord->szPath);
        }
    return 1;
}

int EngineLoadUpdate(UpdateEngine* pEngine, const char* lpszPatchFolder)
{
    std::string patch = WithSeparator(lpszPatchFolder), reason;
    pEngine->sourceFolder = patch + g_szSourceFolderName + "\\";
    if (!LoadUpdateInfo(&pEngine->context, (patch + g_szUpdateInfoName).c_str(), &reason))
        return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, ENGINE_NO_RECORD, patch + g_szUpdateInfoName, 0, reason);
    // A record that cannot fit behind the data folder is the list's fault
    // wherever the game lies.
    for (DWORD i = 0; i < pEngine->context.update.dwCount; i++) {
        const char* szPath = pEngine->context.pUpdateRecords[i].szPath;
        if (!RecordFitsBehind(pEngine->sourceFolder.c_str(), szPath))
            return EngineRefuse(pEngine, ENGINE_UPDATE_INFO, i, szPath, 0,
                                "the path is too long to fit behind the data folder");
    }
    return LoadSums(pEngine, patch + g_szUpdateSumName);
}

int EngineLoadInstalled(UpdateEngine* pEngine, const char* lpszInstallFolder)
{
    std::string install = WithSeparator(lpszInstallFolder), reason;
    pEngine->installFolder = install;
    if (install.size() > MAX_INSTALL_DIRECTORY_LENGTH)
        return EngineRefuse(pEngine, ENGINE_NOT_INSTALLED, ENGINE_NO_RECORD, install, 0,
                            "the install folder is longer than 243 bytes");
    if (PlatGetFileAttributes((install + g_szEditionMarker).c_str()) != INVALID_FILE_ATTRIBUTES)
        return EngineRefuse(pEngine, ENGINE_WRONG_EDITION, ENGINE_NO_RECORD, install + g_szEditionMarker, 0,
                            std::string("the install folder holds ") + g_szEditionMarker +
                                ", the mark of the edition this update is not for");
    for (DWORD i = 0; i < pEngine->context.update.dwCount; i++) {
        const char* szPath = pEngine->context.pUpdateRecords[i].szPath;
        if (!RecordFitsBehind(install.c_str(), szPath))
            return EngineRefuse(pEngine, ENGINE_TOO_DEEP, i, install, 0,
                                std::string("the install folder is too deep for the record ") + szPath);
    }
    pEngine->uninstallFile = install + g_szUninstallInfoName;
    if (!LoadUninstallInfo(&pEngine->context, pEngine->uninstallFile.c_str(), &reason))
        return EngineRefuse(pEngine, ENGINE_NOT_INSTALLED, ENGINE_NO_RECORD, pEngine->uninstallFile, 0, reason);
    BuildUninstallIndex(&pEngine->context, &pEngine->index);
    return 1;
}

// --- Plan ----------------------------------------------------------------

namespace {

QWORD WholeClusters(QWORD qwBytes, DWORD dwCluster)
{
    if (dwCluster <= 1)
        return qwBytes;
    return (qwBytes / dwCluster + (qwBytes % dwCluster ? 1 : 0)) * dwCluster;
}

// What the plan knows of folders: the file system's answer, asked once
// per folder, and what the steps so far make.
class FolderMap {
public:
    explicit FolderMap(UpdateEngine* pEngine) : m_pEngine(pEngine) {}

    // The state of a full folder path (no trailing separator) at this
    // point of the plan.
    int State(const std::string& folder)
    {
        std::string key = RecordKey(folder.c_str());
        if (m_made.count(key))
            return FOLDER_MADE;
        std::unordered_map<std::string, int>::iterator it = m_found.find(key);
        if (it != m_found.end())
            return it->second;
        DWORD dw = PlatGetFileAttributes(folder.c_str());
        int nState = dw == INVALID_FILE_ATTRIBUTES ? FOLDER_MISSING
                     : (dw & FILE_ATTRIBUTE_DIRECTORY) ? FOLDER_EXISTS
                                                       : FOLDER_FILE;
        m_found.emplace(key, nState);
        return nState;
    }

    // A folder step makes every missing level of its path; a file in the
    // way of one leaves it and the levels below unmade.
    void Make(const std::string& folder)
    {
        for (size_t i = m_pEngine->installFolder.size(); i <= folder.size(); i++) {
            if (i < folder.size() && folder[i] != '/' && !IsSeparatorAt(folder.c_str(), (int)i))
                continue;
            std::string level = folder.substr(0, i);
            int nState = State(level);
            if (nState == FOLDER_FILE)
                return;
            if (nState == FOLDER_MISSING)
                m_made.insert(RecordKey(level.c_str()));
        }
    }

    // The volume a file in the folder lands on: that of the nearest level
    // that exists now. Returns 0 when none can be asked.
    int Volume(const std::string& folder, QWORD* pqwVolume, std::string* pExisting)
    {
        std::string level = folder;
        for (;;) {
            std::string key = RecordKey(level.c_str());
            std::unordered_map<std::string, QWORD>::iterator it = m_volumes.find(key);
            if (it != m_volumes.end()) {
                *pqwVolume = it->second;
                *pExisting = level;
                return 1;
            }
            PlatFileId id;
            if (PlatGetFileId(level.c_str(), &id) && (id.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                m_volumes.emplace(key, id.qwVolume);
                *pqwVolume = id.qwVolume;
                *pExisting = level;
                return 1;
            }
            size_t nSep = EngineLastSeparator(level);
            if (nSep == std::string::npos || nSep == 0)
                return 0;
            level.resize(nSep);
        }
    }

private:
    UpdateEngine* m_pEngine;
    std::unordered_map<std::string, int> m_found;
    std::unordered_set<std::string> m_made;
    std::unordered_map<std::string, QWORD> m_volumes;
};

// The destination folder of a file step: its path up to the last
// separator, without it.
std::string FolderOfFile(const std::string& dest)
{
    size_t nSep = EngineLastSeparator(dest);
    return nSep == std::string::npos ? std::string() : dest.substr(0, nSep);
}

// A folder step's path without its trailing separator.
std::string FolderOfFolderStep(const std::string& dest)
{
    return dest.substr(0, dest.size() - 1);
}

VolumeNeed* VolumeFor(UpdateEngine* pEngine, FolderMap* pFolders, const std::string& folder)
{
    QWORD qwVolume;
    std::string existing;
    if (!pFolders->Volume(folder, &qwVolume, &existing))
        return NULL;
    for (VolumeNeed& v : pEngine->volumes)
        if (v.qwVolume == qwVolume)
            return &v;
    VolumeNeed v = { qwVolume, existing, 0, 0, 0, 0 };
    v.bKnown = PlatGetDiskSpace(existing.c_str(), &v.qwFree, &v.dwCluster);
    pEngine->volumes.push_back(v);
    return &pEngine->volumes.back();
}

} // namespace

int EnginePlan(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks)
{
    UpdateContext* pContext = &pEngine->context;
    pEngine->plan.clear();
    pEngine->volumes.clear();
    pEngine->plan.reserve((size_t)pContext->update.dwCount + 1);
    FolderMap folders(pEngine);
    // The last step of each destination, for a path the list repeats.
    std::unordered_map<std::string, DWORD> lastWrite;
    // Per volume: use above today's as the copy goes (it may dip below 0
    // while shrinking files are replaced) and its peak.
    std::vector<int64_t> used, peak, held;
    // The install folder's volume first: the list is rewritten there.
    VolumeFor(pEngine, &folders, pEngine->installFolder.substr(0, pEngine->installFolder.size() - 1));

    for (DWORD i = 0; i <= pContext->update.dwCount; i++) {
        if (pCallbacks && !pCallbacks->pfnContinue(pCallbacks->pParam)) {
            pEngine->problems.clear();
            return EngineRefuse(pEngine, ENGINE_CANCELLED, ENGINE_NO_RECORD, "", 0, "cancelled while planning");
        }
        PlanStep step = { PLAN_FILE, i, "", "", 0, 0, 0, 0, 0, ENGINE_NO_RECORD, 0, 0, 0, 0 };
        if (i == pContext->update.dwCount) {
            // The list is rewritten beside itself, at its largest.
            step.nKind = PLAN_REWRITE_LIST;
            step.dwRecord = ENGINE_NO_RECORD;
            step.dest = pEngine->uninstallFile;
            step.qwSize = sizeof(UninstallHeader) +
                          ((QWORD)pContext->uninstall.dwCount + pContext->update.dwCount) * sizeof(FileRecord);
            step.bSourceReadable = 1;
        } else {
            const FileRecord* pRecord = &pContext->pUpdateRecords[i];
            step.dest = pEngine->installFolder + pRecord->szPath;
            if (IsFolderRecord(pRecord)) {
                step.nKind = PLAN_FOLDER;
                step.bExists = folders.State(FolderOfFolderStep(step.dest)) == FOLDER_EXISTS;
                folders.Make(FolderOfFolderStep(step.dest));
                pEngine->plan.push_back(step);
                continue;
            }
            step.bDelta = !pEngine->sums.empty() && pEngine->sums[i].dwKind != SUM_WHOLE;
            step.source = pEngine->sourceFolder + (step.bDelta ? pEngine->sums[i].szSource : pRecord->szPath);
            // The open tells the size too: one query per source, not two,
            // on lists of many small files. Only a source that will not
            // open is asked by name, for the size it has.
            HANDLE hSource = PlatOpenFile(step.source.c_str(), 0);
            PlatFileId source;
            if (hSource) {
                step.bSourceReadable = 1;
                step.qwSize = PlatGetFileSize(hSource);
                PlatCloseFile(hSource);
            } else if (PlatGetFileId(step.source.c_str(), &source) &&
                       !(source.dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                step.qwSize = source.qwSize;
            }
            std::string key = RecordKey(pRecord->szPath);
            std::unordered_map<std::string, DWORD>::iterator it = lastWrite.find(key);
            if (it != lastWrite.end())
                step.dwEarlier = it->second;
            lastWrite[key] = (DWORD)pEngine->plan.size();
        }
        step.qwResult = step.bDelta ? pEngine->sums[i].qwInstalledSize : step.qwSize;
        PlatFileId dest;
        bool bFound = PlatGetFileId(step.dest.c_str(), &dest) != 0;
        step.bFolderInPlace = bFound && (dest.dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
        if (bFound && !step.bFolderInPlace) {
            step.bExists = 1;
            step.qwReplaced = dest.qwSize;
            step.bFreesSpace = dest.dwLinks <= 1;
        }

        VolumeNeed* pVolume = VolumeFor(pEngine, &folders, FolderOfFile(step.dest));
        if (pVolume) {
            size_t v = pVolume - pEngine->volumes.data();
            used.resize(pEngine->volumes.size(), 0);
            peak.resize(pEngine->volumes.size(), 0);
            held.resize(pEngine->volumes.size(), 0);
            // While the copy is written the file it replaces still exists;
            // after the move only the new one does. Every delta's result
            // is written before the first move, so it is counted from the
            // start (below) and only its move is counted here.
            if (step.bDelta)
                held[v] += (int64_t)WholeClusters(step.qwResult, pVolume->dwCluster);
            else
                used[v] += (int64_t)WholeClusters(step.qwResult, pVolume->dwCluster);
            if (used[v] > peak[v])
                peak[v] = used[v];
            if (step.dwEarlier != ENGINE_NO_RECORD)
                used[v] -= (int64_t)WholeClusters(pEngine->plan[step.dwEarlier].qwResult, pVolume->dwCluster);
            else if (step.bExists && step.bFreesSpace)
                used[v] -= (int64_t)WholeClusters(step.qwReplaced, pVolume->dwCluster);
        }
        pEngine->plan.push_back(step);
    }
    // The deltas' results, all held at once, lift the whole walk.
    held.resize(peak.size(), 0);
    for (size_t v = 0; v < peak.size(); v++)
        peak[v] += held[v];
    for (size_t v = 0; v < pEngine->volumes.size() && v < peak.size(); v++)
        pEngine->volumes[v].qwNeeded = (QWORD)peak[v];
    return 1;
}

// --- Check ---------------------------------------------------------------

namespace {

struct CheckState {
    std::vector<EngineProblem> damaged, bases, sources, types, unwritable, space, inUse;
};

void Add(std::vector<EngineProblem>* pList, int nCheck, DWORD dwRecord, const std::string& path, int nSystem,
         const std::string& detail)
{
    EngineProblem problem = { nCheck, dwRecord, path, nSystem, detail };
    pList->push_back(problem);
}

// Whether the copy could write target, tried as the copy will do it: a
// temporary file made beside it and dropped again.
int WouldAccept(UpdateEngine* pEngine, const std::string& target, DWORD dwFlags, int* pnSystem)
{
    PlatReplace replace;
    if (!EngineBeginReplace(pEngine, target, &replace, dwFlags)) {
        *pnSystem = PlatGetLastError();
        return 0;
    }
    PlatEndReplace(&replace, 0);
    return 1;
}

// One file the check hashes: a source, or the installed file a delta
// applies to; the outcome once hashed.
struct HashJob {
    PlanStep* pStep;
    bool bBase;
    // Refused by its size alone, not hashed.
    bool bWrongSize;
    int bHashed;
    int nSystem;
    BYTE abDigest[PLAT_SHA256_SIZE];
};

// The hashing shared by the threads: the next job, the bytes read (for the
// bar) and the stop that a Cancel sets.
struct HashRun {
    std::vector<HashJob>* pJobs;
    std::atomic<size_t> nNext;
    std::atomic<QWORD> qwDone;
    std::atomic<int> bStop;
    const EngineCallbacks* pCallbacks; // called by the window's thread only
    QWORD qwTotal;
};

struct HashThread {
    HashRun* pRun;
    bool bWindow;
};

int HashedBlock(void* pParam, DWORD dwSize)
{
    HashThread* p = (HashThread*)pParam;
    HashRun* pRun = p->pRun;
    QWORD qwDone = pRun->qwDone += dwSize;
    if (p->bWindow) {
        pRun->pCallbacks->pfnPercent(pRun->pCallbacks->pParam, CopyPercent(qwDone, pRun->qwTotal));
        if (!pRun->pCallbacks->pfnContinue(pRun->pCallbacks->pParam))
            pRun->bStop = 1;
    }
    return !pRun->bStop;
}

// Takes jobs until none is left, each hashed from its file's start.
void HashJobs(HashThread* pThread)
{
    HashRun* pRun = pThread->pRun;
    std::vector<BYTE> block(COPY_BLOCK_SIZE);
    for (size_t i; !pRun->bStop && (i = pRun->nNext++) < pRun->pJobs->size();) {
        HashJob& job = (*pRun->pJobs)[i];
        if (job.bWrongSize)
            continue;
        const std::string& path = job.bBase ? job.pStep->dest : job.pStep->source;
        QWORD qwSize = job.bBase ? job.pStep->qwReplaced : job.pStep->qwSize, qwRead = 0;
        CFile clFile;
        job.nSystem = 0;
        job.bHashed = 0;
        if (!clFile.Open(path.c_str(), 0))
            job.nSystem = PlatGetLastError();
        else
            job.bHashed = HashFile(&clFile, block.data(), COPY_BLOCK_SIZE, job.abDigest, &qwRead, HashedBlock, pThread);
        if (qwRead < qwSize)
            pRun->qwDone += qwSize - qwRead;
    }
}

// Hashes the jobs on this thread and one more: the system's SHA-256 is
// slower than reading a file the page cache holds, and a machine has two
// cores. This thread alone calls back, and goes on doing so until the
// other is done. Returns 0 when cancelled.
int HashAll(std::vector<HashJob>* pJobs, QWORD qwTotal, const EngineCallbacks* pCallbacks)
{
    HashRun run;
    run.pJobs = pJobs;
    run.nNext = 0;
    run.qwDone = 0;
    run.bStop = 0;
    run.pCallbacks = pCallbacks;
    run.qwTotal = qwTotal;
    HashThread window = { &run, true }, other = { &run, false };
    std::thread helper;
    std::atomic<int> bHelperDone(1);
    if (pJobs->size() > 1) {
        try {
            bHelperDone = 0;
            helper = std::thread([&] {
                HashJobs(&other);
                bHelperDone = 1;
            });
        } catch (const std::system_error&) {
            bHelperDone = 1;
        }
    }
    HashJobs(&window);
    while (!bHelperDone) {
        if (!pCallbacks->pfnContinue(pCallbacks->pParam))
            run.bStop = 1;
        pCallbacks->pfnPercent(pCallbacks->pParam, CopyPercent(run.qwDone, qwTotal));
        std::this_thread::sleep_for(std::chrono::milliseconds(REFRESH_INTERVAL_MS));
    }
    if (helper.joinable())
        helper.join();
    return !run.bStop;
}

// Hashes every readable source against its entry (once: a retry does not
// read them all again), and every installed file a delta applies to,
// which must be its base or, after a killed run, its result already. A
// source that cannot be opened is the source check's. Problems are added
// in the plan's order. Returns 0 only when cancelled.
int VerifyFiles(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks, CheckState* pState)
{
    bool bSources = !pEngine->bSourcesVerified;
    std::vector<HashJob> jobs;
    QWORD qwTotal = 0;
    for (PlanStep& step : pEngine->plan) {
        if (step.nKind != PLAN_FILE)
            continue;
        const SumEntry& e = pEngine->sums[step.dwRecord];
        if (bSources && step.bSourceReadable) {
            bool bWrong = step.qwSize != e.qwSourceSize;
            jobs.push_back({ &step, false, bWrong, 0, 0, {} });
            qwTotal += bWrong ? 0 : step.qwSize;
        }
        if (step.bDelta) {
            step.bDone = 0;
            bool bWrong = !step.bExists || (step.qwReplaced != e.qwBaseSize && step.qwReplaced != e.qwInstalledSize);
            jobs.push_back({ &step, true, bWrong, 0, 0, {} });
            qwTotal += bWrong ? 0 : step.qwReplaced;
        }
    }
    pCallbacks->pfnPercent(pCallbacks->pParam, 0);
    if (!HashAll(&jobs, qwTotal, pCallbacks))
        return 0;
    for (const HashJob& job : jobs) {
        PlanStep& step = *job.pStep;
        const SumEntry& e = pEngine->sums[step.dwRecord];
        const char* szPath = pEngine->context.pUpdateRecords[step.dwRecord].szPath;
        if (!job.bBase) {
            if (job.bWrongSize)
                Add(&pState->damaged, ENGINE_DAMAGED, step.dwRecord, szPath, 0,
                    "its source has " + std::to_string(step.qwSize) + " bytes, " + g_szUpdateSumName + " records " +
                        std::to_string(e.qwSourceSize));
            else if (!job.bHashed)
                Add(&pState->damaged, ENGINE_DAMAGED, step.dwRecord, szPath, 0, "its source cannot be read to the end");
            else if (memcmp(job.abDigest, e.abSource, sizeof(job.abDigest)) != 0)
                Add(&pState->damaged, ENGINE_DAMAGED, step.dwRecord, szPath, 0,
                    "its source's SHA-256 is " + DigestText(job.abDigest) + ", " + g_szUpdateSumName + " records " +
                        DigestText(e.abSource));
        } else if (job.bWrongSize && !step.bExists) {
            Add(&pState->bases, ENGINE_BASE_DIFFERS, step.dwRecord, szPath, 0,
                "the installed file its delta applies to is missing");
        } else if (job.bWrongSize) {
            Add(&pState->bases, ENGINE_BASE_DIFFERS, step.dwRecord, szPath, 0,
                "the installed file has " + std::to_string(step.qwReplaced) + " bytes; its delta applies to " +
                    std::to_string(e.qwBaseSize));
        } else if (!job.bHashed && job.nSystem == PLAT_ERROR_IN_USE) {
            Add(&pState->inUse, ENGINE_IN_USE, step.dwRecord, szPath, job.nSystem, "held by another program");
        } else if (!job.bHashed) {
            Add(&pState->bases, ENGINE_BASE_DIFFERS, step.dwRecord, szPath, job.nSystem,
                "the installed file its delta applies to cannot be read");
        } else if (step.qwReplaced == e.qwInstalledSize && memcmp(job.abDigest, e.abInstalled, sizeof(job.abDigest)) == 0) {
            step.bDone = 1;
        } else if (step.qwReplaced != e.qwBaseSize || memcmp(job.abDigest, e.abBase, sizeof(job.abDigest)) != 0) {
            Add(&pState->bases, ENGINE_BASE_DIFFERS, step.dwRecord, szPath, 0,
                "the installed file's SHA-256 is " + DigestText(job.abDigest) + "; its delta applies to " +
                    DigestText(e.abBase));
        }
    }
    return 1;
}

} // namespace

int EngineCheck(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks)
{
    pEngine->problems.clear();
    CheckState s;
    FolderMap folders(pEngine);
    // Each folder is tried once: the first file step that needs it.
    std::unordered_map<std::string, int> tried;
    const UpdateContext* pContext = &pEngine->context;

    if (!pEngine->sums.empty()) {
        if (!VerifyFiles(pEngine, pCallbacks, &s))
            return EngineRefuse(pEngine, ENGINE_CANCELLED, ENGINE_NO_RECORD, "", 0, "cancelled during the checks");
        pEngine->bSourcesVerified = s.damaged.empty();
    }
    for (const PlanStep& step : pEngine->plan) {
        if (!pCallbacks->pfnContinue(pCallbacks->pParam))
            return EngineRefuse(pEngine, ENGINE_CANCELLED, ENGINE_NO_RECORD, "", 0, "cancelled during the checks");
        std::string shown = step.nKind == PLAN_REWRITE_LIST ? step.dest : pContext->pUpdateRecords[step.dwRecord].szPath;
        if (step.nKind == PLAN_FOLDER) {
            std::string folder = FolderOfFolderStep(step.dest);
            int nState = folders.State(folder);
            if (nState == FOLDER_FILE)
                Add(&s.types, ENGINE_PATH_TYPE, step.dwRecord, shown, 0,
                    "it is a folder record and a file of that name is there");
            else if (nState == FOLDER_MISSING) {
                // Made below the nearest level that exists, which must take it.
                std::string level = folder;
                int nLevel;
                do {
                    size_t nSep = EngineLastSeparator(level);
                    level = nSep == std::string::npos ? std::string() : level.substr(0, nSep);
                    nLevel = level.empty() ? FOLDER_EXISTS : folders.State(level);
                } while (nLevel == FOLDER_MISSING);
                if (nLevel == FOLDER_FILE)
                    Add(&s.types, ENGINE_PATH_TYPE, step.dwRecord, shown, 0,
                        "a file is in the way of the folder " + EngineShown(pEngine, level));
                else if (nLevel == FOLDER_EXISTS && !tried.count(RecordKey(level.c_str()))) {
                    // Tried with the name of the first level to be made.
                    int nSystem = 0;
                    size_t nEnd = level.size() + 1;
                    while (nEnd < folder.size() && folder[nEnd] != '/' && !IsSeparatorAt(folder.c_str(), (int)nEnd))
                        nEnd++;
                    tried[RecordKey(level.c_str())] = WouldAccept(pEngine, folder.substr(0, nEnd), 0, &nSystem);
                    if (!tried[RecordKey(level.c_str())])
                        Add(&s.unwritable, ENGINE_CANNOT_WRITE, step.dwRecord,
                            EngineShown(pEngine, level + "\\"), nSystem,
                            "the folder refuses new files and folders: " +
                                std::string(PlatErrorText(nSystem)));
                }
            }
            folders.Make(folder);
            continue;
        }
        if (step.nKind == PLAN_FILE && !step.bSourceReadable)
            Add(&s.sources, ENGINE_SOURCE, step.dwRecord, shown, 0, "its source cannot be opened for reading");
        std::string folder = FolderOfFile(step.dest);
        int nState = folders.State(folder);
        if (step.bFolderInPlace) {
            Add(&s.types, ENGINE_PATH_TYPE, step.dwRecord, shown, 0,
                "it is a file record and a folder of that name is there");
            continue;
        }
        if (nState != FOLDER_EXISTS && nState != FOLDER_MADE) {
            Add(&s.types, ENGINE_PATH_TYPE, step.dwRecord, shown, 0,
                "its folder is not in the install folder and no folder record before it creates it");
            continue;
        }
        // A folder made by the plan was tried with its nearest level.
        std::string key = RecordKey(folder.c_str());
        DWORD dwFlags = step.nKind == PLAN_REWRITE_LIST ? PLAT_REPLACE_READONLY | PLAT_REPLACE_KEEP_READONLY
                                                        : PLAT_REPLACE_READONLY;
        if (nState == FOLDER_EXISTS && !tried.count(key)) {
            int nSystem = 0;
            tried[key] = WouldAccept(pEngine, step.dest, dwFlags, &nSystem);
            if (!tried[key])
                Add(&s.unwritable, ENGINE_CANNOT_WRITE, step.dwRecord,
                    step.nKind == PLAN_REWRITE_LIST ? pEngine->installFolder : EngineShown(pEngine, folder + "\\"),
                    nSystem, "the folder refuses new files: " + std::string(PlatErrorText(nSystem)));
        }
        if (step.bExists && !PlatProbeReplace(step.dest.c_str())) {
            int nSystem = PlatGetLastError();
            if (nSystem == PLAT_ERROR_IN_USE)
                Add(&s.inUse, ENGINE_IN_USE, step.dwRecord, shown, nSystem, "held by another program");
            else
                Add(&s.unwritable, ENGINE_CANNOT_WRITE, step.dwRecord, shown, nSystem,
                    "the file cannot be replaced: " + std::string(PlatErrorText(nSystem)));
        }
    }
    for (const VolumeNeed& v : pEngine->volumes) {
        if (v.bKnown && v.qwFree < v.qwNeeded) {
            char buf[160];
            snprintf(buf, sizeof(buf), "%llu bytes needed, %llu free", (unsigned long long)v.qwNeeded,
                     (unsigned long long)v.qwFree);
            Add(&s.space, ENGINE_NO_SPACE, ENGINE_NO_RECORD, v.folder, 0,
                "not enough free space on the volume of " + EngineShown(pEngine, v.folder) + ": " + buf);
        }
    }
    for (std::vector<EngineProblem>* pList : { &s.damaged, &s.bases, &s.sources, &s.types, &s.unwritable, &s.space, &s.inUse })
        pEngine->problems.insert(pEngine->problems.end(), pList->begin(), pList->end());
    return pEngine->problems.empty() ? 1 : 0;
}

// --- Messages ------------------------------------------------------------

DWORD EngineCountLike(const UpdateEngine* pEngine, const EngineProblem* pProblem)
{
    DWORD dwCount = 0;
    for (const EngineProblem& p : pEngine->problems)
        dwCount += p.nCheck == pProblem->nCheck;
    return dwCount;
}

void EngineMessage(const UpdateEngine* pEngine, const EngineProblem* pProblem, DWORD dwMore, char* lpszBuf,
                   size_t nSize)
{
    char lpszPath[MAX_PATH + 64];
    int n = snprintf(lpszPath, MAX_PATH, "%s", pProblem->path.c_str());
    if (dwMore > 0 && n >= 0)
        snprintf(lpszPath + n, sizeof(lpszPath) - n, g_szFmtMoreFiles, (unsigned long)dwMore);
    switch (pProblem->nCheck) {
    case ENGINE_UPDATE_INFO:
        snprintf(lpszBuf, nSize, "%s", g_szMsgCannotOpenUpdateInfo);
        break;
    case ENGINE_WRONG_EDITION:
        snprintf(lpszBuf, nSize, "%s", g_szMsgWrongEdition);
        break;
    case ENGINE_NOT_INSTALLED:
        snprintf(lpszBuf, nSize, g_szFmtNotInstalled, pEngine->context.update.szTitle);
        break;
    case ENGINE_TOO_DEEP:
        snprintf(lpszBuf, nSize, g_szFmtTooDeep, pProblem->path.c_str());
        break;
    case ENGINE_DAMAGED:
        // The first file only: the player downloads the whole patch again.
        snprintf(lpszBuf, nSize, g_szFmtDamaged, pProblem->path.c_str());
        break;
    case ENGINE_BASE_DIFFERS:
        snprintf(lpszBuf, nSize, g_szFmtBaseDiffers, pProblem->path.c_str());
        break;
    case ENGINE_CANNOT_WRITE:
        snprintf(lpszBuf, nSize, g_szFmtCannotWrite, lpszPath);
        break;
    case ENGINE_NO_SPACE: {
        for (const VolumeNeed& v : pEngine->volumes)
            if (v.folder == pProblem->path) {
                FormatNoSpaceMessage(lpszBuf, nSize, v.qwNeeded, v.qwFree);
                return;
            }
        snprintf(lpszBuf, nSize, "%s", g_szMsgFailed);
        break;
    }
    case ENGINE_IN_USE:
        snprintf(lpszBuf, nSize, g_szFmtFilesInUse, lpszPath);
        break;
    case ENGINE_REWRITE:
        snprintf(lpszBuf, nSize, "%s", g_szMsgCannotWriteUninstallInfo);
        break;
    default:
        snprintf(lpszBuf, nSize, "%s", g_szMsgFailed);
        break;
    }
}
