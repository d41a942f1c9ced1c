// The pack archive: name lookups per second on catalogues of 1,000 to
// 100,000 members, and archive building and extraction in MB/s for every
// method, with a plain copy of the same files as the yardstick measured in
// the same run.
//
// Building and extraction work on the corpus files, written once into a
// scratch folder under the current folder (pack_bench_work), which is
// removed at the end.
//
// usage: pack_bench [--corpus=DIR] [Google Benchmark flags]
#include "harness.h"

#include "codec/chuffman.h"
#include "container/clist.h"
#include "file/cfile.h"
#include "file/directory.h"
#include "pack/cpack.h"
#include "platform/platform.h"

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char WORK[] = "pack_bench_work";
const char* const METHODS[] = { "store", "slide", "huffman", "zlib" };

std::string WorkPath(const std::string& rel)
{
    return std::string(WORK) + "\\" + rel;
}

void PutDword(std::string* p, DWORD dw)
{
    for (int i = 0; i < 4; i++)
        p->push_back((char)(dw >> (8 * i)));
}

// An archive of empty stored members named m000000.dat, m000001.dat, ...:
// only the directory matters to lookups.
bool WriteNameArchive(const std::string& path, int nMembers)
{
    std::string dir;
    for (int i = 0; i < nMembers; i++) {
        char szName[64] = {};
        snprintf(szName, sizeof(szName), "m%06d.dat", i);
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

void BenchFind(benchmark::State& state, int nMembers)
{
    std::string path = WorkPath("names" + std::to_string(nMembers) + ".pac");
    CPack clPack;
    if (!WriteNameArchive(path, nMembers) || !clPack.OpenArchive(path.c_str())) {
        state.SkipWithError("cannot build the catalogue");
        return;
    }
    // Names spread over the whole catalogue, every one present.
    std::vector<std::string> names;
    for (int i = 0; i < 4096; i++) {
        char szName[64];
        snprintf(szName, sizeof(szName), "M%06d.DAT", (int)((i * 2654435761u) % (unsigned)nMembers));
        names.push_back(szName);
    }
    size_t n = 0;
    for (auto _ : state) {
        PackMember* p = clPack.Find(names[n++ & 4095].c_str());
        benchmark::DoNotOptimize(p);
    }
    state.counters["lookups_per_s"] = benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
}

// The corpus as files on disk, and their total size.
std::vector<std::string> g_files;
QWORD g_qwTotal = 0;

bool WriteCorpusFiles(const std::vector<BenchInput>& inputs)
{
    CreateDirectories(WorkPath("src").c_str());
    for (const BenchInput& input : inputs) {
        std::string path = WorkPath("src\\" + input.name);
        CFile clFile;
        if (!clFile.Open(path.c_str(), 1) || clFile.Write(input.data.data(), (DWORD)input.data.size()) != input.data.size())
            return false;
        g_files.push_back(path);
        g_qwTotal += input.data.size();
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

void BenchBuild(benchmark::State& state, int nMethod)
{
    std::string out = WorkPath(std::string("build-") + METHODS[nMethod] + ".pac");
    CPack clPack;
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

void BenchExtract(benchmark::State& state, int nMethod)
{
    std::string archive = WorkPath(std::string("extract-") + METHODS[nMethod] + ".pac");
    std::string folder = WorkPath(std::string("out-") + METHODS[nMethod]);
    CreateDirectories(folder.c_str());
    CPack clBuild;
    for (const std::string& src : g_files)
        clBuild.AddFile(src.c_str());
    CPack clPack;
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

void RemoveWork(const std::string& path)
{
    DWORD dwAttr = PlatGetFileAttributes(path.c_str());
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return;
    if (dwAttr & FILE_ATTRIBUTE_DIRECTORY) {
        PlatFindData fd;
        HANDLE hFind = PlatFindFirst((path + "\\*").c_str(), &fd);
        if (hFind) {
            do {
                if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
                    RemoveWork(path + "\\" + fd.cFileName);
            } while (PlatFindNext(hFind, &fd));
            PlatFindClose(hFind);
        }
        PlatRemoveDirectory(path.c_str());
    } else {
        PlatDeleteFile(path.c_str());
    }
}

double MBps(const benchmark::BenchmarkReporter::Run* pRun)
{
    return pRun ? ResultCollector::CounterValue(*pRun, "bytes_per_second") / 1e6 : -1;
}

void PrintTable(const ResultCollector& results)
{
    printf("\nName lookups (Find), case ignored, names spread over the catalogue\n");
    printf("%10s %16s\n", "members", "lookups/s");
    for (int n : { 1000, 10000, 100000 }) {
        const auto* pRun = results.Find("find/" + std::to_string(n));
        printf("%10d %16.0f\n", n, pRun ? ResultCollector::CounterValue(*pRun, "lookups_per_s") : -1);
    }
    double dCopy = MBps(results.Find("plain_copy"));
    printf("\nArchives of the corpus (%.1f MB), MB/s of content; x copy = speed / plain file copy (%.0f MB/s)\n",
           g_qwTotal / 1e6, dCopy);
    printf("%-8s %10s %8s %10s %8s %8s\n", "method", "build", "x copy", "extract", "x copy", "ratio");
    for (int m = 0; m < 4; m++) {
        const auto* pBuild = results.Find(std::string("build/") + std::to_string(m));
        double dBuild = MBps(pBuild), dExtract = MBps(results.Find(std::string("extract/") + std::to_string(m)));
        printf("%-8s %10.1f %8.3f %10.1f %8.3f %8.3f\n", METHODS[m], dBuild, dCopy > 0 ? dBuild / dCopy : 0,
               dExtract, dCopy > 0 ? dExtract / dCopy : 0,
               pBuild ? ResultCollector::CounterValue(*pBuild, "ratio") : -1);
    }
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
    RemoveWork(WORK);
    CreateDirectories(WORK);
    if (!WriteCorpusFiles(inputs)) {
        fprintf(stderr, "pack_bench: cannot write the corpus files under %s\n", WORK);
        return 1;
    }

    for (int n : { 1000, 10000, 100000 })
        benchmark::RegisterBenchmark(("find/" + std::to_string(n)).c_str(),
                                     [n](benchmark::State& state) { BenchFind(state, n); });
    benchmark::RegisterBenchmark("plain_copy", BenchPlainCopy)->Unit(benchmark::kMillisecond);
    for (int m = 0; m < 4; m++) {
        benchmark::RegisterBenchmark(("build/" + std::to_string(m)).c_str(),
                                     [m](benchmark::State& state) { BenchBuild(state, m); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("extract/" + std::to_string(m)).c_str(),
                                     [m](benchmark::State& state) { BenchExtract(state, m); })
            ->Unit(benchmark::kMillisecond);
    }
    ResultCollector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    PrintTable(results);
    benchmark::Shutdown();
    RemoveWork(WORK);
    return 0;
}
