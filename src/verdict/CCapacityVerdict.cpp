#include "verdict/CCapacityVerdict.h"

#include <cmath>
#include <cstdio>

#include "text/CDecimal.h"
#include "verdict/CThreshold.h"

std::string CCapacityVerdict::Rate(double dPerSecond)
{
    if (dPerSecond == std::round(dPerSecond) && dPerSecond >= 0 && dPerSecond < 1e15)
        return CDecimal::Grouped(static_cast<uint64_t>(dPerSecond)) + "/s";
    char text[48];
    std::snprintf(text, sizeof text, "%.6g/s", dPerSecond);
    return text;
}

std::string CCapacityVerdict::Sentence(const CRunRecord::Capacity& capacity)
{
    std::string strLine = "capacity: ";
    if (capacity.dBehindAt) {
        strLine += "none claimed: the fleet fell behind its schedule at " + Rate(*capacity.dBehindAt) +
                   " before any threshold was crossed, so it measured itself; search again with more shards "
                   "(--shard) or more --threads";
    } else if (capacity.dCapacity && capacity.dCrossedAt) {
        const std::string strRate = Rate(*capacity.dCapacity);
        strLine += strRate.substr(0, strRate.size() - 2) + " datagrams/s (the last rate that held every threshold)";
    } else if (capacity.dCapacity) {
        const std::string strRate = Rate(*capacity.dCapacity);
        strLine += "at least " + strRate.substr(0, strRate.size() - 2) + " datagrams/s (every step held" +
                   (capacity.bComplete ? ", up to the top of the search)" : "; the search was stopped before its end)");
    } else if (capacity.dCrossedAt) {
        strLine += "below " + Rate(*capacity.dCrossedAt) + ", the first step";
    } else {
        strLine += "none found: the search was stopped before its first step was judged";
    }
    if (capacity.dCrossedAt && capacity.crossed && !capacity.dBehindAt) {
        const std::string strVerdict = CThreshold::LineOf(*capacity.crossed);
        strLine += "; crossed at " + Rate(*capacity.dCrossedAt) + ": " +
                   strVerdict.substr(std::char_traits<char>::length("threshold "));
    }
    if (capacity.dRequired)
        strLine += std::string("; ") + (capacity.Found() ? "at least" : "below") + " the " +
                   Rate(*capacity.dRequired) + " required";
    return strLine;
}
