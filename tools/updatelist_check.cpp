// check: what update.exe would do with a patch and an installed game,
// worked out with the updater's own loaders, checks, merge and space
// count, and the file system only looked at.
#include "updatelist.h"

#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "nativetext.h"
#include "platform/platform.h"
#include "engine/engine.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

struct Counters {
    DWORD dwCount;
    DWORD dwFileCount;
    DWORD dwTotalSize;
};

struct Replaced {
    std::string path;
    DWORD dwSize;
    QWORD qwInstalled;
    // Rebuilt from the installed file: the delta's name below the data
    // folder and its size; bDone when the installed file is the result.
    std::string delta;
    QWORD qwDelta;
    bool bDone;
    bool bArchive;
};

struct Changed {
    FileRecord before;
    FileRecord after;
};

struct SourceProblem {
    std::string path;
    bool bMissing;
    QWORD qwSize;
    DWORD dwRecordSize;
};

// What the engine planned and found, in the terms the report uses.
struct Plan {
    // Why update.exe would stop before copying, and what it would show.
    std::string refusal;
    std::string message;
    std::vector<std::string> foldersToCreate;
    std::vector<std::string> blockedFolders;
    std::vector<FileRecord> filesToAdd;
    std::vector<Replaced> filesToReplace;
    std::vector<FileRecord> appended;
    std::vector<Changed> changed;
    bool bCounters = false;
    Counters before = {};
    Counters after = {};
    // The install folder's volume.
    const VolumeNeed* pVolume = NULL;
    std::vector<SourceProblem> sourceProblems;
    // The sources were hashed against Updateinf.sum.
    bool bHashed = false;
    DWORD dwDeltas = 0;
};

Counters CountersOf(const UninstallHeader& header)
{
    Counters c = { header.dwCount, header.dwFileCount, header.dwTotalSize };
    return c;
}

bool IsFolder(const std::string& path)
{
    DWORD dw = PlatGetFileAttributes(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

const char* const s_apszCheckNames[] = { "update_info", "wrong_edition", "not_installed", "too_deep",
                                         "damaged",     "base_differs", "source",      "path_type",     "cannot_write",  "no_space",
                                         "in_use",      "copy",          "cancelled",     "rewrite" };

int ContinueAlways(void*)
{
    return 1;
}

void NoFile(void*, const char*) {}
void NoPercent(void*, DWORD) {}

// The merge the copy pass would make, on the engine's lists in memory.
void Merge(UpdateEngine* pEngine, Plan* pPlan)
{
    UpdateContext* pContext = &pEngine->context;
    for (const PlanStep& step : pEngine->plan) {
        if (step.nKind == PLAN_REWRITE_LIST)
            continue;
        const FileRecord* pRecord = &pContext->pUpdateRecords[step.dwRecord];
        const FileRecord* pListed = FindUninstallRecord(pContext, pRecord->szPath, &pEngine->index);
        if (!pListed) {
            pPlan->appended.push_back(*pRecord);
        } else if (!IsFolderRecord(pRecord)) {
            Changed c = { *pListed, *pListed };
            c.after.dwFileSize = pRecord->dwFileSize;
            c.after.dwExtra = pRecord->dwExtra;
            pPlan->changed.push_back(c);
        }
        MergeRecord(pContext, pRecord, &pEngine->index);
    }
}

void Describe(UpdateEngine* pEngine, Plan* pPlan)
{
    const UpdateContext* pContext = &pEngine->context;
    for (const PlanStep& step : pEngine->plan) {
        if (step.nKind == PLAN_REWRITE_LIST)
            continue;
        const FileRecord* pRecord = &pContext->pUpdateRecords[step.dwRecord];
        if (step.nKind == PLAN_FOLDER) {
            if (!step.bExists)
                pPlan->foldersToCreate.push_back(pRecord->szPath);
            continue;
        }
        const SumEntry* pSum = step.bDelta ? &pEngine->sums[step.dwRecord] : NULL;
        if (step.bExists) {
            Replaced r = { pRecord->szPath, pRecord->dwFileSize, step.qwReplaced, pSum ? pSum->szSource : "",
                           pSum ? pSum->qwSourceSize : 0, step.bDone != 0,
                           pSum && pSum->dwKind == SUM_ARCHIVE_DELTA };
            pPlan->filesToReplace.push_back(r);
        } else {
            pPlan->filesToAdd.push_back(*pRecord);
        }
        pPlan->dwDeltas += pSum != NULL;
        // A delta's size is the one its sum entry records.
        QWORD qwExpected = pSum ? pSum->qwSourceSize : pRecord->dwFileSize;
        if (!step.bSourceReadable || step.qwSize != qwExpected) {
            SourceProblem p = { pSum ? pSum->szSource : pRecord->szPath, !step.bSourceReadable, step.qwSize,
                                (DWORD)qwExpected };
            pPlan->sourceProblems.push_back(p);
        }
    }
    for (const EngineProblem& problem : pEngine->problems)
        if (problem.nCheck == ENGINE_PATH_TYPE && problem.dwRecord != ENGINE_NO_RECORD &&
            IsFolderRecord(&pContext->pUpdateRecords[problem.dwRecord])) {
            // A folder a file stands in the way of is neither made nor listed.
            pPlan->blockedFolders.push_back(problem.path);
            std::vector<std::string>& made = pPlan->foldersToCreate;
            made.erase(std::remove(made.begin(), made.end(), problem.path), made.end());
        }
    // The plan asks the install folder's volume first.
    if (!pEngine->volumes.empty())
        pPlan->pVolume = &pEngine->volumes.front();
}

// Runs the engine as update.exe would, up to the copy, and reports it.
void MakePlan(UpdateEngine* pEngine, const char* lpszPatch, const char* lpszInstall, Plan* pPlan)
{
    EngineCallbacks callbacks = { NoFile, NoPercent, ContinueAlways, NULL };
    bool bLoaded = EngineLoadUpdate(pEngine, lpszPatch) && EngineLoadInstalled(pEngine, lpszInstall);
    if (bLoaded) {
        pPlan->bCounters = true;
        pPlan->before = CountersOf(pEngine->context.uninstall);
        EnginePlan(pEngine, &callbacks);
        EngineCheck(pEngine, &callbacks);
        pPlan->bHashed = !pEngine->sums.empty();
        Describe(pEngine, pPlan);
        Merge(pEngine, pPlan);
        pPlan->after = CountersOf(pEngine->context.uninstall);
    }
    if (pEngine->problems.empty())
        return;
    const EngineProblem& first = pEngine->problems.front();
    char message[1024];
    EngineMessage(pEngine, &first, EngineCountLike(pEngine, &first) - 1, message, sizeof(message));
    pPlan->message = message;
    switch (first.nCheck) {
    case ENGINE_UPDATE_INFO: {
        // Either list: the name the path ends in.
        const char* lpszFile = first.path.size() >= strlen(g_szUpdateSumName) &&
                                       first.path.compare(first.path.size() - strlen(g_szUpdateSumName),
                                                          std::string::npos, g_szUpdateSumName) == 0
                                   ? g_szUpdateSumName
                                   : g_szUpdateInfoName;
        pPlan->refusal =
            (first.dwRecord == ENGINE_NO_RECORD ? std::string(lpszFile) + ": " : std::string()) + first.detail;
        if (first.dwRecord != ENGINE_NO_RECORD)
            pPlan->refusal = "the path " + first.path + " is too long to fit behind the data folder";
        break;
    }
    case ENGINE_NOT_INSTALLED:
        pPlan->refusal = first.path == pEngine->uninstallFile ? std::string(g_szUninstallInfoName) + ": " + first.detail
                                                               : first.detail;
        break;
    case ENGINE_WRONG_EDITION:
    case ENGINE_TOO_DEEP:
        pPlan->refusal = first.detail;
        break;
    case ENGINE_NO_SPACE:
        pPlan->refusal = "after OK, before copying: " + first.detail;
        break;
    case ENGINE_IN_USE:
        pPlan->refusal = "after OK, before copying: installed files are in use by another program, the first " +
                         first.path + " (update.exe asks to close it and retry)";
        break;
    default:
        pPlan->refusal = "after OK, before copying: " + first.path + " " + first.detail;
        break;
    }
}

bool WouldComplete(const Plan& plan)
{
    return plan.refusal.empty();
}

// --- Output ------------------------------------------------------------------

void PrintText(const UpdateEngine& engine, const Plan& plan, const char* lpszPatchArg, const char* lpszInstallArg)
{
    printf("Patch:          %s\nInstall folder: %s\n", ShownNative(lpszPatchArg).c_str(), ShownNative(lpszInstallArg).c_str());
    if (plan.bCounters) {
        printf("\nFolders to create (%d):\n", (int)plan.foldersToCreate.size());
        for (const std::string& path : plan.foldersToCreate)
            printf("  %s\n", Shown(path.c_str()).c_str());
        printf("Files to add (%d):\n", (int)plan.filesToAdd.size());
        for (const FileRecord& r : plan.filesToAdd)
            printf("  %12lu  %s\n", (unsigned long)r.dwFileSize, Shown(r.szPath).c_str());
        printf("Files to replace (%d):\n", (int)plan.filesToReplace.size());
        for (const Replaced& r : plan.filesToReplace) {
            printf("  %12lu  %s (installed: %llu bytes", (unsigned long)r.dwSize, Shown(r.path.c_str()).c_str(),
                   (unsigned long long)r.qwInstalled);
            if (r.bDone)
                printf("; it is the new file already: only listed");
            else if (!r.delta.empty())
                printf("; rebuilt from it with the %sdelta %s\\%s of %llu bytes", r.bArchive ? "archive " : "",
                       g_szSourceFolderName, Shown(r.delta.c_str()).c_str(), (unsigned long long)r.qwDelta);
            printf(")\n");
        }
        printf("Uninstall entries to append (%d):\n", (int)plan.appended.size());
        for (const FileRecord& r : plan.appended)
            printf("  %12s  %s\n", IsFolderRecord(&r) ? "folder" : std::to_string(r.dwFileSize).c_str(),
                   Shown(r.szPath).c_str());
        printf("Uninstall entries to change (%d):\n", (int)plan.changed.size());
        for (const Changed& c : plan.changed)
            printf("  %s: size %lu -> %lu, extra %lu -> %lu\n", Shown(c.before.szPath).c_str(),
                   (unsigned long)c.before.dwFileSize, (unsigned long)c.after.dwFileSize,
                   (unsigned long)c.before.dwExtra, (unsigned long)c.after.dwExtra);
        printf("Uninstall counters: records %lu -> %lu, files %lu -> %lu, total size %lu -> %lu\n",
               (unsigned long)plan.before.dwCount, (unsigned long)plan.after.dwCount,
               (unsigned long)plan.before.dwFileCount, (unsigned long)plan.after.dwFileCount,
               (unsigned long)plan.before.dwTotalSize, (unsigned long)plan.after.dwTotalSize);
        for (const VolumeNeed& v : engine.volumes) {
            printf("Free space needed on the volume of %s: %llu bytes", Shown(v.folder.c_str()).c_str(),
                   (unsigned long long)v.qwNeeded);
            if (v.bKnown)
                printf(" (%llu free)\n", (unsigned long long)v.qwFree);
            else
                printf(" (the volume cannot be asked)\n");
        }
        for (const SourceProblem& p : plan.sourceProblems) {
            if (p.bMissing)
                printf("Problem: %s\\%s is missing\n", g_szSourceFolderName, Shown(p.path.c_str()).c_str());
            else
                printf("Problem: %s\\%s has %llu bytes, its record says %lu\n", g_szSourceFolderName,
                       Shown(p.path.c_str()).c_str(), (unsigned long long)p.qwSize, (unsigned long)p.dwRecordSize);
        }
    }
    if (plan.bCounters)
        printf(plan.bHashed ? "Hashes: every source was checked against %s.\n"
                            : "Hashes: none checked (the patch has no %s).\n",
               g_szUpdateSumName);
    if (plan.dwDeltas)
        printf("Deltas: %lu files are rebuilt from the installed ones, each checked to be the release the patch was "
               "made against.\n",
               (unsigned long)plan.dwDeltas);
    for (const EngineProblem& p : engine.problems)
        printf("Refusal (%s): %s: %s\n", s_apszCheckNames[p.nCheck], Shown(p.path.c_str()).c_str(),
               Shown(p.detail.c_str()).c_str());
    if (!plan.refusal.empty()) {
        printf("\nupdate.exe would refuse the update: %s\n", Shown(plan.refusal.c_str()).c_str());
        printf("The player would see: %s\n", Shown(plan.message.c_str()).c_str());
    } else {
        printf("\nThe update would complete.\n");
    }
}

void PrintCountersJson(const char* lpszName, const Plan& plan, const Counters& c)
{
    if (!plan.bCounters) {
        printf("  \"%s\": null,\n", lpszName);
        return;
    }
    printf("  \"%s\": {\"count\": %lu, \"file_count\": %lu, \"total_size\": %lu},\n", lpszName,
           (unsigned long)c.dwCount, (unsigned long)c.dwFileCount, (unsigned long)c.dwTotalSize);
}

template <class T, class F> void PrintListJson(const char* lpszName, const std::vector<T>& items, F print)
{
    printf("  \"%s\": [", lpszName);
    for (size_t i = 0; i < items.size(); i++) {
        printf("%s\n    ", i ? "," : "");
        print(items[i]);
    }
    printf("%s],\n", items.empty() ? "" : "\n  ");
}

void PrintJson(const UpdateEngine& engine, const Plan& plan)
{
    printf("{\n");
    if (plan.refusal.empty())
        printf("  \"refused\": null,\n");
    else
        printf("  \"refused\": {\"reason\": %s, \"message\": %s},\n", Json(plan.refusal.c_str()).c_str(),
               Json(plan.message.c_str()).c_str());
    PrintListJson("problems", engine.problems, [](const EngineProblem& p) {
        printf("{\"check\": \"%s\", \"record\": ", s_apszCheckNames[p.nCheck]);
        if (p.dwRecord == ENGINE_NO_RECORD)
            printf("null");
        else
            printf("%lu", (unsigned long)p.dwRecord + 1);
        printf(", \"path\": %s, \"reason\": %s}", Json(p.path.c_str()).c_str(), Json(p.detail.c_str()).c_str());
    });
    PrintListJson("folders_to_create", plan.foldersToCreate,
                  [](const std::string& p) { printf("%s", Json(p.c_str()).c_str()); });
    PrintListJson("blocked_folders", plan.blockedFolders,
                  [](const std::string& p) { printf("%s", Json(p.c_str()).c_str()); });
    PrintListJson("files_to_add", plan.filesToAdd, [](const FileRecord& r) {
        printf("{\"path\": %s, \"size\": %lu}", Json(r.szPath).c_str(), (unsigned long)r.dwFileSize);
    });
    PrintListJson("files_to_replace", plan.filesToReplace, [](const Replaced& r) {
        printf("{\"path\": %s, \"size\": %lu, \"installed_size\": %llu, \"delta\": ", Json(r.path.c_str()).c_str(),
               (unsigned long)r.dwSize, (unsigned long long)r.qwInstalled);
        if (r.delta.empty())
            printf("null}");
        else
            printf("{\"source\": %s, \"size\": %llu, \"archive\": %s, \"result_installed\": %s}",
                   Json(r.delta.c_str()).c_str(), (unsigned long long)r.qwDelta, r.bArchive ? "true" : "false",
                   r.bDone ? "true" : "false");
    });
    PrintListJson("appended", plan.appended, [](const FileRecord& r) {
        printf("{\"path\": %s, \"folder\": %s, \"size\": %lu, \"extra\": %lu}", Json(r.szPath).c_str(),
               IsFolderRecord(&r) ? "true" : "false", (unsigned long)r.dwFileSize, (unsigned long)r.dwExtra);
    });
    PrintListJson("changed", plan.changed, [](const Changed& c) {
        printf("{\"path\": %s, \"size_before\": %lu, \"size\": %lu, \"extra_before\": %lu, \"extra\": %lu}",
               Json(c.before.szPath).c_str(), (unsigned long)c.before.dwFileSize, (unsigned long)c.after.dwFileSize,
               (unsigned long)c.before.dwExtra, (unsigned long)c.after.dwExtra);
    });
    PrintCountersJson("counters_before", plan, plan.before);
    PrintCountersJson("counters_after", plan, plan.after);
    PrintListJson("volumes", engine.volumes, [](const VolumeNeed& v) {
        printf("{\"folder\": %s, \"space_needed\": %llu, ", Json(v.folder.c_str()).c_str(),
               (unsigned long long)v.qwNeeded);
        if (v.bKnown)
            printf("\"free_space\": %llu, \"cluster_size\": %lu}", (unsigned long long)v.qwFree,
                   (unsigned long)v.dwCluster);
        else
            printf("\"free_space\": null, \"cluster_size\": null}");
    });
    // The install folder's volume, as before volumes were told apart.
    const VolumeNeed* v = plan.pVolume;
    if (v && v->bKnown)
        printf("  \"free_space\": %llu,\n  \"cluster_size\": %lu,\n", (unsigned long long)v->qwFree,
               (unsigned long)v->dwCluster);
    else
        printf("  \"free_space\": null,\n  \"cluster_size\": null,\n");
    if (v)
        printf("  \"space_needed\": %llu,\n", (unsigned long long)v->qwNeeded);
    else
        printf("  \"space_needed\": null,\n");
    PrintListJson("source_problems", plan.sourceProblems, [](const SourceProblem& p) {
        if (p.bMissing)
            printf("{\"path\": %s, \"problem\": \"missing\", \"record_size\": %lu}", Json(p.path.c_str()).c_str(),
                   (unsigned long)p.dwRecordSize);
        else
            printf("{\"path\": %s, \"problem\": \"size\", \"size\": %llu, \"record_size\": %lu}",
                   Json(p.path.c_str()).c_str(), (unsigned long long)p.qwSize, (unsigned long)p.dwRecordSize);
    });
    printf("  \"hashes_checked\": %s,\n", plan.bHashed ? "true" : "false");
    // Each delta's base is hashed with the sources; one that differs is a
    // problem of its own.
    printf("  \"delta_records\": %lu,\n", (unsigned long)plan.dwDeltas);
    // Every stop the copy could make is now found before it begins.
    printf("  \"stops_at\": null,\n");
    printf("  \"would_complete\": %s\n}\n", WouldComplete(plan) ? "true" : "false");
}

} // namespace

int CheckCommand(int argc, char** argv)
{
    CliArgs cli;
    std::string error = ParseCli(argc, argv, { { "--json", NULL, false } }, &cli);
    if (!error.empty())
        return Usage(error, "check");
    bool bJson = cli.Has("--json");
    const std::vector<const char*>& args = cli.operands;
    if (args.size() != 2)
        return Usage("check needs the patch folder (with Updateinf.dat and data) and the install folder", "check");
    char lpszPatchFull[MAX_PATH], lpszInstallFull[MAX_PATH];
    if (!LibraryPath(args[0], lpszPatchFull) || !LibraryPath(args[1], lpszInstallFull))
        return 1;
    if (!IsFolder(lpszPatchFull))
        return Fail("no such folder: " + ShownNative(args[0]) + " (name the folder that holds Updateinf.dat)");
    if (!IsFolder(lpszInstallFull))
        return Fail("no such folder: " + ShownNative(args[1]));

    UpdateEngine engine;
    Plan plan;
    MakePlan(&engine, lpszPatchFull, lpszInstallFull, &plan);
    if (bJson)
        PrintJson(engine, plan);
    else
        PrintText(engine, plan, args[0], args[1]);
    return WouldComplete(plan) && plan.sourceProblems.empty() ? 0 : 1;
}
