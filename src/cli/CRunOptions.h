#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/CRunOutputs.h"
#include "verdict/CThreshold.h"

namespace CLI {
class App;
}

// The options every kind of run takes for its outputs, --stats-json,
// --report, --metrics and --threshold, read into the run's CRunOutputs by
// one set of rules. The object must outlive the app's parsing. Main thread.
class CRunOptions {
public:
    // Adds the options to the app; thresholds are read with the run's
    // metrics, whose names the help lists. bWindows: the run judges its
    // thresholds each second too (--abort-on-fail and its window).
    CRunOptions(CLI::App& app, CRunOutputs& outputs, std::vector<CThreshold::Metric> metrics, bool bWindows);
    CRunOptions(const CRunOptions&) = delete;
    CRunOptions& operator=(const CRunOptions&) = delete;

    // Whether any of them was given.
    bool Any() const;
    // Reads them once the app has parsed: the first broken rule as the
    // option and what is wrong (to follow "OPTION: "); none when all hold.
    std::optional<std::pair<const char*, std::string>> Read();

private:
    CRunOutputs& m_outputs;
    const std::vector<CThreshold::Metric> m_metrics;
    std::optional<std::string> m_strMetrics;
    std::vector<std::string> m_thresholds;
    std::optional<std::string> m_strWindow;
    std::optional<std::string> m_strGrace;
};
