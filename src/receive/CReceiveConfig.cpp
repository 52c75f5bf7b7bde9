#include "receive/CReceiveConfig.h"

#include <algorithm>
#include <vector>

#include "text/CDecimal.h"
#include "traffic/COptionText.h"
#include "traffic/CRate.h"
#include "traffic/CTrafficConfig.h"

CStatus CReceiveConfig::ReadCapacity(const std::string& strText, double& dCapacity, uint64_t& nQueue)
{
    const std::vector<std::string> items = COptionText::SplitList(strText);
    std::string strKey;
    std::string strValue;
    double dRead = 0;
    uint64_t nRead = 0;
    const bool bQueue = items.size() == 2;
    if (items.size() > 2 || !CRate::Read(items[0], CTrafficConfig::kMaxRate, dRead).IsOk() ||
        (bQueue && (!COptionText::SplitKeyValue(items[1], strKey, strValue) || strKey != "queue" ||
                    strValue.size() > 9 || !CDecimal::Read(strValue, 100000000, nRead) || nRead == 0)))
        return COptionText::Refuse(strText, "is not R[/s][,queue=N]: answers a second (as --rate takes them) and "
                                            "how many may wait for their turn, 1 to 100000000");
    dCapacity = dRead;
    nQueue = bQueue ? nRead : std::max<uint64_t>(1, static_cast<uint64_t>(dRead / 10));
    return CStatus();
}

CStatus CReceiveConfig::CheckThresholds() const
{
    for (const CThreshold& threshold : outputs.thresholds) {
        // Without a counter these measure nothing: they would always pass.
        if (threshold.GetEvidence() == CThreshold::Evidence::kCounter && strCounter.empty())
            return CStatus::Invalid("--threshold: '" + threshold.Expression() +
                                    "' measures the counter: add --counter MEMBER");
    }
    return CStatus();
}
