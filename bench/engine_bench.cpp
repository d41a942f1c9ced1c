// The update engine at scale: everything update.exe and `updatelist check`
// decide before the copy (EngineLoadUpdate, EngineLoadInstalled,
// EnginePlan, EngineCheck) on patches of 1,000 to 100,000 files, and the
// copy pass's merge of the whole list into the uninstall list in memory
// (MergeRecord with the engine's index) on its own. The goal is 100,000
// files planned and checked within 2 s.
//
// Each size is laid out once, on first use, in a scratch folder under the
// current folder (engine_bench_work, removed at the end): a patch of
// files of a few bytes, 250 to a folder, and an install folder that holds
// every other one of them already, listed with the folders in its
// Uninstallinf.dat. Run it from a folder on a disk: on tmpfs the file
// system calls cost less than on the disks players have. The tree is in
// the page cache when the timing starts, as on a second look.
//
// usage: engine_bench [Google Benchmark flags]   (or PROGRAM=engine_bench
//        sh bench/run-bench.sh, from the source tree, which lies on a disk)
#include "harness.h"

#include "engine/engine.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "messages.h"
#include "platform/platform.h"

#include <chrono>
#include <map>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char WORK[] = "engine_bench_work";
const int SIZES[] = { 1000, 10000, 100000 };
const int FILES_PER_FOLDER = 250;
const double GOAL_MS = 2000;

struct Layout {
    // Library paths ending in a separator.
    std::string patch, install;
    int nFolders;
};

// Folders named in code page 932 as a game's often are ("データ" and a
// number), so the name conversions of every call are paid as in a game.
std::string FolderRecord(int nFolder)
{
    char szName[32];
    snprintf(szName, sizeof(szName), "\x83\x66\x81\x5B\x83\x5E%03d\\", nFolder);
    return szName;
}

bool PutFile(const std::string& path, DWORD dwSize)
{
    static const char DATA[] = "0123456789abcdef";
    CFile clFile;
    return clFile.Open(path.c_str(), 1) && clFile.Write(DATA, dwSize) == dwSize;
}

FileRecord MakeRecord(const std::string& path, DWORD dwSize)
{
    FileRecord record;
    memset(&record, 0, sizeof(record));
    snprintf(record.szPath, sizeof(record.szPath), "%s", path.c_str());
    record.dwFileSize = dwSize;
    return record;
}

bool WriteUpdateList(const std::string& path, const std::vector<FileRecord>& records)
{
    UpdateHeader header;
    memset(&header, 0, sizeof(header));
    snprintf(header.szTitle, sizeof(header.szTitle), "BENCH");
    snprintf(header.szRegKey, sizeof(header.szRegKey), "Software\\GamepatchEngineBench");
    snprintf(header.szRegValue, sizeof(header.szRegValue), "InstallDir");
    header.dwCount = (DWORD)records.size();
    DWORD dwRecords = (DWORD)(records.size() * sizeof(FileRecord));
    CFile clFile;
    return clFile.Open(path.c_str(), 1) && clFile.Write(&header, sizeof(header)) == sizeof(header) &&
           clFile.Write(records.data(), dwRecords) == dwRecords;
}

// The uninstall list through the updater's own writer.
bool WriteInstalledList(const std::string& path, const std::vector<FileRecord>& records)
{
    UpdateContext context;
    InitContext(&context);
    context.pUninstallRecords = new FileRecord[records.size() + 1];
    context.dwUninstallCapacity = (DWORD)records.size() + 1;
    for (const FileRecord& record : records) {
        context.pUninstallRecords[context.uninstall.dwCount++] = record;
        if (!IsFolderRecord(&record)) {
            context.uninstall.dwFileCount++;
            context.uninstall.dwTotalSize += record.dwFileSize;
        }
    }
    int bOk = WriteUninstallInfo(&context, path.c_str());
    FreeContext(&context);
    return bOk != 0;
}

bool LayOut(int nFiles, Layout* pLayout)
{
    std::string root = std::string(WORK) + "\\" + std::to_string(nFiles) + "\\";
    pLayout->patch = root + "pkg\\";
    pLayout->install = root + "Game\\";
    pLayout->nFolders = 0;
    std::string data = pLayout->patch + g_szSourceFolderName + "\\";
    std::vector<FileRecord> update, installed;
    std::string folder;
    for (int i = 0; i < nFiles; i++) {
        if (i % FILES_PER_FOLDER == 0) {
            folder = FolderRecord(pLayout->nFolders++);
            CreateDirectories((data + folder).c_str());
            CreateDirectories((pLayout->install + folder).c_str());
            update.push_back(MakeRecord(folder, 0));
            installed.push_back(update.back());
        }
        char szName[32];
        snprintf(szName, sizeof(szName), "f%06d.dat", i);
        DWORD dwSize = 1 + i % 16;
        update.push_back(MakeRecord(folder + szName, dwSize));
        if (!PutFile(data + folder + szName, dwSize))
            return false;
        if (i % 2 == 0) {
            // Installed by an earlier patch, a byte shorter.
            installed.push_back(MakeRecord(folder + szName, dwSize - 1));
            if (!PutFile(pLayout->install + folder + szName, dwSize - 1))
                return false;
        }
    }
    return WriteUpdateList(pLayout->patch + g_szUpdateInfoName, update) &&
           WriteInstalledList(pLayout->install + g_szUninstallInfoName, installed);
}

// The layout of a size, made on first use and kept for every repetition.
const Layout* LaidOut(int nFiles)
{
    static std::map<int, Layout> s_layouts;
    auto found = s_layouts.find(nFiles);
    if (found != s_layouts.end())
        return &found->second;
    Layout layout;
    fprintf(stderr, "laying out %d files ...", nFiles);
    if (!LayOut(nFiles, &layout)) {
        fprintf(stderr, " failed\n");
        return NULL;
    }
    fprintf(stderr, " done\n");
    return &(s_layouts[nFiles] = layout);
}

int ContinueAlways(void*)
{
    return 1;
}
void NoFile(void*, const char*) {}
void NoPercent(void*, DWORD) {}

const EngineCallbacks CALLBACKS = { NoFile, NoPercent, ContinueAlways, NULL };

// Loads both lists, as update.exe does after finding the install folder.
bool Load(UpdateEngine* pEngine, const Layout& layout)
{
    return EngineLoadUpdate(pEngine, layout.patch.c_str()) && EngineLoadInstalled(pEngine, layout.install.c_str());
}

std::string FirstProblem(const UpdateEngine& engine)
{
    return engine.problems.empty() ? std::string("failed") : engine.problems.front().path + ": " + engine.problems.front().detail;
}

double MsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void BenchPlanCheck(benchmark::State& state, int nFiles)
{
    const Layout* pLayout = LaidOut(nFiles);
    if (!pLayout) {
        state.SkipWithError("cannot lay out the patch and the install folder");
        return;
    }
    double dLoad = 0, dPlan = 0, dCheck = 0;
    size_t nReplaced = 0, nSteps = 0;
    for (auto _ : state) {
        UpdateEngine engine;
        auto t0 = std::chrono::steady_clock::now();
        bool bLoaded = Load(&engine, *pLayout);
        dLoad += MsSince(t0);
        t0 = std::chrono::steady_clock::now();
        bool bPlanned = bLoaded && EnginePlan(&engine);
        dPlan += MsSince(t0);
        t0 = std::chrono::steady_clock::now();
        bool bChecked = bPlanned && EngineCheck(&engine, &CALLBACKS);
        dCheck += MsSince(t0);
        if (!bChecked) {
            state.SkipWithError(FirstProblem(engine).c_str());
            return;
        }
        nSteps = engine.plan.size();
        nReplaced = 0;
        for (const PlanStep& step : engine.plan)
            nReplaced += step.nKind == PLAN_FILE && step.bExists;
    }
    // A plan that missed the installed files would only look fast.
    if (nSteps != (size_t)(nFiles + pLayout->nFolders + 1) || nReplaced != (size_t)(nFiles + 1) / 2) {
        state.SkipWithError("the plan does not see the layout");
        return;
    }
    double dIterations = (double)state.iterations();
    state.counters["load_ms"] = dLoad / dIterations;
    state.counters["plan_ms"] = dPlan / dIterations;
    state.counters["check_ms"] = dCheck / dIterations;
    state.counters["files_per_s"] = benchmark::Counter((double)nFiles * dIterations, benchmark::Counter::kIsRate);
}

// The merge the copy pass makes after each record, over the whole list;
// the lists are put back between iterations, untimed.
void BenchMerge(benchmark::State& state, int nFiles)
{
    const Layout* pLayout = LaidOut(nFiles);
    UpdateEngine engine;
    if (!pLayout || !Load(&engine, *pLayout)) {
        state.SkipWithError("cannot load the lists");
        return;
    }
    UpdateContext* pContext = &engine.context;
    const UninstallHeader header = pContext->uninstall;
    const std::vector<FileRecord> listed(pContext->pUninstallRecords,
                                         pContext->pUninstallRecords + pContext->uninstall.dwCount);
    const UninstallIndex index = engine.index;
    DWORD dwMerged = 0;
    for (auto _ : state) {
        for (DWORD i = 0; i < pContext->update.dwCount; i++)
            MergeRecord(pContext, &pContext->pUpdateRecords[i], &engine.index);
        state.PauseTiming();
        dwMerged = pContext->uninstall.dwCount;
        pContext->uninstall = header;
        memcpy(pContext->pUninstallRecords, listed.data(), listed.size() * sizeof(FileRecord));
        engine.index = index;
        state.ResumeTiming();
    }
    // Every folder and file listed once: the installed half was found.
    if (dwMerged != pContext->update.dwCount) {
        state.SkipWithError("the merge did not find the listed entries");
        return;
    }
    state.counters["records_per_s"] =
        benchmark::Counter((double)pContext->update.dwCount * state.iterations(), benchmark::Counter::kIsRate);
}

double Counter(const ResultCollector& results, const std::string& name, const char* lpszCounter)
{
    const auto* pRun = results.Find(name);
    return pRun ? ResultCollector::CounterValue(*pRun, lpszCounter) : -1;
}

double Ms(const ResultCollector& results, const std::string& name)
{
    const auto* pRun = results.Find(name);
    return pRun ? pRun->GetAdjustedRealTime() : -1;
}

// The process's own time: on a shared machine, what the wall clock shows
// beyond it is waiting for a core.
double CpuMs(const ResultCollector& results, const std::string& name)
{
    const auto* pRun = results.Find(name);
    return pRun ? pRun->GetAdjustedCPUTime() : -1;
}

void PrintTable(const ResultCollector& results)
{
    char szLoad[64] = "?";
    FILE* pLoad = fopen("/proc/loadavg", "r");
    if (pLoad) {
        if (!fgets(szLoad, sizeof(szLoad), pLoad))
            strcpy(szLoad, "?");
        fclose(pLoad);
    }
    szLoad[strcspn(szLoad, " \n")] = 0;
    printf("\nUpdate engine: files of a few bytes, %d to a folder, half of them installed; load %s\n",
           FILES_PER_FOLDER, szLoad);
    printf("%8s %10s %9s %9s %9s %9s %12s %10s %14s\n", "files", "total ms", "cpu ms", "load", "plan", "check",
           "files/s", "merge ms", "merged/s");
    for (int n : SIZES) {
        std::string plan = "plan_check/" + std::to_string(n), merge = "merge/" + std::to_string(n);
        printf("%8d %10.1f %9.1f %9.1f %9.1f %9.1f %12.0f %10.2f %14.0f\n", n, Ms(results, plan),
               CpuMs(results, plan), Counter(results, plan, "load_ms"), Counter(results, plan, "plan_ms"),
               Counter(results, plan, "check_ms"), Counter(results, plan, "files_per_s"), Ms(results, merge),
               Counter(results, merge, "records_per_s"));
    }
    double dLargest = Ms(results, "plan_check/" + std::to_string(SIZES[2]));
    if (dLargest >= 0)
        printf("goal: %d files within %.0f ms: %s\n", SIZES[2], GOAL_MS, dLargest <= GOAL_MS ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    // run-bench.sh passes every program the corpus; this one lays out its own.
    TakeCorpusOption(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RemoveWorkTree(WORK);
    CreateDirectories(WORK);
    for (int n : SIZES) {
        // Wall-clock time: the file system does most of the work.
        benchmark::RegisterBenchmark(("plan_check/" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& state) { BenchPlanCheck(state, n); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("merge/" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& state) { BenchMerge(state, n); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    ResultCollector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    PrintTable(results);
    benchmark::Shutdown();
    RemoveWorkTree(WORK);
    return 0;
}
