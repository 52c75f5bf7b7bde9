#include "traffic/CCorruption.h"

#include <cstring>

namespace {

const char kStructural[] = "{}[]:,";
constexpr uint64_t kStructuralCount = sizeof kStructural - 1;

bool IsStructural(char c)
{
    return c != '\0' && std::strchr(kStructural, c) != nullptr;
}

size_t Truncate(uint64_t nBits, size_t nLength)
{
    return nLength < 2 ? nLength : 1 + static_cast<size_t>(nBits % (nLength - 1));
}

// The number of structural bytes outside strings and, when nWanted is
// below it, where the nWanted-th of them is.
size_t FindStructural(const char* pData, size_t nLength, size_t nWanted, size_t& nAt)
{
    size_t nCount = 0;
    bool bInString = false;
    for (size_t i = 0; i < nLength; ++i) {
        const char c = pData[i];
        if (bInString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                bInString = false;
        } else if (c == '"') {
            bInString = true;
        } else if (IsStructural(c)) {
            if (nCount == nWanted)
                nAt = i;
            ++nCount;
        }
    }
    return nCount;
}

}  // namespace

size_t CCorruption::Apply(CLinkFaults::Corruption nKind, uint64_t nBits, char* pData, size_t nLength)
{
    if (nLength == 0)
        return 0;
    switch (nKind) {
    case CLinkFaults::kTruncate:
        return Truncate(nBits, nLength);
    case CLinkFaults::kFlip:
        pData[(nBits >> 3) % nLength] ^= static_cast<char>(1u << (nBits & 7));
        return nLength;
    case CLinkFaults::kBreakJson: {
        size_t nAt = 0;
        const size_t nCount = FindStructural(pData, nLength, SIZE_MAX, nAt);
        if (nCount == 0)
            return Truncate(nBits, nLength);
        FindStructural(pData, nLength, static_cast<size_t>(nBits % nCount), nAt);
        // Another of the six, never the same one.
        const char* pOld = std::strchr(kStructural, pData[nAt]);
        const uint64_t nShift = 1 + (nBits >> 32) % (kStructuralCount - 1);
        pData[nAt] = kStructural[(static_cast<uint64_t>(pOld - kStructural) + nShift) % kStructuralCount];
        return nLength;
    }
    case CLinkFaults::kNoCorruption:
        break;
    }
    return nLength;
}
