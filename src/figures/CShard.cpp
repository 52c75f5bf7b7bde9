#include "figures/CShard.h"

#include "text/CDecimal.h"

namespace {

bool ReadPart(std::string_view text, uint64_t& nValue)
{
    return text.size() <= 19 && CDecimal::Read(text, CShard::kMaxShards, nValue);
}

}  // namespace

bool CShard::Parse(std::string_view text, CShard& shard)
{
    const size_t nSlash = text.find('/');
    uint64_t nIndex = 0;
    uint64_t nCount = 0;
    if (nSlash == std::string_view::npos || !ReadPart(text.substr(0, nSlash), nIndex) ||
        !ReadPart(text.substr(nSlash + 1), nCount) || nIndex >= nCount)
        return false;
    shard.m_nIndex = static_cast<uint32_t>(nIndex);
    shard.m_nCount = static_cast<uint32_t>(nCount);
    return true;
}

std::string CShard::Text() const
{
    return std::to_string(m_nIndex) + "/" + std::to_string(m_nCount);
}

void CShard::Range(uint64_t nFleet, uint64_t& nFirst, uint64_t& nDevices) const
{
    // N and M are at most a million each: the products fit.
    nFirst = nFleet * m_nIndex / m_nCount;
    nDevices = nFleet * (m_nIndex + 1) / m_nCount - nFirst;
}
