#include "receive/CReceiveConfig.h"

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
