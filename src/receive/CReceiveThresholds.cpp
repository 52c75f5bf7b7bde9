#include "receive/CReceiveThresholds.h"

const std::vector<CThreshold::Metric>& CReceiveThresholds::Metrics()
{
    using Kind = CThreshold::Kind;
    constexpr CThreshold::Evidence kCounter = CThreshold::Evidence::kCounter;
    static const std::vector<CThreshold::Metric> metrics = {
        {"loss", Kind::kShare, kCounter},       {"malformed", Kind::kCount}, {"duplicates", Kind::kCount, kCounter},
        {"reordered", Kind::kCount, kCounter}, {"rate", Kind::kRate},
    };
    return metrics;
}

CThreshold::Figures CReceiveThresholds::Figures(const CReceiveRecord& record)
{
    CThreshold::Figures figures = {
        {"malformed", static_cast<double>(record.nMalformed)},
        {"duplicates", static_cast<double>(record.nDuplicates)},
        {"reordered", static_cast<double>(record.nReordered)},
    };
    // A loss needs a number expected, a rate a time to count over.
    if (record.nExpected > 0)
        figures["loss"] = record.Loss();
    if (record.dSeconds > 0)
        figures["rate"] = record.Rate();
    return figures;
}
