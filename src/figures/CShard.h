#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Part K of M of a fleet: M processes, each running one part, make one fleet
// of N devices. Shard K has the devices floor(K N / M) to
// floor((K + 1) N / M) - 1. A plain value; any thread.
class CShard {
public:
    // The most shards a fleet can have: a device each.
    static constexpr uint32_t kMaxShards = 1000000;

    CShard() = default;

    // "K/M" in decimal digits (at most 19 each, leading zeros allowed), with
    // M at most kMaxShards and K < M.
    static bool Parse(std::string_view text, CShard& shard);

    uint32_t Index() const { return m_nIndex; }
    uint32_t Count() const { return m_nCount; }
    // "K/M".
    std::string Text() const;
    // This shard's devices of a fleet of nFleet: [nFirst, nFirst + nDevices).
    void Range(uint64_t nFleet, uint64_t& nFirst, uint64_t& nDevices) const;

    bool operator==(const CShard& other) const { return m_nIndex == other.m_nIndex && m_nCount == other.m_nCount; }

private:
    uint32_t m_nIndex = 0;
    uint32_t m_nCount = 1;
};
