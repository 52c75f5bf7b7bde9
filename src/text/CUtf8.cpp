#include "text/CUtf8.h"

namespace {

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed sequence at p (1 to 4), or 0.
size_t SequenceAt(const char* p, const char* pEnd)
{
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80)
        return 1;
    size_t nLength = 0;
    // The range of the second byte, which rules out overlong forms,
    // surrogates and code points past U+10FFFF.
    unsigned char nLow = 0x80;
    unsigned char nHigh = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        nLength = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        nLength = 3;
        if (c == 0xE0)
            nLow = 0xA0;
        else if (c == 0xED)
            nHigh = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        nLength = 4;
        if (c == 0xF0)
            nLow = 0x90;
        else if (c == 0xF4)
            nHigh = 0x8F;
    } else {
        return 0;
    }
    if (static_cast<size_t>(pEnd - p) < nLength)
        return 0;
    const unsigned char c1 = static_cast<unsigned char>(p[1]);
    if (c1 < nLow || c1 > nHigh)
        return 0;
    for (size_t i = 2; i < nLength; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(p[i])))
            return 0;
    }
    return nLength;
}

}  // namespace

std::string CUtf8::Valid(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size());
    const char* p = bytes.data();
    const char* const pEnd = p + bytes.size();
    while (p < pEnd) {
        const size_t nLength = SequenceAt(p, pEnd);
        if (nLength == 0) {
            out += CUtf8::kReplacement;
            ++p;
        } else {
            out.append(p, nLength);
            p += nLength;
        }
    }
    return out;
}
