#include "codec_data.h"

namespace {

struct Random {
    explicit Random(uint32_t nSeed) : m_nState(nSeed * 2654435761u + 1) {}
    // xorshift32: fixed across compilers and platforms, unlike <random>'s
    // distributions.
    uint32_t Next()
    {
        m_nState ^= m_nState << 13;
        m_nState ^= m_nState >> 17;
        m_nState ^= m_nState << 5;
        return m_nState;
    }
    uint32_t m_nState;
};

} // namespace

Bytes BytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes RandomBytes(size_t n, uint32_t nSeed)
{
    Random rnd(nSeed);
    Bytes data(n);
    for (size_t i = 0; i < n; i++)
        data[i] = (BYTE)(rnd.Next() >> 24);
    return data;
}

Bytes AlphabetBytes(size_t n, const Bytes& values, uint32_t nSeed)
{
    Random rnd(nSeed);
    Bytes data(n);
    for (size_t i = 0; i < n; i++)
        data[i] = values[(rnd.Next() >> 8) % values.size()];
    return data;
}

Bytes TextBytes(size_t n)
{
    static const char* const apszWords[] = {"the", "patch", "folder", "install", "data", "file", "of", "a",
        "copy", "game", "update", "and", "registry", "value", "uninstall", "list", "to", "is", "archive"};
    const size_t nWords = sizeof(apszWords) / sizeof(apszWords[0]);
    Random rnd(7);
    std::string text;
    while (text.size() < n) {
        text += apszWords[rnd.Next() % nWords];
        uint32_t nSep = rnd.Next() % 16;
        text += nSep == 0 ? ".\r\n" : nSep == 1 ? ", " : " ";
    }
    text.resize(n);
    return BytesOf(text);
}

Bytes ZeroRunBytes(size_t n)
{
    Random rnd(11);
    Bytes data;
    while (data.size() < n) {
        data.insert(data.end(), rnd.Next() % 5000, 0);
        for (uint32_t i = rnd.Next() % 4; i > 0; i--)
            data.push_back((BYTE)rnd.Next());
    }
    data.resize(n);
    return data;
}

// Runs of a few values, most around the longest match, between short
// pieces from a small alphabet: the coder's shortcut for runs meets every
// kind of neighbour in its search trees, also as the window wraps.
static Bytes MixedRunBytes(size_t n)
{
    static const BYTE abRuns[] = {0x00, 0x20, 0xFF, 'a'}, abBetween[] = {0x00, 'a', 'b', ' '};
    Random rnd(13);
    Bytes data;
    while (data.size() < n) {
        data.insert(data.end(), 10 + rnd.Next() % 20, abRuns[rnd.Next() % 4]);
        for (uint32_t i = rnd.Next() % 6; i > 0; i--)
            data.push_back(abBetween[rnd.Next() % 4]);
    }
    data.resize(n);
    return data;
}

const std::vector<Sample>& RoundTripSamples()
{
    static std::vector<Sample> samples;
    if (!samples.empty())
        return samples;
    const size_t anSizes[] = {0, 1, 2, 3, 17, 18, 19, 4095, 4096, 4097, 12345, 300000};
    for (size_t n : anSizes) {
        std::string size = std::to_string(n);
        samples.push_back({"random " + size, RandomBytes(n, (uint32_t)n)});
        samples.push_back({"text " + size, TextBytes(n)});
        samples.push_back({"zero runs " + size, ZeroRunBytes(n)});
        samples.push_back({"mixed runs " + size, MixedRunBytes(n)});
        samples.push_back({"two values " + size, AlphabetBytes(n, {0x00, 0xFF}, 3)});
        samples.push_back({"three values " + size, AlphabetBytes(n, BytesOf("xyz"), 5)});
    }
    return samples;
}
