#include "harness.h"

#include "platform/platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string.h>

#ifndef GAMEPATCH_CORPUS_DIR
#define GAMEPATCH_CORPUS_DIR "corpus"
#endif

std::string TakeCorpusOption(int* pArgc, char** argv)
{
    static const char kFlag[] = "--corpus=";
    std::string dir = GAMEPATCH_CORPUS_DIR;
    int nKept = 1;
    for (int i = 1; i < *pArgc; i++) {
        if (strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0)
            dir = argv[i] + sizeof kFlag - 1;
        else
            argv[nKept++] = argv[i];
    }
    *pArgc = nKept;
    argv[nKept] = NULL;
    return dir;
}

bool LoadCorpus(const std::string& dir, std::vector<BenchInput>* pInputs)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file())
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    if (files.empty()) {
        std::cerr << "no corpus in " << dir
                  << "\nbuild it with: sh bench/make-corpus.sh " << dir
                  << "\n(or pass --corpus=DIR)\n";
        return false;
    }
    for (const fs::path& path : files) {
        BenchInput input;
        input.name = path.filename().string();
        input.data.resize(fs::file_size(path, ec));
        std::ifstream in(path, std::ios::binary);
        if (ec || !in.read((char*)input.data.data(), (std::streamsize)input.data.size())) {
            std::cerr << "cannot read " << path << "\n";
            return false;
        }
        pInputs->push_back(std::move(input));
    }
    return true;
}

void RemoveWorkTree(const std::string& path)
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
                    RemoveWorkTree(path + "\\" + fd.cFileName);
            } while (PlatFindNext(hFind, &fd));
            PlatFindClose(hFind);
        }
        PlatRemoveDirectory(path.c_str());
    } else {
        PlatDeleteFile(path.c_str());
    }
}

bool ResultCollector::ReportContext(const Context& context)
{
    // Only what affects the numbers; the table follows at the end.
    const benchmark::CPUInfo& cpu = context.cpu_info;
    std::cerr << "running on " << cpu.num_cpus << " CPU(s) at " << cpu.cycles_per_second / 1e6
              << " MHz";
    if (cpu.scaling == benchmark::CPUInfo::ENABLED)
        std::cerr << " (frequency scaling on: numbers will be noisy)";
    std::cerr << "\n";
    return true;
}

void ResultCollector::ReportRuns(const std::vector<Run>& runs)
{
    for (const Run& run : runs) {
        const std::string& name = run.run_name.function_name;
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
            continue;
        // A median, once there, wins over the single runs it summarises.
        auto found = m_runs.find(name);
        if (found != m_runs.end() && found->second.run_type == Run::RT_Aggregate &&
            run.run_type != Run::RT_Aggregate)
            continue;
        m_runs[name] = run;
    }
    std::cerr << "." << std::flush;
}

void ResultCollector::Finalize()
{
    std::cerr << "\n";
}

const benchmark::BenchmarkReporter::Run* ResultCollector::Find(const std::string& name) const
{
    auto found = m_runs.find(name);
    return found == m_runs.end() ? NULL : &found->second;
}

double ResultCollector::CounterValue(const Run& run, const char* lpszName)
{
    auto found = run.counters.find(lpszName);
    return found == run.counters.end() ? -1 : found->second.value;
}
