// check: what update.exe would do with a patch and an installed game,
// worked out with the updater's own loaders, checks, merge and space
// count, and the file system only looked at.
#include "updatelist.h"

#include "file/cfile.h"
#include "file/path.h"
#include "messages.h"
#include "nativetext.h"
#include "platform/platform.h"
#include "updatespace.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include "system/shelldlg.h"

#include <windows.h>
#else
#include <sys/statvfs.h>
#endif

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

struct Plan {
    // Why update.exe would stop before asking, and what it would show.
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
    bool bSpace = false;
    QWORD qwSpace = 0;
    bool bFree = false;
    QWORD qwFree = 0;
    DWORD dwCluster = 0;
    std::vector<SourceProblem> sourceProblems;
    // The record (1-based) where the copy pass would stop; 0 when none.
    DWORD dwStopRecord = 0;
    std::string stopPath;
    std::string stopReason;
};

Counters CountersOf(const UninstallHeader& header)
{
    Counters c = { header.dwCount, header.dwFileCount, header.dwTotalSize };
    return c;
}

std::string Format(const char* lpszFormat, const char* lpszArg)
{
    char buf[512];
    snprintf(buf, sizeof(buf), lpszFormat, lpszArg);
    return buf;
}

bool IsFolder(const std::string& path)
{
    DWORD dw = PlatGetFileAttributes(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::string& path)
{
    DWORD dw = PlatGetFileAttributes(path.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && !(dw & FILE_ATTRIBUTE_DIRECTORY);
}

// The copy pass, acted out on the context's lists: folders and files are
// only looked at, the uninstall list is merged in memory as the updater
// merges it.
class Simulation {
public:
    Simulation(UpdateContext* pContext, const std::string& install, const std::string& source, Plan* pPlan)
        : m_pContext(pContext), m_install(install), m_source(source), m_pPlan(pPlan)
    {
    }

    void Run()
    {
        for (DWORD i = 0; i < m_pContext->update.dwCount; i++) {
            const FileRecord* pRecord = &m_pContext->pUpdateRecords[i];
            if (!IsFolderRecord(pRecord))
                CheckSource(pRecord);
            if (m_pPlan->dwStopRecord)
                continue;
            std::string reason = IsFolderRecord(pRecord) ? Folder(pRecord) : File(pRecord);
            if (!reason.empty()) {
                m_pPlan->dwStopRecord = i + 1;
                m_pPlan->stopPath = pRecord->szPath;
                m_pPlan->stopReason = reason;
                continue;
            }
            Merge(pRecord);
        }
    }

private:
    // CreateDirectories makes every missing level and fails silently when
    // a file is in the way; the record is merged either way.
    std::string Folder(const FileRecord* pRecord)
    {
        std::string dest = m_install + pRecord->szPath;
        dest.pop_back();
        if (!WillBeFolder(dest)) {
            bool bBlocked = false;
            for (size_t i = m_install.size(); i <= dest.size(); i++) {
                if (i == dest.size() || IsSeparatorAt(dest.c_str(), (int)i))
                    bBlocked = bBlocked || IsFile(dest.substr(0, i));
            }
            if (bBlocked) {
                m_pPlan->blockedFolders.push_back(pRecord->szPath);
            } else {
                m_pPlan->foldersToCreate.push_back(pRecord->szPath);
                m_created.push_back(dest);
            }
        }
        return std::string();
    }

    // The reason the copy would fail, or empty. The source is opened
    // first, then a temporary file is made in the destination's folder and
    // moved over the destination.
    std::string File(const FileRecord* pRecord)
    {
        std::string dest = m_install + pRecord->szPath;
        CFile clSource;
        if (!clSource.Open((m_source + pRecord->szPath).c_str(), 0))
            return "its source is missing from the data folder";
        char lpszFolder[MAX_PATH];
        CutFileName(lpszFolder, dest.c_str());
        if (!WillBeFolder(lpszFolder))
            return "its folder is not in the install folder and no folder record before it creates it";
        if (IsFolder(dest))
            return "a folder of that name is in the way";
        if (IsFile(dest)) {
            CFile clInstalled;
            Replaced r = { pRecord->szPath, pRecord->dwFileSize, 0 };
            if (clInstalled.Open(dest.c_str(), 0))
                r.qwInstalled = clInstalled.m_qwSize;
            m_pPlan->filesToReplace.push_back(r);
        } else {
            m_pPlan->filesToAdd.push_back(*pRecord);
        }
        return std::string();
    }

    void Merge(const FileRecord* pRecord)
    {
        const FileRecord* pListed = FindUninstallRecord(m_pContext, pRecord->szPath);
        if (!pListed) {
            m_pPlan->appended.push_back(*pRecord);
        } else if (!IsFolderRecord(pRecord)) {
            Changed c = { *pListed, *pListed };
            c.after.dwFileSize = pRecord->dwFileSize;
            c.after.dwExtra = pRecord->dwExtra;
            m_pPlan->changed.push_back(c);
        }
        MergeRecord(m_pContext, pRecord);
    }

    void CheckSource(const FileRecord* pRecord)
    {
        CFile clSource;
        SourceProblem p = { pRecord->szPath, true, 0, pRecord->dwFileSize };
        if (clSource.Open((m_source + pRecord->szPath).c_str(), 0)) {
            p.bMissing = false;
            p.qwSize = clSource.m_qwSize;
        }
        if (p.bMissing || p.qwSize != pRecord->dwFileSize)
            m_pPlan->sourceProblems.push_back(p);
    }

    // A folder exists now, or a folder record before makes it or a folder
    // below it. Names compare as the updater's do on Windows.
    bool WillBeFolder(const std::string& folder)
    {
        if (IsFolder(folder))
            return true;
        for (const std::string& created : m_created) {
            if (CompareNoCase(created.c_str(), folder.c_str()) == 0)
                return true;
            if (created.size() > folder.size() && IsSeparatorAt(created.c_str(), (int)folder.size()) &&
                CompareNoCase(created.substr(0, folder.size()).c_str(), folder.c_str()) == 0)
                return true;
        }
        return false;
    }

    UpdateContext* m_pContext;
    std::string m_install;
    std::string m_source;
    Plan* m_pPlan;
    std::vector<std::string> m_created;
};

// The bytes this user may still write on the volume holding the folder (a
// full library path), the number update.exe compares with the need, and
// the volume's cluster size, the unit the need is counted in. The
// library's seam has no such query.
bool GetVolumeSpace(const char* lpszFolder, QWORD* pqwFree, DWORD* pdwCluster)
{
#ifdef _WIN32
    ULARGE_INTEGER liCaller, liTotal, liFree;
    if (!GetDiskFreeSpaceExA(lpszFolder, &liCaller, &liTotal, &liFree) ||
        !GetDiskClusterBytes(lpszFolder, pdwCluster))
        return false;
    *pqwFree = liCaller.QuadPart;
    return true;
#else
    struct statvfs st;
    if (statvfs(NativePath(lpszFolder).c_str(), &st) != 0)
        return false;
    *pqwFree = (QWORD)st.f_bavail * st.f_frsize;
    *pdwCluster = (DWORD)st.f_frsize;
    return true;
#endif
}

void Refuse(Plan* pPlan, const std::string& reason, const std::string& message)
{
    pPlan->refusal = reason;
    pPlan->message = message;
}

// Follows update.exe's run up to the copy pass, then acts the pass out.
void MakePlan(UpdateContext* pContext, const char* lpszPatch, const char* lpszInstall, Plan* pPlan)
{
    std::string patch = lpszPatch, reason;
    if (patch.back() != '\\' || !IsSeparatorAt(patch.c_str(), (int)patch.size() - 1))
        patch += '\\';
    if (!LoadUpdateFile(pContext, (patch + g_szUpdateInfoName).c_str(), &reason))
        return Refuse(pPlan, std::string(g_szUpdateInfoName) + ": " + reason, g_szMsgCannotOpenUpdateInfo);
    std::string notInstalled = Format(g_szFmtNotInstalled, pContext->update.szTitle);

    std::string install = lpszInstall;
    if (install.back() != '\\' || !IsSeparatorAt(install.c_str(), (int)install.size() - 1))
        install += '\\';
    if (install.size() > MAX_INSTALL_DIRECTORY_LENGTH)
        return Refuse(pPlan, "the install folder is longer than 243 bytes", notInstalled);
    if (PlatGetFileAttributes((install + g_szEditionMarker).c_str()) != INVALID_FILE_ATTRIBUTES)
        return Refuse(pPlan, Format("the install folder holds %s, the mark of the edition this update is not for",
                                    g_szEditionMarker),
                      g_szMsgWrongEdition);
    if (!LoadUninstallFile(pContext, (install + g_szUninstallInfoName).c_str(), &reason))
        return Refuse(pPlan, std::string(g_szUninstallInfoName) + ": " + reason, notInstalled);
    pPlan->bCounters = true;
    pPlan->before = CountersOf(pContext->uninstall);
    pPlan->after = pPlan->before;

    std::string source = patch + g_szSourceFolderName + "\\";
    for (DWORD i = 0; i < pContext->update.dwCount; i++) {
        const char* szPath = pContext->pUpdateRecords[i].szPath;
        if (!RecordFitsBehind(install.c_str(), szPath) || !RecordFitsBehind(source.c_str(), szPath))
            return Refuse(pPlan,
                          Format("the path %s is too long to fit behind the install folder or the data folder",
                                 szPath),
                          g_szMsgCannotOpenUpdateInfo);
    }

    // update.exe asks first and then, before copying anything, refuses an
    // update that does not fit; when either number is unknown it goes on.
    pPlan->bFree = GetVolumeSpace(install.c_str(), &pPlan->qwFree, &pPlan->dwCluster);
    pPlan->bSpace = pPlan->bFree && GetUpdateSpaceNeeded(pContext, install.c_str(), source.c_str(),
                                                         pPlan->dwCluster, &pPlan->qwSpace) != 0;
    if (pPlan->bSpace && pPlan->qwFree < pPlan->qwSpace) {
        char buf[160];
        snprintf(buf, sizeof(buf), "%llu bytes needed, %llu free",
                 (unsigned long long)pPlan->qwSpace, (unsigned long long)pPlan->qwFree);
        char message[256];
        FormatNoSpaceMessage(message, sizeof(message), pPlan->qwSpace, pPlan->qwFree);
        return Refuse(pPlan, std::string("not enough free space on the install folder's volume after OK: ") + buf,
                      message);
    }
    Simulation(pContext, install, source, pPlan).Run();
    pPlan->after = CountersOf(pContext->uninstall);
}

bool WouldComplete(const Plan& plan)
{
    return plan.refusal.empty() && plan.dwStopRecord == 0;
}

// --- Output ------------------------------------------------------------------

void PrintText(const Plan& plan, const char* lpszPatchArg, const char* lpszInstallArg)
{
    printf("Patch:          %s\nInstall folder: %s\n", lpszPatchArg, lpszInstallArg);
    if (!plan.refusal.empty()) {
        printf("\nupdate.exe would refuse the update: %s\n", Shown(plan.refusal.c_str()).c_str());
        printf("The player would see: %s\n", Shown(plan.message.c_str()).c_str());
        return;
    }
    printf("\nFolders to create (%d):\n", (int)plan.foldersToCreate.size());
    for (const std::string& path : plan.foldersToCreate)
        printf("  %s\n", Shown(path.c_str()).c_str());
    printf("Files to add (%d):\n", (int)plan.filesToAdd.size());
    for (const FileRecord& r : plan.filesToAdd)
        printf("  %12lu  %s\n", (unsigned long)r.dwFileSize, Shown(r.szPath).c_str());
    printf("Files to replace (%d):\n", (int)plan.filesToReplace.size());
    for (const Replaced& r : plan.filesToReplace)
        printf("  %12lu  %s (installed: %llu bytes)\n", (unsigned long)r.dwSize, Shown(r.path.c_str()).c_str(),
               (unsigned long long)r.qwInstalled);
    printf("Uninstall entries to append (%d):\n", (int)plan.appended.size());
    for (const FileRecord& r : plan.appended)
        printf("  %12s  %s\n", IsFolderRecord(&r) ? "folder" : std::to_string(r.dwFileSize).c_str(),
               Shown(r.szPath).c_str());
    printf("Uninstall entries to change (%d):\n", (int)plan.changed.size());
    for (const Changed& c : plan.changed)
        printf("  %s: size %lu -> %lu, extra %lu -> %lu\n", Shown(c.before.szPath).c_str(),
               (unsigned long)c.before.dwFileSize, (unsigned long)c.after.dwFileSize, (unsigned long)c.before.dwExtra,
               (unsigned long)c.after.dwExtra);
    printf("Uninstall counters: records %lu -> %lu, files %lu -> %lu, total size %lu -> %lu\n",
           (unsigned long)plan.before.dwCount, (unsigned long)plan.after.dwCount,
           (unsigned long)plan.before.dwFileCount, (unsigned long)plan.after.dwFileCount,
           (unsigned long)plan.before.dwTotalSize, (unsigned long)plan.after.dwTotalSize);
    if (plan.bSpace) {
        printf("Free space needed: %llu bytes", (unsigned long long)plan.qwSpace);
        if (plan.bFree)
            printf(" (%llu free)", (unsigned long long)plan.qwFree);
        printf("\n");
    } else
        printf("Free space needed: cannot be worked out (the volume cannot be asked, or a path is too long)\n");
    for (const std::string& path : plan.blockedFolders)
        printf("Problem: a file is in the way of the folder %s\n", Shown(path.c_str()).c_str());
    for (const SourceProblem& p : plan.sourceProblems) {
        if (p.bMissing)
            printf("Problem: %s\\%s is missing\n", g_szSourceFolderName, Shown(p.path.c_str()).c_str());
        else
            printf("Problem: %s\\%s has %llu bytes, its record says %lu\n", g_szSourceFolderName,
                   Shown(p.path.c_str()).c_str(), (unsigned long long)p.qwSize, (unsigned long)p.dwRecordSize);
    }
    if (plan.dwStopRecord) {
        printf("\nThe update would fail at record %lu (%s): %s. What comes before it stays installed and listed.\n",
               (unsigned long)plan.dwStopRecord, Shown(plan.stopPath.c_str()).c_str(), plan.stopReason.c_str());
        printf("The player would see: %s\n", Shown(g_szMsgFailed).c_str());
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

void PrintJson(const Plan& plan)
{
    printf("{\n");
    if (plan.refusal.empty())
        printf("  \"refused\": null,\n");
    else
        printf("  \"refused\": {\"reason\": %s, \"message\": %s},\n", Json(plan.refusal.c_str()).c_str(),
               Json(plan.message.c_str()).c_str());
    PrintListJson("folders_to_create", plan.foldersToCreate,
                  [](const std::string& p) { printf("%s", Json(p.c_str()).c_str()); });
    PrintListJson("blocked_folders", plan.blockedFolders,
                  [](const std::string& p) { printf("%s", Json(p.c_str()).c_str()); });
    PrintListJson("files_to_add", plan.filesToAdd, [](const FileRecord& r) {
        printf("{\"path\": %s, \"size\": %lu}", Json(r.szPath).c_str(), (unsigned long)r.dwFileSize);
    });
    PrintListJson("files_to_replace", plan.filesToReplace, [](const Replaced& r) {
        printf("{\"path\": %s, \"size\": %lu, \"installed_size\": %llu}", Json(r.path.c_str()).c_str(),
               (unsigned long)r.dwSize, (unsigned long long)r.qwInstalled);
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
    if (plan.bFree)
        printf("  \"free_space\": %llu,\n  \"cluster_size\": %lu,\n", (unsigned long long)plan.qwFree,
               (unsigned long)plan.dwCluster);
    else
        printf("  \"free_space\": null,\n  \"cluster_size\": null,\n");
    if (plan.bSpace)
        printf("  \"space_needed\": %llu,\n", (unsigned long long)plan.qwSpace);
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
    if (plan.dwStopRecord)
        printf("  \"stops_at\": {\"record\": %lu, \"path\": %s, \"reason\": %s},\n", (unsigned long)plan.dwStopRecord,
               Json(plan.stopPath.c_str()).c_str(), Json(plan.stopReason.c_str()).c_str());
    else
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
    if (!NativeNamesAreCp932())
        return Fail("file names reach this program in another code page than 932 (Japanese); set Windows' "
                    "language for non-Unicode programs to Japanese, or run the Linux build");
    char lpszPatchFull[MAX_PATH], lpszInstallFull[MAX_PATH];
    if (!LibraryPath(args[0], lpszPatchFull) || !LibraryPath(args[1], lpszInstallFull))
        return 1;
    if (!IsFolder(lpszPatchFull))
        return Fail(std::string("no such folder: ") + args[0] + " (name the folder that holds Updateinf.dat)");
    if (!IsFolder(lpszInstallFull))
        return Fail(std::string("no such folder: ") + args[1]);

    UpdateContext context;
    InitContext(&context);
    Plan plan;
    MakePlan(&context, lpszPatchFull, lpszInstallFull, &plan);
    if (bJson)
        PrintJson(plan);
    else
        PrintText(plan, args[0], args[1]);
    FreeContext(&context);
    return WouldComplete(plan) && plan.sourceProblems.empty() && plan.blockedFolders.empty() ? 0 : 1;
}
