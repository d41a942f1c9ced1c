// What every benchmark program here shares: the corpus of inputs, and a
// reporter that keeps the results quietly so that the program can print
// one table of its own at the end.
//
// A program's main takes its corpus option out of argv, loads the corpus,
// registers one benchmark per input and case (benchmark::RegisterBenchmark),
// runs them with a ResultCollector and prints its table from the medians.
// Google Benchmark's own flags keep working (--benchmark_filter,
// --benchmark_repetitions, --benchmark_out=FILE for the raw runs).
#ifndef BENCH_HARNESS_H
#define BENCH_HARNESS_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

struct BenchInput {
    std::string name; // the corpus file's name: text, dll, ...
    std::vector<unsigned char> data;
};

// Takes "--corpus=DIR" out of argv (Google Benchmark rejects flags it does
// not know) and returns DIR; without it, the build tree's corpus folder.
std::string TakeCorpusOption(int* pArgc, char** argv);

// Reads every regular file of the folder, in name order. False, with a
// message on stderr that says how to build the corpus, when the folder is
// missing or holds no file.
bool LoadCorpus(const std::string& dir, std::vector<BenchInput>* pInputs);

// Removes a benchmark's scratch file or folder (a library path) with
// everything in it; nothing when it is not there.
void RemoveWorkTree(const std::string& path);

// Prints nothing per benchmark (a dot per finished benchmark on stderr,
// so a long run shows that it moves) and keeps every run it is given.
class ResultCollector : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context& context) override;
    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

    // The run to tabulate for a registered benchmark name: its median when
    // repetitions ran, otherwise its single run. Null if it did not run.
    const Run* Find(const std::string& name) const;

    // A user counter's value (rates already per second), or -1 if absent.
    static double CounterValue(const Run& run, const char* lpszName);

private:
    std::map<std::string, Run> m_runs;
};

#endif
