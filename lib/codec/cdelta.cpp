#include "codec/cdelta.h"

#include "codec/bytes.h"

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

// A chunk's streams, in their order in the chunk. The commands' three
// numbers go to three streams and the difference bytes are split into
// zero runs, the runs of other bytes between them and those bytes: deflate
// finds more in streams of one kind each than in one mixed stream.
enum {
    STREAM_COPY,     // control: bytes copied from the base
    STREAM_NEW,      // control: new bytes after them
    STREAM_SEEK,     // control: base position moves, zigzag
    STREAM_ZEROS,    // difference bytes: lengths of the zero runs
    STREAM_LITERALS, // difference bytes: lengths of the nonzero runs
    STREAM_VALUES,   // difference bytes: the nonzero runs' bytes
    STREAM_EXTRA,    // new bytes
    STREAM_COUNT
};
// The chunk's flag byte: bit i set when stream i is deflated, and this bit
// when the difference bytes are the values stream whole (no runs).
const int DIFF_WHOLE = 0x80;

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

// Stores a stream the smallest way found: 1 when deflated into *pOut.
int PackStream(const std::vector<BYTE>& raw, std::vector<BYTE>* pOut)
{
    int bDeflated = 0;
    std::vector<BYTE> packed;
    for (int nStrategy : {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE, Z_HUFFMAN_ONLY}) {
        if (!raw.empty() && Deflate(raw, nStrategy, &packed) && packed.size() < (bDeflated ? pOut : &raw)->size()) {
            pOut->swap(packed);
            bDeflated = 1;
        }
    }
    return bDeflated;
}

// Appends one chunk: the result size it rebuilds, a byte whose bit i says
// stream i is deflated, each stream's unpacked size (and its stored size
// when deflated), then the streams.
void WriteChunk(size_t nResult, const std::vector<BYTE>& diff, std::vector<BYTE> raw[STREAM_COUNT],
                std::vector<BYTE>* pDelta)
{
    // Split: the zero runs, the nonzero runs' lengths and their bytes.
    std::vector<BYTE> split[STREAM_COUNT];
    for (size_t i = 0; i < diff.size();) {
        size_t nZeros = 0, nLiterals = 0;
        while (i + nZeros < diff.size() && diff[i + nZeros] == 0)
            nZeros++;
        i += nZeros;
        while (i + nLiterals < diff.size() && diff[i + nLiterals] != 0)
            nLiterals++;
        PutVarint(&split[STREAM_ZEROS], nZeros);
        PutVarint(&split[STREAM_LITERALS], nLiterals);
        split[STREAM_VALUES].insert(split[STREAM_VALUES].end(), diff.begin() + i, diff.begin() + i + nLiterals);
        i += nLiterals;
    }
    std::vector<BYTE> packed[STREAM_COUNT], whole;
    int nFlags = 0;
    for (int i = 0; i < STREAM_COUNT; i++) {
        if (i >= STREAM_ZEROS && i <= STREAM_VALUES)
            raw[i].swap(split[i]);
        nFlags |= PackStream(raw[i], &packed[i]) << i;
    }
    // Some differences deflate better whole: then they are the values
    // stream alone and the flag DIFF_WHOLE says so.
    size_t nSplitSize = 0;
    for (int i = STREAM_ZEROS; i <= STREAM_VALUES; i++)
        nSplitSize += (nFlags >> i & 1 ? packed[i] : raw[i]).size();
    int bWholeDeflated = PackStream(diff, &whole);
    if ((bWholeDeflated ? whole : diff).size() < nSplitSize) {
        nFlags &= ~((1 << STREAM_ZEROS) | (1 << STREAM_LITERALS) | (1 << STREAM_VALUES));
        nFlags |= DIFF_WHOLE | bWholeDeflated << STREAM_VALUES;
        raw[STREAM_ZEROS].clear();
        raw[STREAM_LITERALS].clear();
        raw[STREAM_VALUES] = diff;
        packed[STREAM_VALUES].swap(whole);
    }
    PutVarint(pDelta, nResult);
    pDelta->push_back((BYTE)nFlags);
    for (int i = 0; i < STREAM_COUNT; i++) {
        PutVarint(pDelta, raw[i].size());
        if (nFlags >> i & 1)
            PutVarint(pDelta, packed[i].size());
    }
    for (int i = 0; i < STREAM_COUNT; i++) {
        const std::vector<BYTE>& stored = nFlags >> i & 1 ? packed[i] : raw[i];
        pDelta->insert(pDelta->end(), stored.begin(), stored.end());
        raw[i].clear();
    }
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

// Rebuilds the difference bytes of a chunk from their three streams, into
// exactly pDiff->size() bytes.
int ExpandDiff(const std::vector<BYTE> raw[STREAM_COUNT], std::vector<BYTE>* pDiff)
{
    const BYTE* pZeros = raw[STREAM_ZEROS].data();
    const BYTE* pZerosEnd = pZeros + raw[STREAM_ZEROS].size();
    const BYTE* pLiterals = raw[STREAM_LITERALS].data();
    const BYTE* pLiteralsEnd = pLiterals + raw[STREAM_LITERALS].size();
    size_t nAt = 0, nValues = 0, nSize = pDiff->size();
    while (pZeros != pZerosEnd) {
        uint64_t qwZeros, qwLiterals;
        if (!GetVarint(&pZeros, pZerosEnd, &qwZeros) || !GetVarint(&pLiterals, pLiteralsEnd, &qwLiterals) ||
            qwZeros > nSize - nAt || qwLiterals > nSize - nAt - qwZeros ||
            qwLiterals > raw[STREAM_VALUES].size() - nValues)
            return 0;
        if (qwZeros)
            memset(pDiff->data() + nAt, 0, (size_t)qwZeros);
        nAt += (size_t)qwZeros;
        if (qwLiterals)
            memcpy(pDiff->data() + nAt, raw[STREAM_VALUES].data() + nValues, (size_t)qwLiterals);
        nAt += (size_t)qwLiterals;
        nValues += (size_t)qwLiterals;
    }
    return nAt == nSize && pLiterals == pLiteralsEnd && nValues == raw[STREAM_VALUES].size();
}

} // namespace

static_assert(STREAM_COUNT == DELTA_STREAM_COUNT, "the header's count of streams");

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
        std::vector<BYTE> raw[STREAM_COUNT], diff;
        size_t nAt = 0, nBasePos = 0, nChunk = 0;
        for (size_t c = 0; c < commands.size(); c++) {
            Command command = commands[c];
            for (;;) {
                size_t nRoom = DELTA_CHUNK_MAX - nChunk;
                size_t nControl = std::max(raw[STREAM_COPY].size(), std::max(raw[STREAM_NEW].size(), raw[STREAM_SEEK].size()));
                if (nControl + 10 > DELTA_CONTROL_MAX || (nRoom == 0 && (command.nCopy || command.nExtra))) {
                    WriteChunk(nChunk, diff, raw, pDelta);
                    diff.clear();
                    nChunk = 0;
                    continue;
                }
                size_t nCopy = (size_t)std::min<uint64_t>(command.nCopy, nRoom);
                size_t nExtra = (size_t)std::min<uint64_t>(command.nExtra, nRoom - nCopy);
                bool bWhole = nCopy == command.nCopy && nExtra == command.nExtra;
                int64_t nSeek = bWhole ? command.nSeek : 0;
                PutVarint(&raw[STREAM_COPY], nCopy);
                PutVarint(&raw[STREAM_NEW], nExtra);
                PutVarint(&raw[STREAM_SEEK], Zigzag(nSeek));
                for (size_t i = 0; i < nCopy; i++)
                    diff.push_back((BYTE)(pNew[nAt + i] - pBase[nBasePos + i]));
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
        if (nChunk || !raw[STREAM_COPY].empty())
            WriteChunk(nChunk, diff, raw, pDelta);
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

        std::vector<BYTE>(&raw)[STREAM_COUNT] = m_streams;
        std::vector<BYTE>& stored = m_stored;
        std::vector<BYTE>& diff = m_diff;
        std::vector<BYTE>& out = m_out;
        uint64_t qwLeft = header.qwResultSize;
        size_t nBasePos = 0;
        while (qwLeft) {
            uint64_t qwResult, qwRaw[STREAM_COUNT], qwStored[STREAM_COUNT];
            BYTE bDeflated;
            if (!reader.ReadVarint(&qwResult) || qwResult == 0 || qwResult > DELTA_CHUNK_MAX || qwResult > qwLeft ||
                !reader.Read(&bDeflated, 1) || (bDeflated & ~DIFF_WHOLE) >> STREAM_COUNT)
                return 0;
            for (int i = 0; i < STREAM_COUNT; i++) {
                if (!reader.ReadVarint(&qwRaw[i]))
                    return 0;
                qwStored[i] = qwRaw[i];
                if ((bDeflated >> i & 1) && (!reader.ReadVarint(&qwStored[i]) || qwStored[i] > qwRaw[i]))
                    return 0;
            }
            // Each stream's bound follows from the chunk's size: the
            // difference bytes are the result's bytes that are not new
            // ones, and a run length takes at most a byte per byte it
            // covers (plus one for a first empty run).
            if (qwRaw[STREAM_EXTRA] > qwResult)
                return 0;
            uint64_t qwDiff = qwResult - qwRaw[STREAM_EXTRA];
            if (qwRaw[STREAM_COPY] > DELTA_CONTROL_MAX || qwRaw[STREAM_NEW] > DELTA_CONTROL_MAX ||
                qwRaw[STREAM_SEEK] > DELTA_CONTROL_MAX || qwRaw[STREAM_ZEROS] > qwDiff + 1 ||
                qwRaw[STREAM_LITERALS] > qwDiff + 1 || qwRaw[STREAM_VALUES] > qwDiff)
                return 0;
            for (int i = 0; i < STREAM_COUNT; i++) {
                raw[i].resize((size_t)qwRaw[i]);
                if (!(bDeflated >> i & 1)) {
                    if (!reader.Read(raw[i].data(), raw[i].size()))
                        return 0;
                    continue;
                }
                stored.resize((size_t)qwStored[i]);
                if (!reader.Read(stored.data(), stored.size()) || !Inflate(stored.data(), stored.size(), &raw[i]))
                    return 0;
            }
            if (bDeflated & DIFF_WHOLE) {
                if (qwRaw[STREAM_VALUES] != qwDiff || qwRaw[STREAM_ZEROS] || qwRaw[STREAM_LITERALS])
                    return 0;
                diff.swap(raw[STREAM_VALUES]);
            } else {
                diff.resize((size_t)qwDiff);
                if (!ExpandDiff(raw, &diff))
                    return 0;
            }

            out.resize((size_t)qwResult);
            const BYTE* apControl[3];
            const BYTE* apControlEnd[3];
            for (int i = 0; i < 3; i++) {
                apControl[i] = raw[STREAM_COPY + i].data();
                apControlEnd[i] = apControl[i] + raw[STREAM_COPY + i].size();
            }
            size_t nOut = 0, nDiff = 0, nExtra = 0;
            while (apControl[0] != apControlEnd[0]) {
                uint64_t qwCopy, qwExtra, qwSeek;
                if (!GetVarint(&apControl[0], apControlEnd[0], &qwCopy) ||
                    !GetVarint(&apControl[1], apControlEnd[1], &qwExtra) ||
                    !GetVarint(&apControl[2], apControlEnd[2], &qwSeek))
                    return 0;
                if (qwCopy > diff.size() - nDiff || qwCopy > nBase - nBasePos ||
                    qwExtra > raw[STREAM_EXTRA].size() - nExtra)
                    return 0;
                // The difference and new bytes make up exactly the chunk's
                // result, so the output cannot overflow either.
                size_t nCopy = (size_t)qwCopy;
                BYTE* pDest = out.data() + nOut;
                const BYTE* pSrc = pBase + nBasePos;
                const BYTE* pDiff = diff.data() + nDiff;
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
            if (apControl[1] != apControlEnd[1] || apControl[2] != apControlEnd[2])
                return 0;
            if (nOut != out.size() || !pfnWrite(pWriteParam, out.data(), out.size()))
                return 0;
            qwLeft -= qwResult;
        }
        return reader.AtEnd();
    } catch (const std::bad_alloc&) {
        return 0;
    }
}
