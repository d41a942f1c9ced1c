// Carrying the plan out: the copy pass, the list rewrite and the removal
// of what a killed run left.
#include "engine/engine.h"

#include "codec/cdelta.h"
#include "copyblocks.h"
#include "pack/pack_delta.h"
#include "engine/engine_internal.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "file/path.h"
#include "messages.h"
#include "platform/error.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>

#include <new>
#include <unordered_map>
#include <unordered_set>

int EngineBeginReplace(UpdateEngine* pEngine, const std::string& dest, PlatReplace* pReplace, DWORD dwFlags)
{
    std::string folder = dest.substr(0, EngineLastSeparator(dest) + 1);
    // Numbers go on from where the last name was found, so a run of
    // files rarely meets a taken name; 0xFFFF names at most, as the OS's
    // own unique names.
    for (DWORD dwTry = 0; dwTry < 0xFFFF; dwTry++) {
        char lpszName[16];
        snprintf(lpszName, sizeof(lpszName), "%s%X.tmp", g_szTempPrefix, (unsigned)(pEngine->dwNextTemp % 0xFFFF + 1));
        std::string temp = folder + lpszName;
        if (temp.size() >= MAX_PATH)
            return 0;
        int nResult = PlatBeginReplace(pReplace, dest.c_str(), temp.c_str(), dwFlags);
        if (nResult >= 0)
            return nResult;
        pEngine->dwNextTemp++;
    }
    return 0;
}

namespace {

void SetPercent(void* pParam, DWORD dwPercent)
{
    const EngineCallbacks* pCallbacks = (const EngineCallbacks*)pParam;
    pCallbacks->pfnPercent(pCallbacks->pParam, dwPercent);
}

void AddToHash(void* pReadParam, const BYTE* pData, DWORD dwSize)
{
    ((PlatSha256*)pReadParam)->Add(pData, dwSize);
}

int KeepCopying(void* pParam)
{
    const EngineCallbacks* pCallbacks = (const EngineCallbacks*)pParam;
    return pCallbacks->pfnContinue(pCallbacks->pParam);
}

// Copies one file: the source is opened first, so a missing replacement
// never touches the installed file; the copy goes to a fresh temporary
// file beside the destination, reaches the disk, and only then replaces
// the destination (a read-only game file too; hidden and system kept), so
// a Cancel, a failure or a power cut leaves the installed file as it was
// or whole and new. With sums, bytes that are not the recorded ones
// (*pbDamaged) are never moved in.
int CopyOne(UpdateEngine* pEngine, const PlanStep& step, const EngineCallbacks* pCallbacks, int* pnSystem,
            int* pbCancelled, int* pbDamaged)
{
    PlatSha256 hash;
    int bHashed = !pEngine->sums.empty();
    if (bHashed && !hash.Begin()) {
        *pbDamaged = 1;
        return 0;
    }
    CFile clSource;
    PlatReplace replace;
    if (!clSource.Open(step.source.c_str(), 0) ||
        !EngineBeginReplace(pEngine, step.dest, &replace, PLAT_REPLACE_READONLY)) {
        *pnSystem = PlatGetLastError();
        return 0;
    }
    CopyCallbacks callbacks = { SetPercent, KeepCopying, (void*)pCallbacks, pEngine->block.data(),
                                bHashed ? AddToHash : NULL, &hash };
    CFile clDest;
    clDest.Attach(replace.hFile);
    int bOk = CopyBlocks(&clDest, &clSource, &callbacks);
    if (!bOk)
        *pnSystem = PlatGetLastError();
    BYTE abDigest[PLAT_SHA256_SIZE];
    if (bOk && bHashed &&
        (!hash.End(abDigest) ||
         memcmp(abDigest, pEngine->sums[step.dwRecord].abInstalled, sizeof(abDigest)) != 0)) {
        bOk = 0;
        *pbDamaged = 1;
    }
    clDest.Detach();
    clSource.Close();
    if (!bOk)
        *pbCancelled = !pCallbacks->pfnContinue(pCallbacks->pParam);
    if (!PlatEndReplace(&replace, bOk)) {
        if (bOk)
            *pnSystem = PlatGetLastError();
        return 0;
    }
    return 1;
}

// Where a delta's result goes while it is rebuilt: the temporary file,
// the hash of what was written and the file's progress.
struct ResultSink {
    CFile* pDest;
    PlatSha256* pHash;
    const EngineCallbacks* pCallbacks;
    QWORD qwDone, qwTotal;
    int bCancelled;
    // A write refused (a full disk): the system's reason, 0 when none.
    int nWriteError;
};

int WriteResult(void* pParam, const void* pBuf, size_t nSize)
{
    ResultSink* p = (ResultSink*)pParam;
    const BYTE* pData = (const BYTE*)pBuf;
    while (nSize > 0) {
        DWORD dwPart = nSize < COPY_BLOCK_SIZE ? (DWORD)nSize : COPY_BLOCK_SIZE;
        if (p->pDest->Write(pData, dwPart) != dwPart) {
            p->nWriteError = PlatGetLastError();
            return 0;
        }
        p->pHash->Add(pData, dwPart);
        p->qwDone += dwPart;
        pData += dwPart;
        nSize -= dwPart;
        p->pCallbacks->pfnPercent(p->pCallbacks->pParam, CopyPercent(p->qwDone, p->qwTotal));
        if (!p->pCallbacks->pfnContinue(p->pCallbacks->pParam)) {
            p->bCancelled = 1;
            return 0;
        }
    }
    return 1;
}

int ReadDelta(void* pParam, void* pBuf, size_t nSize, size_t* pnRead)
{
    *pnRead = ((CFile*)pParam)->Read(pBuf, nSize < 0x40000000 ? (DWORD)nSize : 0x40000000);
    return 1;
}

enum { APPLIED, APPLY_FAILED, APPLY_DAMAGED, APPLY_CANCELLED };

int ContinueArchive(void* pParam, QWORD qwDone, QWORD qwTotal)
{
    ResultSink* p = (ResultSink*)pParam;
    p->pCallbacks->pfnPercent(p->pCallbacks->pParam, CopyPercent(qwDone, qwTotal));
    p->bCancelled = !p->pCallbacks->pfnContinue(p->pCallbacks->pParam);
    return !p->bCancelled;
}

// Writes an installed pack archive again from its members and an archive
// delta, which names the archive it writes and checks it as it ends: that
// must be the one the sums record. The old archive is read member by
// member, never whole.
int ApplyArchive(UpdateEngine* pEngine, const PlanStep& step, const SumEntry& e, CFile* pDelta,
                 const EngineCallbacks* pCallbacks, PlatReplace* pReplace, int* pnSystem)
{
    BYTE abHeader[PACK_DELTA_HEADER_SIZE];
    PackDeltaHeader header;
    if (pDelta->Read(abHeader, sizeof(abHeader)) != sizeof(abHeader) ||
        !PackDeltaReadHeader(abHeader, sizeof(abHeader), &header) || header.qwNewSize != e.qwInstalledSize ||
        memcmp(header.abNewDigest, e.abInstalled, sizeof(e.abInstalled)) != 0 || !pDelta->Seek64(0, 0))
        return APPLY_DAMAGED;
    if (!EngineBeginReplace(pEngine, step.dest, pReplace, PLAT_REPLACE_READONLY)) {
        *pnSystem = PlatGetLastError();
        return APPLY_FAILED;
    }
    CFile clDest;
    clDest.Attach(pReplace->hFile);
    ResultSink sink = { &clDest, NULL, pCallbacks, 0, e.qwInstalledSize, 0, 0 };
    pCallbacks->pfnPercent(pCallbacks->pParam, 0);
    int bApplied = PackDeltaApply(step.dest.c_str(), ReadDelta, pDelta, &clDest, ContinueArchive, &sink);
    clDest.Detach();
    int nResult = sink.bCancelled ? APPLY_CANCELLED : bApplied ? APPLIED : APPLY_DAMAGED;
    if (nResult != APPLIED)
        PlatEndReplace(pReplace, 0);
    return nResult;
}

// Rebuilds one file from the installed one and its delta into a temporary
// file beside it, checked against the recorded hash; *pReplace stays open
// for the move. Memory: the installed file plus the codec's working set.
int ApplyOne(UpdateEngine* pEngine, const PlanStep& step, const EngineCallbacks* pCallbacks, PlatReplace* pReplace,
             int* pnSystem)
{
    const SumEntry& e = pEngine->sums[step.dwRecord];
    CFile clBase, clDelta;
    if (!clDelta.Open(step.source.c_str(), 0)) {
        *pnSystem = PlatGetLastError();
        return APPLY_FAILED;
    }
    if (e.dwKind == SUM_ARCHIVE_DELTA)
        return ApplyArchive(pEngine, step, e, &clDelta, pCallbacks, pReplace, pnSystem);
    if (!clBase.Open(step.dest.c_str(), 0)) {
        *pnSystem = PlatGetLastError();
        return APPLY_FAILED;
    }
    QWORD qwBase = clBase.GetSize64();
    if (qwBase != e.qwBaseSize || qwBase > (size_t)-1)
        return APPLY_DAMAGED;
    if (pEngine->nDeltaBase < qwBase || !pEngine->deltaBase) {
        pEngine->deltaBase.reset(new (std::nothrow) BYTE[(size_t)qwBase + 1]);
        pEngine->nDeltaBase = pEngine->deltaBase ? (size_t)qwBase : 0;
        if (!pEngine->deltaBase) {
            *pnSystem = PLAT_ERROR_NO_MEMORY;
            return APPLY_FAILED;
        }
    }
    BYTE* pBase = pEngine->deltaBase.get();
    if (!clBase.ReadExactly(pBase, qwBase)) {
        *pnSystem = PlatGetLastError();
        return APPLY_FAILED;
    }
    clBase.Close();
    PlatSha256 hash;
    if (!hash.Begin() || !EngineBeginReplace(pEngine, step.dest, pReplace, PLAT_REPLACE_READONLY)) {
        *pnSystem = PlatGetLastError();
        return APPLY_FAILED;
    }
    CFile clDest;
    clDest.Attach(pReplace->hFile);
    ResultSink sink = { &clDest, &hash, pCallbacks, 0, e.qwInstalledSize, 0, 0 };
    pCallbacks->pfnPercent(pCallbacks->pParam, 0);
    int bApplied = pEngine->delta.Apply(pBase, (size_t)qwBase, ReadDelta, &clDelta, WriteResult, &sink);
    clDest.Detach();
    BYTE abDigest[PLAT_SHA256_SIZE];
    int nResult = APPLIED;
    if (sink.bCancelled)
        nResult = APPLY_CANCELLED;
    else if (sink.nWriteError)
        nResult = APPLY_FAILED, *pnSystem = sink.nWriteError;
    else if (!bApplied || !hash.End(abDigest) || sink.qwDone != e.qwInstalledSize ||
             memcmp(abDigest, e.abInstalled, sizeof(abDigest)) != 0)
        nResult = APPLY_DAMAGED;
    if (nResult != APPLIED)
        PlatEndReplace(pReplace, 0);
    return nResult;
}

// The deltas' results written and not yet moved, by plan step; whatever
// is left when the copy ends is dropped.
class StagedResults {
public:
    ~StagedResults()
    {
        for (auto& staged : m_replaces)
            PlatEndReplace(&staged.second, 0);
    }
    PlatReplace* Add(size_t nStep) { return &m_replaces[nStep]; }
    void Forget(size_t nStep) { m_replaces.erase(nStep); }
    PlatReplace* Find(size_t nStep)
    {
        auto it = m_replaces.find(nStep);
        return it == m_replaces.end() ? NULL : &it->second;
    }

private:
    std::unordered_map<size_t, PlatReplace> m_replaces;
};

// Applies every delta of the plan; returns 1, or 0 with the problem added.
int StageDeltas(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks, StagedResults* pStaged)
{
    for (size_t i = 0; i < pEngine->plan.size(); i++) {
        const PlanStep& step = pEngine->plan[i];
        if (!step.bDelta || step.bDone)
            continue;
        const char* szPath = pEngine->context.pUpdateRecords[step.dwRecord].szPath;
        pCallbacks->pfnFile(pCallbacks->pParam, szPath);
        int nSystem = 0;
        PlatReplace* pReplace = pStaged->Add(i);
        int nResult = ApplyOne(pEngine, step, pCallbacks, pReplace, &nSystem);
        if (nResult == APPLIED)
            continue;
        pStaged->Forget(i);
        if (nResult == APPLY_CANCELLED)
            return EngineRefuse(pEngine, ENGINE_CANCELLED, step.dwRecord, "", 0, "cancelled");
        if (nResult == APPLY_DAMAGED)
            return EngineRefuse(pEngine, ENGINE_DAMAGED, step.dwRecord, szPath, 0,
                                "its delta does not rebuild the recorded file; nothing was changed");
        return EngineRefuse(pEngine, ENGINE_COPY, step.dwRecord, szPath, nSystem,
                            "its delta cannot be applied: " + std::string(PlatErrorText(nSystem)));
    }
    return 1;
}

} // namespace

int EngineCarryOut(UpdateEngine* pEngine, const EngineCallbacks* pCallbacks)
{
    pEngine->problems.clear();
    pEngine->dwCopied = 0;
    pEngine->block.resize(COPY_BLOCK_SIZE);
    UpdateContext* pContext = &pEngine->context;
    CreateDirectories(pEngine->installFolder.c_str());
    StagedResults staged;
    if (!StageDeltas(pEngine, pCallbacks, &staged))
        return 0;
    for (size_t nStep = 0; nStep < pEngine->plan.size(); nStep++) {
        const PlanStep& step = pEngine->plan[nStep];
        if (step.nKind == PLAN_REWRITE_LIST)
            continue;
        if (!pCallbacks->pfnContinue(pCallbacks->pParam))
            return EngineRefuse(pEngine, ENGINE_CANCELLED, step.dwRecord, "", 0, "cancelled");
        const FileRecord* pRecord = &pContext->pUpdateRecords[step.dwRecord];
        if (step.nKind == PLAN_FOLDER) {
            CreateDirectories(step.dest.c_str());
        } else if (PlatReplace* pReplace = staged.Find(nStep)) {
            pCallbacks->pfnFile(pCallbacks->pParam, pRecord->szPath);
            int bMoved = PlatEndReplace(pReplace, 1);
            int nSystem = PlatGetLastError();
            staged.Forget(nStep);
            if (!bMoved)
                return EngineRefuse(pEngine, ENGINE_COPY, step.dwRecord, pRecord->szPath, nSystem,
                                    "cannot be replaced: " + std::string(PlatErrorText(nSystem)));
            pCallbacks->pfnPercent(pCallbacks->pParam, 100);
        } else if (!step.bDone) {
            pCallbacks->pfnFile(pCallbacks->pParam, pRecord->szPath);
            int nSystem = 0, bCancelled = 0, bDamaged = 0;
            if (!CopyOne(pEngine, step, pCallbacks, &nSystem, &bCancelled, &bDamaged)) {
                if (bDamaged && !bCancelled)
                    return EngineRefuse(pEngine, ENGINE_DAMAGED, step.dwRecord, pRecord->szPath, 0,
                                        "its bytes as copied differ from the recorded hash; the installed file "
                                        "was left as it was");
                return EngineRefuse(pEngine, bCancelled ? ENGINE_CANCELLED : ENGINE_COPY, step.dwRecord,
                                    pRecord->szPath, bCancelled ? 0 : nSystem,
                                    bCancelled ? "cancelled" : "cannot be copied: " + std::string(PlatErrorText(nSystem)));
            }
        }
        MergeRecord(pContext, pRecord, &pEngine->index);
        pEngine->dwCopied++;
    }
    return 1;
}

int EngineRewriteList(UpdateEngine* pEngine)
{
    if (WriteUninstallInfo(&pEngine->context, pEngine->uninstallFile.c_str()))
        return 1;
    int nSystem = PlatGetLastError();
    return EngineRefuse(pEngine, ENGINE_REWRITE, ENGINE_NO_RECORD, pEngine->uninstallFile, nSystem,
                        "cannot be rewritten: " + std::string(PlatErrorText(nSystem)));
}

namespace {

void RemoveTemporaryFilesIn(const std::string& folder)
{
    PlatFindData fd;
    std::string pattern = folder + g_szTempPrefix + "*.tmp";
    HANDLE hFind = PlatFindFirst(pattern.c_str(), &fd);
    if (!hFind)
        return;
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !fd.bNoCp932Name && IsUpdaterTempName(fd.cFileName)) {
            std::string path = folder + fd.cFileName;
            // A copy made read-only would not go otherwise.
            PlatSetFileAttributes(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            PlatDeleteFile(path.c_str());
        }
    } while (PlatFindNext(hFind, &fd));
    PlatFindClose(hFind);
}

// Whether every level of a folder below the install folder is a real
// folder: a link (a junction on Windows) may lead anywhere, where names
// like a copy's are none of this run's business.
bool ReachedWithoutLinks(const UpdateEngine* pEngine, const std::string& folder)
{
    const std::string& root = pEngine->installFolder;
    for (size_t i = root.size(); i <= folder.size(); i++) {
        if (i < folder.size() && folder[i] != '/' && !IsSeparatorAt(folder.c_str(), (int)i))
            continue;
        if (i > root.size() && PlatIsLink(folder.substr(0, i).c_str()))
            return false;
    }
    return !PlatIsLink(root.substr(0, root.size() - 1).c_str());
}

} // namespace

void EngineRemoveLeftovers(UpdateEngine* pEngine)
{
    char lpszTemp[MAX_PATH];
    if (UninstallTempName(lpszTemp, pEngine->uninstallFile.c_str()))
        PlatDeleteFile(lpszTemp);
    std::unordered_set<std::string> done;
    const UpdateContext* pContext = &pEngine->context;
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        if (IsFolderRecord(&pContext->pUpdateRecords[i]))
            continue;
        std::string dest = pEngine->installFolder + pContext->pUpdateRecords[i].szPath;
        std::string folder = dest.substr(0, EngineLastSeparator(dest));
        if (!done.insert(RecordKey(folder.c_str())).second)
            continue;
        if (ReachedWithoutLinks(pEngine, folder))
            RemoveTemporaryFilesIn(folder + "\\");
    }
}
