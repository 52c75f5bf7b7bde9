#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "verdict/CThreshold.h"

// What any kind of run reports besides its result, as a front end asks for
// it: the stats file and the HTML report written at its end, the address
// its figures are served at for Prometheus while it goes, the thresholds
// judged on its figures, how long it may last, and its command line for the
// records. A plain value.
struct CRunOutputs {
    std::optional<std::string> strStatsJson;
    std::optional<std::string> strReport;
    // An IPv4 address (port 0: one the system picks).
    std::optional<std::string> strMetricsAddress;
    uint16_t nMetricsPort = 0;
    std::vector<CThreshold> thresholds;
    // Also judged each second over the last nWindowNs of the run, once
    // nGraceNs has passed (none: the run's own default); the first crossing
    // ends the run.
    bool bAbortOnFail = false;
    int64_t nWindowNs = 10000000000;
    std::optional<int64_t> nGraceNs;
    // The run ends after this long, in seconds, if it has not by itself.
    std::optional<double> dStopAfter;
    // The arguments as given, the program's name first.
    std::vector<std::string> commandLine;
};
