#include "receive/CReceiveThresholds.h"

const std::vector<CThreshold::Metric>& CReceiveThresholds::Metrics()
{
    static const std::vector<CThreshold::Metric> metrics = {
        {"loss", CThreshold::Kind::kRatio},       {"malformed", CThreshold::Kind::kCount},
        {"duplicates", CThreshold::Kind::kCount}, {"reordered", CThreshold::Kind::kCount},
        {"rate", CThreshold::Kind::kRate},
    };
    return metrics;
}

CThreshold::Figures CReceiveThresholds::Figures(const CReceiveRecord& record)
{
    return {
        {"loss", record.Loss()},
        {"malformed", static_cast<double>(record.nMalformed)},
        {"duplicates", static_cast<double>(record.nDuplicates)},
        {"reordered", static_cast<double>(record.nReordered)},
        {"rate", record.Rate()},
    };
}
