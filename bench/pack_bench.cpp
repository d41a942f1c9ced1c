// The pack archive: name lookups per second on catalogues of 1,000 to
// 1,000,000 members and the time to open the largest; archive building and
// extraction in MB/s for every method on one thread and on every core,
// with yardsticks measured in the same run: a plain copy of the same files
// and, for the zlib method, tar piped through pigz -6 on as many threads.
//
// Building and extraction work on the corpus cut into members of 256 KiB
// (as a game's assets come in many files), written once into a scratch
// folder under the current folder (pack_bench_work), which is removed at
// the end.
//
// usage: pack_bench [--corpus=DIR] [Google Benchmark flags]
#include "harness.h"

#include "codec/chuffman.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "pack/cpack.h"
#include "platform/platform.h"

#include <algorithm>
#include <ctype.h>
#include <map>
#include <memory>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <thread>
#include <vector>

namespace {

const char WORK[] = "pack_bench_work";
const char* const METHODS[] = { "store", "slide", "huffman", "zlib" };
const int CATALOGUES[] = { 1000, 10000, 100000, 1000000 };
const int OPEN_MEMBERS = 1000000;
const DWORD MEMBER_SIZE = 256 * 1024;
// Every core the machine offers, and one.
const int ALL_CORES = std::thread::hardware_concurrency() ? (int)std::thread::hardware_concurrency() : 1;

std::string WorkPath(const std::string& rel)
{
    return std::string(WORK) + "\\" + rel;
}

void PutDword(std::string* p, DWORD dw)
{
    for (int i = 0; i < 4; i++)
        p->push_back((char)(dw >> (8 * i)));
}

// The name of member i as a game names its assets: folders flattened into
// the name, with numbers.
std::string AssetName(int i)
{
    static const char* const AREAS[] = { "chara", "bg", "event", "voice", "ui", "effect", "map" };
    static const char* const KINDS[] = { "tex", "mdl", "mot", "snd", "scr" };
    static const char* const EXTS[] = { ".dds", ".mdl", ".mot", ".ogg", ".scr" };
    char szName[64];
    snprintf(szName, sizeof(szName), "%s_%03d_%s%06d%s", AREAS[i % 7], i / 7 % 1000, KINDS[i / 7000 % 5], i,
             EXTS[i / 7000 % 5]);
    return szName;
}

// An archive of empty stored members with asset names: only the directory
// matters to lookups and to opening.
bool WriteNameArchive(const std::string& path, int nMembers)
{
    std::string dir;
    for (int i = 0; i < nMembers; i++) {
        char szName[64] = {};
        snprintf(szName, sizeof(szName), "%s", AssetName(i).c_str());
        dir.append(szName, 64);
        PutDword(&dir, 12);
        PutDword(&dir, 0);
        PutDword(&dir, 0);
    }
    std::string coded(dir.size() + 321, '\0');
    DWORD dwCoded = CHuffman().Compress(&coded[0], (DWORD)coded.size(), dir.data(), (DWORD)dir.size());
    std::string archive("PAC\0", 4);
    PutDword(&archive, (DWORD)nMembers);
    PutDword(&archive, 0);
    for (DWORD i = 0; i < dwCoded; i++)
        archive.push_back((char)~coded[i]);
    PutDword(&archive, dwCoded);
    CFile clFile;
    return clFile.Open(path.c_str(), 1) && clFile.Write(archive.data(), (DWORD)archive.size()) == archive.size();
}

// The name archive of n members, written once.
std::string NameArchive(int nMembers)
{
    std::string path = WorkPath("names" + std::to_string(nMembers) + ".pac");
    if (PlatGetFileAttributes(path.c_str()) == INVALID_FILE_ATTRIBUTES && !WriteNameArchive(path, nMembers))
        return "";
    return path;
}

void BenchFind(benchmark::State& state, int nMembers)
{
    // One catalogue per size for every repetition: a million members take
    // a while to enter.
    static std::map<int, std::unique_ptr<CPack>> s_packs;
    std::unique_ptr<CPack>& pPack = s_packs[nMembers];
    if (!pPack) {
        pPack.reset(new CPack);
        std::string path = NameArchive(nMembers);
        if (path.empty() || !pPack->OpenArchive(path.c_str())) {
            pPack.reset();
            state.SkipWithError("cannot build the catalogue");
            return;
        }
    }
    // Names spread over the whole catalogue, every one present, asked for
    // in capitals.
    std::vector<std::string> names;
    for (int i = 0; i < 4096; i++) {
        std::string name = AssetName((int)((i * 2654435761u) % (unsigned)nMembers));
        for (char& c : name)
            c = (char)toupper((unsigned char)c);
        names.push_back(name);
    }
    size_t n = 0;
    for (auto _ : state) {
        PackMember* p = pPack->Find(names[n++ & 4095].c_str());
        benchmark::DoNotOptimize(p);
    }
    state.counters["lookups_per_s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

void BenchOpen(benchmark::State& state)
{
    std::string path = NameArchive(OPEN_MEMBERS);
    for (auto _ : state) {
        CPack* pPack = new CPack;
        if (path.empty() || !pPack->OpenArchive(path.c_str())) {
            state.SkipWithError("cannot open the archive");
            delete pPack;
            return;
        }
        state.PauseTiming();
        delete pPack;
        state.ResumeTiming();
    }
    state.counters["records_per_s"] =
        benchmark::Counter((double)OPEN_MEMBERS * state.iterations(), benchmark::Counter::kIsRate);
}

// The corpus as files on disk, and their total size.
std::vector<std::string> g_files;
QWORD g_qwTotal = 0;

bool WriteCorpusFiles(const std::vector<BenchInput>& inputs)
{
    CreateDirectories(WorkPath("src").c_str());
    for (const BenchInput& input : inputs) {
        for (size_t nAt = 0, nPart = 0; nAt < input.data.size(); nAt += MEMBER_SIZE, nPart++) {
            char szName[64];
            snprintf(szName, sizeof(szName), "%s_%04d.dat", input.name.c_str(), (int)nPart);
            std::string path = WorkPath(std::string("src\\") + szName);
            DWORD dwSize = (DWORD)std::min<size_t>(MEMBER_SIZE, input.data.size() - nAt);
            CFile clFile;
            if (!clFile.Open(path.c_str(), 1) || clFile.Write(input.data.data() + nAt, dwSize) != dwSize)
                return false;
            g_files.push_back(path);
            g_qwTotal += dwSize;
        }
    }
    return true;
}

void BenchPlainCopy(benchmark::State& state)
{
    CreateDirectories(WorkPath("copy").c_str());
    for (auto _ : state) {
        for (const std::string& src : g_files) {
            CFile clSrc, clDst;
            std::string dst = WorkPath("copy\\x");
            if (!clSrc.Open(src.c_str(), 0) || !clDst.Open(dst.c_str(), 1) ||
                clDst.CopyFrom(&clSrc, clSrc.GetSize()) != clSrc.GetSize()) {
                state.SkipWithError("copy failed");
                return;
            }
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * g_qwTotal));
}

// The corpus members as tar | pigz -6 packs them, on as many threads.
void BenchTarPigz(benchmark::State& state, int nThreads)
{
    std::string command = std::string("tar -cf - -C ") + WORK + "/src . | pigz -6 -p " + std::to_string(nThreads) +
                          " > " + WORK + "/corpus.tar.gz";
    for (auto _ : state) {
        if (system(command.c_str()) != 0) {
            state.SkipWithError("tar | pigz failed (pigz missing? scripts/install-deps.sh installs it)");
            return;
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * g_qwTotal));
}

void BenchBuild(benchmark::State& state, int nMethod, int nThreads)
{
    std::string out = WorkPath(std::string("build-") + METHODS[nMethod] + ".pac");
    CPack clPack;
    clPack.SetThreads(nThreads);
    for (const std::string& src : g_files)
        clPack.AddFile(src.c_str());
    for (auto _ : state) {
        if (!clPack.Save(out.c_str(), nMethod, NULL, NULL)) {
            state.SkipWithError("Save failed");
            return;
        }
    }
    CFile clArchive;
    clArchive.Open(out.c_str(), 0);
    state.counters["ratio"] = g_qwTotal ? (double)clArchive.GetSize() / (double)g_qwTotal : 0;
    state.SetBytesProcessed((int64_t)(state.iterations() * g_qwTotal));
}

void BenchExtract(benchmark::State& state, int nMethod, int nThreads)
{
    std::string archive = WorkPath(std::string("extract-") + METHODS[nMethod] + ".pac");
    std::string folder = WorkPath(std::string("out-") + METHODS[nMethod]);
    CreateDirectories(folder.c_str());
    CPack clBuild;
    for (const std::string& src : g_files)
        clBuild.AddFile(src.c_str());
    CPack clPack;
    clPack.SetThreads(nThreads);
    if (!clBuild.Save(archive.c_str(), nMethod, NULL, NULL) || !clPack.OpenArchive(archive.c_str())) {
        state.SkipWithError("cannot build the archive");
        return;
    }
    for (auto _ : state) {
        if (!clPack.ExtractAll(folder.c_str())) {
            state.SkipWithError("ExtractAll failed");
            return;
        }
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * g_qwTotal));
}

double MBps(const benchmark::BenchmarkReporter::Run* pRun)
{
    return pRun ? ResultCollector::CounterValue(*pRun, "bytes_per_second") / 1e6 : -1;
}

double Counter(const ResultCollector& results, const std::string& name, const char* lpszCounter)
{
    const auto* pRun = results.Find(name);
    return pRun ? ResultCollector::CounterValue(*pRun, lpszCounter) : -1;
}

void PrintTable(const ResultCollector& results)
{
    printf("\nName lookups (Find) by asset names in capitals, spread over the catalogue\n");
    printf("%10s %14s %12s\n", "members", "lookups/s", "x 1,000");
    double dFirst = Counter(results, "find/1000", "lookups_per_s");
    for (int n : CATALOGUES) {
        double d = Counter(results, "find/" + std::to_string(n), "lookups_per_s");
        printf("%10d %14.0f %12.2f\n", n, d, dFirst > 0 ? d / dFirst : 0);
    }
    const auto* pOpen = results.Find("open");
    printf("\nOpening an archive of %d members: %.0f ms, %.0f records/s\n", OPEN_MEMBERS,
           pOpen ? pOpen->GetAdjustedRealTime() : -1, Counter(results, "open", "records_per_s"));

    double dCopy = MBps(results.Find("plain_copy"));
    printf("\nArchives of the corpus (%.1f MB in %d members), MB/s of content; x1 = speed / one thread;\n"
           "yardstick: plain copy (%.0f MB/s) for store, tar | pigz -6 on as many threads for zlib\n",
           g_qwTotal / 1e6, (int)g_files.size(), dCopy);
    printf("%-8s %7s %9s %6s %10s %9s %6s %7s\n", "method", "threads", "build", "x1", "x yardst.", "extract", "x1",
           "ratio");
    for (int m = 0; m < 4; m++) {
        for (int t : { 1, ALL_CORES }) {
            std::string key = std::to_string(m) + "/" + std::to_string(t);
            double dBuild = MBps(results.Find("build/" + key)), dExtract = MBps(results.Find("extract/" + key));
            double dBuild1 = MBps(results.Find("build/" + std::to_string(m) + "/1"));
            double dExtract1 = MBps(results.Find("extract/" + std::to_string(m) + "/1"));
            double dYard = m == PACK_STORE ? dCopy : m == PACK_ZLIB ? MBps(results.Find("tar_pigz/" + std::to_string(t))) : 0;
            printf("%-8s %7d %9.1f %6.2f ", METHODS[m], t, dBuild, dBuild1 > 0 ? dBuild / dBuild1 : 0);
            if (dYard > 0)
                printf("%10.2f ", dBuild / dYard);
            else
                printf("%10s ", "-");
            printf("%9.1f %6.2f %7.3f\n", dExtract, dExtract1 > 0 ? dExtract / dExtract1 : 0,
                   Counter(results, "build/" + key, "ratio"));
        }
    }
    for (int t : { 1, ALL_CORES })
        printf("tar | pigz -6 -p %d: %.1f MB/s\n", t, MBps(results.Find("tar_pigz/" + std::to_string(t))));
}

} // namespace

int main(int argc, char** argv)
{
    std::string corpus = TakeCorpusOption(&argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::vector<BenchInput> inputs;
    if (!LoadCorpus(corpus, &inputs))
        return 1;
    RemoveWorkTree(WORK);
    CreateDirectories(WORK);
    if (!WriteCorpusFiles(inputs)) {
        fprintf(stderr, "pack_bench: cannot write the corpus files under %s\n", WORK);
        return 1;
    }

    for (int n : CATALOGUES)
        benchmark::RegisterBenchmark(("find/" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& state) { BenchFind(state, n); });
    // Wall-clock time wherever threads or other programs do the work.
    benchmark::RegisterBenchmark("open", BenchOpen)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
    benchmark::RegisterBenchmark("plain_copy", BenchPlainCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
    std::vector<int> threads = { 1 };
    if (ALL_CORES > 1)
        threads.push_back(ALL_CORES);
    for (int t : threads) {
        benchmark::RegisterBenchmark(("tar_pigz/" + std::to_string(t)).c_str(),
                                     [t](benchmark::State& state) { BenchTarPigz(state, t); })
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        for (int m = 0; m < 4; m++) {
            std::string key = std::to_string(m) + "/" + std::to_string(t);
            benchmark::RegisterBenchmark(("build/" + key).c_str(),
                                         [m, t](benchmark::State& state) { BenchBuild(state, m, t); })
                ->Unit(benchmark::kMillisecond)->UseRealTime();
            benchmark::RegisterBenchmark(("extract/" + key).c_str(),
                                         [m, t](benchmark::State& state) { BenchExtract(state, m, t); })
                ->Unit(benchmark::kMillisecond)->UseRealTime();
        }
    }
    ResultCollector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    PrintTable(results);
    benchmark::Shutdown();
    RemoveWorkTree(WORK);
    return 0;
}
