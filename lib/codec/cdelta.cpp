#include "codec/cdelta.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <string.h>

// The layout is in docs/delta-format.md; the limits below are part of it.
namespace {

const BYTE g_abMagic[4] = {'G', 'D', 'L', 'T'};
const DWORD DELTA_VERSION = 1;

// A chunk rebuilds at most this much of the result, and its control stream
// unpacks to at most DELTA_CONTROL_MAX bytes: Apply's working set is a few
// buffers of these sizes, whatever the file's size.
const size_t DELTA_CHUNK_MAX = (size_t)4 << 20;
const size_t DELTA_CONTROL_MAX = (size_t)1 << 20;

// How each of a chunk's three streams is stored (two bits each).
// METHOD_ZERO_RUNS deflates the stream's zero runs coded as lengths: the
// difference bytes of a good copy are nearly all zero, and deflate alone
// spends a byte on each kilobyte of zeros.
enum { METHOD_STORED = 0, METHOD_DEFLATE = 1, METHOD_ZERO_RUNS = 2 };
enum { STREAM_CONTROL, STREAM_DIFF, STREAM_EXTRA, STREAM_COUNT };

void PutLE(BYTE* p, uint64_t qwValue, int nBytes)
{
    for (int i = 0; i < nBytes; i++)
        p[i] = (BYTE)(qwValue >> (8 * i));
}

uint64_t GetLE(const BYTE* p, int nBytes)
{
    uint64_t qwValue = 0;
    for (int i = 0; i < nBytes; i++)
        qwValue |= (uint64_t)p[i] << (8 * i);
    return qwValue;
}

void PutVarint(std::vector<BYTE>* pOut, uint64_t qwValue)
{
    while (qwValue >= 0x80) {
        pOut->push_back((BYTE)(qwValue | 0x80));
        qwValue >>= 7;
    }
    pOut->push_back((BYTE)qwValue);
}

// Reads a little-endian base-128 number from [*pp, pEnd); 0 when it runs
// past the end or past 64 bits.
int GetVarint(const BYTE** pp, const BYTE* pEnd, uint64_t* pqwValue)
{
    uint64_t qwValue = 0;
    for (int nShift = 0; nShift < 64; nShift += 7) {
        if (*pp == pEnd)
            return 0;
        BYTE b = *(*pp)++;
        if (nShift == 63 && b > 1)
            return 0;
        qwValue |= (uint64_t)(b & 0x7F) << nShift;
        if (!(b & 0x80)) {
            *pqwValue = qwValue;
            return 1;
        }
    }
    return 0;
}

// Seeks are signed: zigzag keeps small moves either way short.
uint64_t Zigzag(int64_t nValue)
{
    return ((uint64_t)nValue << 1) ^ (uint64_t)(nValue >> 63);
}

int64_t Unzigzag(uint64_t qwValue)
{
    return (int64_t)(qwValue >> 1) ^ -(int64_t)(qwValue & 1);
}

// ---------------------------------------------------------------- Make

// Suffix array by induced sorting (SA-IS), on an int string whose last
// symbol is a unique 0. Linear time; the reduced problem reuses pSA.
void InduceSort(const int* s, int* pSA, int n, int k, const std::vector<char>& t, std::vector<int>* pBuckets,
                const std::vector<int>& counts)
{
    std::vector<int>& b = *pBuckets;
    int nSum = 0;
    for (int c = 0; c < k; c++) {
        b[c] = nSum;
        nSum += counts[c];
    }
    for (int i = 0; i < n; i++) {
        int j = pSA[i] - 1;
        if (j >= 0 && !t[j])
            pSA[b[s[j]]++] = j;
    }
    nSum = 0;
    for (int c = 0; c < k; c++) {
        nSum += counts[c];
        b[c] = nSum;
    }
    for (int i = n - 1; i >= 0; i--) {
        int j = pSA[i] - 1;
        if (j >= 0 && t[j])
            pSA[--b[s[j]]] = j;
    }
}

void SuffixSort(const int* s, int* pSA, int n, int k)
{
    if (n == 1) {
        pSA[0] = 0;
        return;
    }
    // t[i]: suffix i is S-type (smaller than suffix i + 1).
    std::vector<char> t(n);
    t[n - 1] = 1;
    for (int i = n - 2; i >= 0; i--)
        t[i] = s[i] < s[i + 1] || (s[i] == s[i + 1] && t[i + 1]);
    auto isLms = [&t](int i) { return i > 0 && t[i] && !t[i - 1]; };

    std::vector<int> counts(k, 0), buckets(k);
    for (int i = 0; i < n; i++)
        counts[s[i]]++;
    auto bucketEnds = [&]() {
        int nSum = 0;
        for (int c = 0; c < k; c++) {
            nSum += counts[c];
            buckets[c] = nSum;
        }
    };

    // Sort the LMS substrings: place them at their buckets' ends, induce.
    std::fill(pSA, pSA + n, -1);
    bucketEnds();
    for (int i = 1; i < n; i++)
        if (isLms(i))
            pSA[--buckets[s[i]]] = i;
    InduceSort(s, pSA, n, k, t, &buckets, counts);

    int n1 = 0;
    for (int i = 0; i < n; i++)
        if (isLms(pSA[i]))
            pSA[n1++] = pSA[i];

    // Name them: equal substrings share a name. Names go to pSA[n1 + i/2]
    // (LMS positions are at least two apart), then are packed to the end.
    std::fill(pSA + n1, pSA + n, -1);
    int nNames = 0, nPrev = -1;
    for (int i = 0; i < n1; i++) {
        int nPos = pSA[i];
        bool bDiffer = nPrev < 0;
        for (int d = 0; !bDiffer; d++) {
            if (s[nPos + d] != s[nPrev + d] || t[nPos + d] != t[nPrev + d])
                bDiffer = true;
            else if (d > 0 && (isLms(nPos + d) || isLms(nPrev + d)))
                break;
        }
        if (bDiffer) {
            nNames++;
            nPrev = nPos;
        }
        pSA[n1 + nPos / 2] = nNames - 1;
    }
    for (int i = n - 1, j = n - 1; i >= n1; i--)
        if (pSA[i] >= 0)
            pSA[j--] = pSA[i];

    int* s1 = pSA + n - n1;
    int* pSA1 = pSA;
    if (nNames < n1) {
        SuffixSort(s1, pSA1, n1, nNames);
    } else {
        for (int i = 0; i < n1; i++)
            pSA1[s1[i]] = i;
    }

    // Place the LMS suffixes in their sorted order, induce the rest.
    for (int i = 1, j = 0; i < n; i++)
        if (isLms(i))
            s1[j++] = i;
    for (int i = 0; i < n1; i++)
        pSA1[i] = s1[pSA1[i]];
    std::fill(pSA + n1, pSA + n, -1);
    bucketEnds();
    for (int i = n1 - 1; i >= 0; i--) {
        int j = pSA[i];
        pSA[i] = -1;
        pSA[--buckets[s[j]]] = j;
    }
    InduceSort(s, pSA, n, k, t, &buckets, counts);
}

size_t CommonLength(const BYTE* a, const BYTE* b, size_t nMax)
{
    size_t n = 0;
    while (n + 8 <= nMax) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y)
            break;
        n += 8;
    }
    while (n < nMax && a[n] == b[n])
        n++;
    return n;
}

// The base's suffixes in order: the longest exact match of any string in
// the base by binary search, comparing only past the prefix both bounds
// already share with it.
class BaseIndex {
public:
    BaseIndex(const BYTE* pBase, size_t nBase) : m_pBase(pBase), m_nBase(nBase)
    {
        std::vector<int> s(nBase + 1);
        for (size_t i = 0; i < nBase; i++)
            s[i] = pBase[i] + 1;
        s[nBase] = 0;
        m_sa.resize(nBase + 1);
        SuffixSort(s.data(), m_sa.data(), (int)nBase + 1, 257);
        m_sa.erase(m_sa.begin()); // the end marker's suffix, always first
    }

    size_t Longest(const BYTE* p, size_t n, size_t* pnPos) const
    {
        *pnPos = 0;
        if (m_nBase == 0 || n == 0)
            return 0;
        size_t nLo = 0, nHi = m_nBase - 1;
        size_t nLcpLo = Common(m_sa[nLo], p, n, 0), nLcpHi = Common(m_sa[nHi], p, n, 0);
        while (nHi - nLo > 1) {
            size_t nMid = nLo + (nHi - nLo) / 2;
            size_t nPos = m_sa[nMid];
            size_t nLcp = Common(nPos, p, n, std::min(nLcpLo, nLcpHi));
            if (nLcp == n) {
                *pnPos = nPos;
                return n;
            }
            if (nPos + nLcp == m_nBase || m_pBase[nPos + nLcp] < p[nLcp]) {
                nLo = nMid;
                nLcpLo = nLcp;
            } else {
                nHi = nMid;
                nLcpHi = nLcp;
            }
        }
        if (nLcpLo >= nLcpHi) {
            *pnPos = m_sa[nLo];
            return nLcpLo;
        }
        *pnPos = m_sa[nHi];
        return nLcpHi;
    }

private:
    size_t Common(size_t nPos, const BYTE* p, size_t n, size_t nKnown) const
    {
        size_t nMax = std::min(n, m_nBase - nPos);
        return nKnown + CommonLength(m_pBase + nPos + nKnown, p + nKnown, nMax - nKnown);
    }

    const BYTE* m_pBase;
    size_t m_nBase;
    std::vector<int> m_sa;
};

// One step of the result: nCopy bytes of the base at the current base
// position, each plus a difference byte; then nExtra new bytes; then the
// base position moves by nSeek.
struct Command {
    uint64_t nCopy;
    uint64_t nExtra;
    int64_t nSeek;
};

// Finds the commands. The new file is walked with a current alignment
// (base position minus new position). Where an exact match elsewhere
// beats what the current alignment matches over the same bytes by more
// than a margin, the alignment changes: the stretch since the last change
// becomes a copy along the old alignment, extended forward while it still
// matches at least half its bytes, new bytes, and the start of the next
// copy, extended backward the same way. Copies that match only mostly
// are cheap: their difference bytes are mostly zero and pack well.
std::vector<Command> FindCommands(const BYTE* pBase, size_t nBase, const BYTE* pNew, size_t nNew)
{
    const size_t MARGIN = 8;
    BaseIndex index(pBase, nBase);
    std::vector<Command> commands;
    auto aligned = [&](size_t nAt, int64_t nOffset) {
        int64_t nBasePos = (int64_t)nAt + nOffset;
        return nBasePos >= 0 && (uint64_t)nBasePos < nBase && pBase[nBasePos] == pNew[nAt];
    };

    size_t nScan = 0, nLen = 0, nPos = 0;
    size_t nLastScan = 0, nLastPos = 0;
    int64_t nLastOffset = 0;
    while (nScan < nNew) {
        // Look ahead for a match worth switching to, counting how many of
        // its bytes the current alignment already matches.
        size_t nOldScore = 0;
        nScan += nLen;
        size_t nCounted = nScan;
        nLen = 0;
        for (; nScan < nNew; nScan++) {
            nLen = index.Longest(pNew + nScan, nNew - nScan, &nPos);
            for (; nCounted < nScan + nLen; nCounted++)
                if (aligned(nCounted, nLastOffset))
                    nOldScore++;
            if ((nLen == nOldScore && nLen != 0) || nLen > nOldScore + MARGIN)
                break;
            // The next look starts one byte later: drop this byte's count.
            if (nCounted > nScan && aligned(nScan, nLastOffset))
                nOldScore--;
        }
        if (nLen == nOldScore && nScan != nNew)
            continue; // the current alignment already covers that match

        // Forward from the last switch along the old alignment: keep the
        // length where matches minus mismatches peaks.
        size_t nForward = 0;
        {
            int64_t nScore = 0, nBest = 0;
            for (size_t i = 0; nLastScan + i < nScan && nLastPos + i < nBase;) {
                nScore += pNew[nLastScan + i] == pBase[nLastPos + i] ? 1 : -1;
                i++;
                if (nScore > nBest) {
                    nBest = nScore;
                    nForward = i;
                }
            }
        }
        // Backward from the new match along its alignment.
        size_t nBackward = 0;
        if (nScan < nNew) {
            int64_t nScore = 0, nBest = 0;
            for (size_t i = 1; nScan >= nLastScan + i && nPos >= i; i++) {
                nScore += pNew[nScan - i] == pBase[nPos - i] ? 1 : -1;
                if (nScore > nBest) {
                    nBest = nScore;
                    nBackward = i;
                }
            }
        }
        // Where the two overlap, split where the bytes each side takes
        // match best.
        if (nLastScan + nForward > nScan - nBackward) {
            size_t nOverlap = (nLastScan + nForward) - (nScan - nBackward);
            int64_t nScore = 0, nBest = 0;
            size_t nSplit = 0;
            for (size_t i = 0; i < nOverlap; i++) {
                size_t nF = nLastScan + nForward - nOverlap + i;
                size_t nB = nScan - nBackward + i;
                if (pNew[nF] == pBase[nLastPos + nForward - nOverlap + i])
                    nScore++;
                if (pNew[nB] == pBase[nPos - nBackward + i])
                    nScore--;
                if (nScore > nBest) {
                    nBest = nScore;
                    nSplit = i + 1;
                }
            }
            nForward += nSplit - nOverlap;
            nBackward -= nSplit;
        }

        Command command;
        command.nCopy = nForward;
        command.nExtra = (nScan - nBackward) - (nLastScan + nForward);
        size_t nNextPos = nScan < nNew ? nPos - nBackward : nLastPos + nForward;
        command.nSeek = (int64_t)nNextPos - (int64_t)(nLastPos + nForward);
        if (command.nCopy || command.nExtra)
            commands.push_back(command);
        else if (!commands.empty())
            commands.back().nSeek += command.nSeek;
        else if (command.nSeek)
            commands.push_back(command);

        nLastScan = nScan - nBackward;
        nLastPos = nNextPos;
        nLastOffset = (int64_t)nPos - (int64_t)nScan;
    }
    return commands;
}

// Deflates raw (no zlib framing: a delta of a small file is mostly
// framing) at the strongest level; returns 0 when zlib fails.
int Deflate(const std::vector<BYTE>& raw, int nStrategy, std::vector<BYTE>* pOut)
{
    z_stream zs = z_stream();
    if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, nStrategy) != Z_OK)
        return 0;
    pOut->resize(deflateBound(&zs, (uLong)raw.size()));
    zs.next_in = (Bytef*)raw.data();
    zs.avail_in = (uInt)raw.size();
    zs.next_out = pOut->data();
    zs.avail_out = (uInt)pOut->size();
    int nResult = deflate(&zs, Z_FINISH);
    pOut->resize(zs.total_out);
    deflateEnd(&zs);
    return nResult == Z_STREAM_END;
}

// Zero runs: pairs of (zero count, literal count) numbers, each followed
// by its literal bytes. A literal run ends only at three zeros or more,
// fewer cost more as a pair than as literals.
void CodeZeroRuns(const std::vector<BYTE>& raw, std::vector<BYTE>* pOut)
{
    pOut->clear();
    size_t i = 0, n = raw.size();
    while (i < n) {
        size_t nZeros = 0;
        while (i + nZeros < n && raw[i + nZeros] == 0)
            nZeros++;
        size_t nStart = i + nZeros, nEnd = nStart;
        while (nEnd < n) {
            if (raw[nEnd] == 0 && (nEnd + 2 >= n || (raw[nEnd + 1] == 0 && raw[nEnd + 2] == 0)))
                break;
            nEnd++;
        }
        PutVarint(pOut, nZeros);
        PutVarint(pOut, nEnd - nStart);
        pOut->insert(pOut->end(), raw.begin() + nStart, raw.begin() + nEnd);
        i = nEnd;
    }
}

// Stores a stream the smallest way found; returns its method. A zero-run
// coded stream keeps its coded size in *pnCoded.
int PackStream(const std::vector<BYTE>& raw, bool bZeroRuns, std::vector<BYTE>* pOut, size_t* pnCoded)
{
    *pOut = raw;
    int nMethod = METHOD_STORED;
    if (raw.empty())
        return nMethod;
    std::vector<BYTE> packed, coded;
    for (int nStrategy : {Z_DEFAULT_STRATEGY, Z_FILTERED}) {
        if (Deflate(raw, nStrategy, &packed) && packed.size() < pOut->size()) {
            pOut->swap(packed);
            nMethod = METHOD_DEFLATE;
        }
    }
    if (bZeroRuns) {
        CodeZeroRuns(raw, &coded);
        if (coded.size() <= 2 * raw.size() + 16 && Deflate(coded, Z_DEFAULT_STRATEGY, &packed) &&
            packed.size() < pOut->size()) {
            pOut->swap(packed);
            nMethod = METHOD_ZERO_RUNS;
            *pnCoded = coded.size();
        }
    }
    return nMethod;
}

// Appends one chunk: its header (result size, the three methods, each
// stream's unpacked and stored sizes) and its streams.
void WriteChunk(size_t nResult, std::vector<BYTE> raw[STREAM_COUNT], std::vector<BYTE>* pDelta)
{
    std::vector<BYTE> stored[STREAM_COUNT];
    size_t anCoded[STREAM_COUNT];
    int nMethods = 0;
    for (int i = 0; i < STREAM_COUNT; i++)
        nMethods |= PackStream(raw[i], i == STREAM_DIFF, &stored[i], &anCoded[i]) << (2 * i);
    PutVarint(pDelta, nResult);
    pDelta->push_back((BYTE)nMethods);
    for (int i = 0; i < STREAM_COUNT; i++) {
        int nMethod = nMethods >> (2 * i) & 3;
        PutVarint(pDelta, raw[i].size());
        if (nMethod != METHOD_STORED)
            PutVarint(pDelta, stored[i].size());
        if (nMethod == METHOD_ZERO_RUNS)
            PutVarint(pDelta, anCoded[i]);
    }
    for (int i = 0; i < STREAM_COUNT; i++)
        pDelta->insert(pDelta->end(), stored[i].begin(), stored[i].end());
    for (int i = 0; i < STREAM_COUNT; i++)
        raw[i].clear();
}

// ---------------------------------------------------------------- Apply

class DeltaReader {
public:
    DeltaReader(DeltaReadProc pfnRead, void* pParam) : m_pfnRead(pfnRead), m_pParam(pParam), m_nAt(0), m_nHave(0)
    {
    }

    // Exactly nSize bytes, or 0 (a read error or the delta's end).
    int Read(void* pBuf, size_t nSize)
    {
        BYTE* p = (BYTE*)pBuf;
        while (nSize) {
            if (m_nAt == m_nHave && !Fill())
                return 0;
            size_t nTake = std::min(nSize, m_nHave - m_nAt);
            memcpy(p, m_abBuf + m_nAt, nTake);
            m_nAt += nTake;
            p += nTake;
            nSize -= nTake;
        }
        return 1;
    }

    int ReadVarint(uint64_t* pqwValue)
    {
        uint64_t qwValue = 0;
        for (int nShift = 0; nShift < 64; nShift += 7) {
            BYTE b;
            if (!Read(&b, 1) || (nShift == 63 && b > 1))
                return 0;
            qwValue |= (uint64_t)(b & 0x7F) << nShift;
            if (!(b & 0x80)) {
                *pqwValue = qwValue;
                return 1;
            }
        }
        return 0;
    }

    // True when the delta has no byte left.
    int AtEnd() { return m_nAt == m_nHave && !Fill(); }

private:
    int Fill()
    {
        size_t nRead = 0;
        if (!m_pfnRead(m_pParam, m_abBuf, sizeof(m_abBuf), &nRead) || nRead == 0 || nRead > sizeof(m_abBuf))
            return 0;
        m_nAt = 0;
        m_nHave = nRead;
        return 1;
    }

    DeltaReadProc m_pfnRead;
    void* m_pParam;
    size_t m_nAt, m_nHave;
    BYTE m_abBuf[16384];
};

// Inflates exactly nStored bytes into exactly raw.size() bytes.
int Inflate(const BYTE* pStored, size_t nStored, std::vector<BYTE>* pRaw)
{
    z_stream zs = z_stream();
    if (inflateInit2(&zs, -15) != Z_OK)
        return 0;
    zs.next_in = (Bytef*)pStored;
    zs.avail_in = (uInt)nStored;
    zs.next_out = pRaw->data();
    zs.avail_out = (uInt)pRaw->size();
    int nResult = inflate(&zs, Z_FINISH);
    int bOk = nResult == Z_STREAM_END && zs.avail_in == 0 && zs.avail_out == 0;
    inflateEnd(&zs);
    return bOk;
}

// Undoes CodeZeroRuns into exactly raw.size() bytes.
int ExpandZeroRuns(const std::vector<BYTE>& coded, std::vector<BYTE>* pRaw)
{
    const BYTE* p = coded.data();
    const BYTE* pEnd = p + coded.size();
    size_t nAt = 0, nSize = pRaw->size();
    while (p != pEnd) {
        uint64_t qwZeros, qwLiterals;
        if (!GetVarint(&p, pEnd, &qwZeros) || !GetVarint(&p, pEnd, &qwLiterals) || qwZeros > nSize - nAt ||
            qwLiterals > (size_t)(pEnd - p) || qwLiterals > nSize - nAt - qwZeros)
            return 0;
        if (qwZeros)
            memset(pRaw->data() + nAt, 0, (size_t)qwZeros);
        nAt += (size_t)qwZeros;
        if (qwLiterals)
            memcpy(pRaw->data() + nAt, p, (size_t)qwLiterals);
        nAt += (size_t)qwLiterals;
        p += qwLiterals;
    }
    return nAt == nSize;
}

} // namespace

CDelta::CDelta()
{
}

CDelta::~CDelta()
{
}

int CDelta::ReadHeader(const void* pBuf, size_t nSize, DeltaHeader* pHeader)
{
    const BYTE* p = (const BYTE*)pBuf;
    if (!p || nSize < DELTA_HEADER_SIZE || memcmp(p, g_abMagic, 4) != 0 || GetLE(p + 4, 4) != DELTA_VERSION)
        return 0;
    pHeader->qwBaseSize = GetLE(p + 8, 8);
    pHeader->qwResultSize = GetLE(p + 16, 8);
    return 1;
}

int CDelta::Make(const BYTE* pBase, size_t nBase, const BYTE* pNew, size_t nNew, std::vector<BYTE>* pDelta)
{
    // The suffix array holds int positions.
    if (!pDelta || (nBase && !pBase) || (nNew && !pNew) || nBase >= 0x7FFFFFF0)
        return 0;
    try {
        std::vector<Command> commands = FindCommands(pBase, nBase, pNew, nNew);

        pDelta->assign(DELTA_HEADER_SIZE, 0);
        memcpy(pDelta->data(), g_abMagic, 4);
        PutLE(pDelta->data() + 4, DELTA_VERSION, 4);
        PutLE(pDelta->data() + 8, nBase, 8);
        PutLE(pDelta->data() + 16, nNew, 8);

        // Cut the commands into chunks; a command that crosses a chunk's
        // end continues in the next one (the base position carries over).
        std::vector<BYTE> raw[STREAM_COUNT];
        size_t nAt = 0, nBasePos = 0, nChunk = 0;
        for (size_t c = 0; c < commands.size(); c++) {
            Command command = commands[c];
            for (;;) {
                size_t nRoom = DELTA_CHUNK_MAX - nChunk;
                if (raw[STREAM_CONTROL].size() + 30 > DELTA_CONTROL_MAX || (nRoom == 0 && (command.nCopy || command.nExtra))) {
                    WriteChunk(nChunk, raw, pDelta);
                    nChunk = 0;
                    continue;
                }
                size_t nCopy = (size_t)std::min<uint64_t>(command.nCopy, nRoom);
                size_t nExtra = (size_t)std::min<uint64_t>(command.nExtra, nRoom - nCopy);
                bool bWhole = nCopy == command.nCopy && nExtra == command.nExtra;
                int64_t nSeek = bWhole ? command.nSeek : 0;
                PutVarint(&raw[STREAM_CONTROL], nCopy);
                PutVarint(&raw[STREAM_CONTROL], nExtra);
                PutVarint(&raw[STREAM_CONTROL], Zigzag(nSeek));
                for (size_t i = 0; i < nCopy; i++)
                    raw[STREAM_DIFF].push_back((BYTE)(pNew[nAt + i] - pBase[nBasePos + i]));
                raw[STREAM_EXTRA].insert(raw[STREAM_EXTRA].end(), pNew + nAt + nCopy, pNew + nAt + nCopy + nExtra);
                nAt += nCopy + nExtra;
                nBasePos = (size_t)((int64_t)(nBasePos + nCopy) + nSeek);
                nChunk += nCopy + nExtra;
                command.nCopy -= nCopy;
                command.nExtra -= nExtra;
                if (bWhole)
                    break;
            }
        }
        if (nChunk || !raw[STREAM_CONTROL].empty())
            WriteChunk(nChunk, raw, pDelta);
        return nAt == nNew;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int CDelta::Apply(const BYTE* pBase, size_t nBase, DeltaReadProc pfnRead, void* pReadParam, DeltaWriteProc pfnWrite,
                  void* pWriteParam)
{
    if ((nBase && !pBase) || !pfnRead || !pfnWrite)
        return 0;
    try {
        DeltaReader reader(pfnRead, pReadParam);
        BYTE abHeader[DELTA_HEADER_SIZE];
        DeltaHeader header;
        if (!reader.Read(abHeader, sizeof(abHeader)) || !ReadHeader(abHeader, sizeof(abHeader), &header) ||
            header.qwBaseSize != nBase)
            return 0;

        std::vector<BYTE> raw[STREAM_COUNT], stored, coded, out;
        uint64_t qwLeft = header.qwResultSize;
        size_t nBasePos = 0;
        while (qwLeft) {
            uint64_t qwResult, qwRaw[STREAM_COUNT], qwStored[STREAM_COUNT], qwCoded[STREAM_COUNT];
            BYTE bMethods;
            if (!reader.ReadVarint(&qwResult) || qwResult == 0 || qwResult > DELTA_CHUNK_MAX || qwResult > qwLeft ||
                !reader.Read(&bMethods, 1) || bMethods >> (2 * STREAM_COUNT))
                return 0;
            for (int i = 0; i < STREAM_COUNT; i++) {
                int nMethod = bMethods >> (2 * i) & 3;
                if (nMethod > METHOD_ZERO_RUNS || !reader.ReadVarint(&qwRaw[i]))
                    return 0;
                qwStored[i] = qwCoded[i] = qwRaw[i];
                if (nMethod != METHOD_STORED && (!reader.ReadVarint(&qwStored[i]) || qwStored[i] > qwRaw[i]))
                    return 0;
                if (nMethod == METHOD_ZERO_RUNS && (!reader.ReadVarint(&qwCoded[i]) || qwCoded[i] > 2 * qwRaw[i] + 16))
                    return 0;
            }
            // The difference and new bytes make up the chunk's result.
            if (qwRaw[STREAM_CONTROL] > DELTA_CONTROL_MAX || qwRaw[STREAM_DIFF] > qwResult ||
                qwRaw[STREAM_EXTRA] > qwResult || qwRaw[STREAM_DIFF] + qwRaw[STREAM_EXTRA] != qwResult)
                return 0;
            for (int i = 0; i < STREAM_COUNT; i++) {
                int nMethod = bMethods >> (2 * i) & 3;
                raw[i].resize((size_t)qwRaw[i]);
                if (nMethod == METHOD_STORED) {
                    if (!reader.Read(raw[i].data(), raw[i].size()))
                        return 0;
                    continue;
                }
                stored.resize((size_t)qwStored[i]);
                if (!reader.Read(stored.data(), stored.size()))
                    return 0;
                if (nMethod == METHOD_DEFLATE ? !Inflate(stored.data(), stored.size(), &raw[i])
                                              : (coded.resize((size_t)qwCoded[i]),
                                                 !Inflate(stored.data(), stored.size(), &coded) ||
                                                     !ExpandZeroRuns(coded, &raw[i])))
                    return 0;
            }

            out.resize((size_t)qwResult);
            const BYTE* pControl = raw[STREAM_CONTROL].data();
            const BYTE* pControlEnd = pControl + raw[STREAM_CONTROL].size();
            size_t nOut = 0, nDiff = 0, nExtra = 0;
            while (pControl != pControlEnd) {
                uint64_t qwCopy, qwExtra, qwSeek;
                if (!GetVarint(&pControl, pControlEnd, &qwCopy) || !GetVarint(&pControl, pControlEnd, &qwExtra) ||
                    !GetVarint(&pControl, pControlEnd, &qwSeek))
                    return 0;
                if (qwCopy > raw[STREAM_DIFF].size() - nDiff || qwCopy > nBase - nBasePos ||
                    qwExtra > raw[STREAM_EXTRA].size() - nExtra)
                    return 0;
                // The two streams hold exactly the chunk's bytes, so the
                // output cannot overflow either.
                size_t nCopy = (size_t)qwCopy;
                BYTE* pDest = out.data() + nOut;
                const BYTE* pSrc = pBase + nBasePos;
                const BYTE* pDiff = raw[STREAM_DIFF].data() + nDiff;
                for (size_t i = 0; i < nCopy; i++)
                    pDest[i] = (BYTE)(pSrc[i] + pDiff[i]);
                nDiff += nCopy;
                nOut += nCopy;
                nBasePos += nCopy;
                if (qwExtra)
                    memcpy(out.data() + nOut, raw[STREAM_EXTRA].data() + nExtra, (size_t)qwExtra);
                nExtra += (size_t)qwExtra;
                nOut += (size_t)qwExtra;
                int64_t nSeek = Unzigzag(qwSeek);
                if (nSeek < 0 ? (uint64_t)-(nSeek + 1) >= nBasePos : (uint64_t)nSeek > nBase - nBasePos)
                    return 0;
                nBasePos = (size_t)((int64_t)nBasePos + nSeek);
            }
            if (nOut != out.size() || !pfnWrite(pWriteParam, out.data(), out.size()))
                return 0;
            qwLeft -= qwResult;
        }
        return reader.AtEnd();
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
