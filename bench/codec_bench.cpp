// Throughput and compressed size of the library's three codecs, with
// zlib level 6 called directly, LZ4 and memcpy as peers on the same
// inputs. Speeds are MB/s of uncompressed data in both directions, so a
// codec's two columns compare directly with memcpy, the physical limit.
//
// Every stream is decoded and compared with its input once before any
// timing; a codec that fails that is reported as an error, not timed.
//
// usage: codec_bench [--corpus=DIR] [Google Benchmark flags]
#include "harness.h"

#include "codec/chuffman.h"
#include "codec/chuffman_reference.h"
#include "codec/cslide.h"
#include "codec/cslide_reference.h"
#include "codec/czlib.h"

#include <lz4.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

namespace {

// One way to pack and unpack a whole buffer. Compress returns the packed
// size (0 on failure) given at least Bound(nSize) bytes of room;
// Decompress is given the exact unpacked size and returns the count made.
struct Codec {
    const char* lpszName;
    size_t (*Bound)(size_t nSize);
    size_t (*Compress)(void* pDest, size_t nRoom, const void* pSrc, size_t nSize);
    size_t (*Decompress)(void* pDest, size_t nSize, const void* pSrc, size_t nPacked);
};

// The library's codecs. One object each serves every call, as the pack
// archive uses them; each call resets it, and that cost is part of a call.
template <class T>
size_t LibraryCompress(void* pDest, size_t nRoom, const void* pSrc, size_t nSize)
{
    static T clCodec;
    return clCodec.Compress(pDest, (DWORD)nRoom, pSrc, (DWORD)nSize);
}

template <class T>
size_t LibraryDecompress(void* pDest, size_t nSize, const void* pSrc, size_t nPacked)
{
    static T clCodec;
    return clCodec.Decompress(pDest, (DWORD)nSize, pSrc, (DWORD)nPacked);
}

size_t SlideBound(size_t nSize)
{
    return nSize + nSize / 8 + 1;
}

size_t HuffmanBound(size_t nSize)
{
    return nSize + 320;
}

size_t ZlibBound(size_t nSize)
{
    return compressBound((uLong)nSize);
}

size_t Zlib6Compress(void* pDest, size_t nRoom, const void* pSrc, size_t nSize)
{
    uLongf nPacked = (uLongf)nRoom;
    if (compress2((Bytef*)pDest, &nPacked, (const Bytef*)pSrc, (uLong)nSize, 6) != Z_OK)
        return 0;
    return nPacked;
}

size_t Zlib6Decompress(void* pDest, size_t nSize, const void* pSrc, size_t nPacked)
{
    uLongf nMade = (uLongf)nSize;
    if (uncompress((Bytef*)pDest, &nMade, (const Bytef*)pSrc, (uLong)nPacked) != Z_OK)
        return 0;
    return nMade;
}

size_t Lz4Bound(size_t nSize)
{
    return (size_t)LZ4_compressBound((int)nSize);
}

size_t Lz4Compress(void* pDest, size_t nRoom, const void* pSrc, size_t nSize)
{
    int n = LZ4_compress_default((const char*)pSrc, (char*)pDest, (int)nSize, (int)nRoom);
    return n > 0 ? (size_t)n : 0;
}

size_t Lz4Decompress(void* pDest, size_t nSize, const void* pSrc, size_t nPacked)
{
    int n = LZ4_decompress_safe((const char*)pSrc, (char*)pDest, (int)nPacked, (int)nSize);
    return n >= 0 ? (size_t)n : 0;
}

size_t CopyBound(size_t nSize)
{
    return nSize;
}

size_t Copy(void* pDest, size_t, const void* pSrc, size_t nSize)
{
    memcpy(pDest, pSrc, nSize);
    return nSize;
}

const char kReference[] = "zlib-6";

const Codec g_aCodecs[] = {
    {"CSlide", SlideBound, LibraryCompress<CSlide>, LibraryDecompress<CSlide>},
    {"CHuffman", HuffmanBound, LibraryCompress<CHuffman>, LibraryDecompress<CHuffman>},
    // The straightforward versions the fast ones are measured against.
    {"CSlideRef", SlideBound, LibraryCompress<CSlideReference>, LibraryDecompress<CSlideReference>},
    {"CHuffRef", HuffmanBound, LibraryCompress<CHuffmanReference>, LibraryDecompress<CHuffmanReference>},
    {"CZlib", ZlibBound, LibraryCompress<CZlib>, LibraryDecompress<CZlib>},
    {kReference, ZlibBound, Zlib6Compress, Zlib6Decompress},
    {"lz4", Lz4Bound, Lz4Compress, Lz4Decompress},
    {"memcpy", CopyBound, Copy, Copy},
};

// One codec on one input, with its stream made and checked up front.
struct Case {
    const BenchInput* pInput;
    const Codec* pCodec;
    std::vector<unsigned char> packed;
    std::string error;
};

void Prepare(Case* pCase)
{
    const std::vector<unsigned char>& data = pCase->pInput->data;
    const Codec& codec = *pCase->pCodec;
    pCase->packed.resize(codec.Bound(data.size()));
    size_t nPacked = codec.Compress(pCase->packed.data(), pCase->packed.size(), data.data(),
        data.size());
    if (nPacked == 0 && !data.empty()) {
        pCase->error = "compress failed";
        return;
    }
    pCase->packed.resize(nPacked);
    std::vector<unsigned char> unpacked(data.size());
    size_t nMade = codec.Decompress(unpacked.data(), unpacked.size(), pCase->packed.data(),
        nPacked);
    if (nMade != data.size() || unpacked != data)
        pCase->error = "round trip differs from the input";
}

void SetSizeCounters(benchmark::State& state, const Case& c)
{
    size_t nSize = c.pInput->data.size();
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)nSize);
    state.counters["packed"] = (double)c.packed.size();
    state.counters["ratio"] = c.packed.empty() ? 0 : (double)nSize / (double)c.packed.size();
}

void BenchCompress(benchmark::State& state, const Case* pCase)
{
    if (!pCase->error.empty()) {
        state.SkipWithError(pCase->error.c_str());
        return;
    }
    const std::vector<unsigned char>& data = pCase->pInput->data;
    std::vector<unsigned char> out(pCase->pCodec->Bound(data.size()));
    for (auto _ : state) {
        size_t n = pCase->pCodec->Compress(out.data(), out.size(), data.data(), data.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    SetSizeCounters(state, *pCase);
}

void BenchDecompress(benchmark::State& state, const Case* pCase)
{
    if (!pCase->error.empty()) {
        state.SkipWithError(pCase->error.c_str());
        return;
    }
    const std::vector<unsigned char>& packed = pCase->packed;
    std::vector<unsigned char> out(pCase->pInput->data.size());
    for (auto _ : state) {
        size_t n = pCase->pCodec->Decompress(out.data(), out.size(), packed.data(), packed.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    SetSizeCounters(state, *pCase);
}

std::string Name(const char* lpszDirection, const char* lpszCodec, const std::string& input)
{
    return std::string(lpszDirection) + "/" + lpszCodec + "/" + input;
}

// MB/s of a finished benchmark, or -1 when it did not run or failed.
double Speed(const ResultCollector& results, const std::string& name)
{
    const benchmark::BenchmarkReporter::Run* pRun = results.Find(name);
    if (!pRun || pRun->error_occurred)
        return -1;
    return ResultCollector::CounterValue(*pRun, "bytes_per_second") / 1e6;
}

void PrintSpeed(double dSpeed)
{
    if (dSpeed < 0)
        printf(" %11s", "-");
    else
        printf(" %11.1f", dSpeed);
}

void PrintAgainst(double dSpeed, double dReference)
{
    if (dSpeed < 0 || dReference <= 0)
        printf(" %10s", "-");
    else
        printf(" %9.2fx", dSpeed / dReference);
}

void PrintTable(const std::vector<BenchInput>& inputs, const std::vector<Case>& cases,
    const ResultCollector& results)
{
    int64_t nRepetitions = 1;
    printf("\nCodec speeds in MB/s (10^6 bytes of uncompressed data per CPU second);\n"
           "ratio = input size / compressed size; \"x %s\": speed / zlib level 6's speed\n"
           "on the same input in this run. Inputs:",
        kReference);
    for (const BenchInput& input : inputs)
        printf(" %s %.2f MB", input.name.c_str(), input.data.size() / 1e6);
    printf("\n\n%-18s %23s %8s %21s\n", "", "-------- MB/s ---------", "",
        "----- x zlib-6 ------");
    printf("%-8s %-9s %11s %11s %8s %10s %10s\n", "input", "codec", "compress", "decompress",
        "ratio", "compress", "decompress");

    std::string lastInput;
    for (const Case& c : cases) {
        const char* lpszCodec = c.pCodec->lpszName;
        const std::string& input = c.pInput->name;
        const std::string compress = Name("compress", lpszCodec, input);
        const std::string decompress = Name("decompress", lpszCodec, input);
        const benchmark::BenchmarkReporter::Run* pRun = results.Find(compress);
        if (!pRun && !results.Find(decompress))
            continue; // filtered out
        if (pRun && pRun->run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate)
            nRepetitions = pRun->repetitions;
        if (input != lastInput && !lastInput.empty())
            printf("\n");
        lastInput = input;

        printf("%-8s %-9s", input.c_str(), lpszCodec);
        if (!c.error.empty()) {
            printf(" error: %s\n", c.error.c_str());
            continue;
        }
        double dCompress = Speed(results, compress), dDecompress = Speed(results, decompress);
        PrintSpeed(dCompress);
        PrintSpeed(dDecompress);
        double dRatio = c.packed.empty() ? 0.0 : (double)c.pInput->data.size() / c.packed.size();
        printf(dRatio < 1000 ? " %8.2f" : " %8.0f", dRatio); // a stream of a few bytes

        PrintAgainst(dCompress, Speed(results, Name("compress", kReference, input)));
        PrintAgainst(dDecompress, Speed(results, Name("decompress", kReference, input)));
        printf("\n");
    }
    if (nRepetitions > 1)
        printf("\nEach speed is the median of %lld runs.\n", (long long)nRepetitions);
    else
        printf("\nEach speed is from a single run; --benchmark_repetitions=5 gives medians.\n");
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

    std::vector<Case> cases;
    for (const BenchInput& input : inputs) {
        for (const Codec& codec : g_aCodecs)
            cases.push_back(Case{&input, &codec, {}, {}});
    }
    for (Case& c : cases) {
        Prepare(&c);
        if (!c.error.empty())
            fprintf(stderr, "%s on %s: %s\n", c.pCodec->lpszName, c.pInput->name.c_str(),
                c.error.c_str());
    }
    for (const Case& c : cases) {
        const char* lpszCodec = c.pCodec->lpszName;
        benchmark::RegisterBenchmark(Name("compress", lpszCodec, c.pInput->name).c_str(),
            BenchCompress, &c);
        benchmark::RegisterBenchmark(Name("decompress", lpszCodec, c.pInput->name).c_str(),
            BenchDecompress, &c);
    }

    ResultCollector results;
    benchmark::RunSpecifiedBenchmarks(&results);
    PrintTable(inputs, cases, results);
    benchmark::Shutdown();
    return 0;
}
