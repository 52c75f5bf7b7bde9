#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/CStatus.h"
#include "traffic/CTrafficConfig.h"

// A scenario file (--scenario FILE): one JSON object whose keys are the
// traffic options' names and whose values are their texts (strings, or
// numbers where the option takes a plain number):
//
//     {"seed": 7, "vary": ["temperature=walk(20,30,0.5)"], "loss": "1%,burst=3",
//      "outage": "10min,30s,return=10s",
//      "stages": [{"at": "60s", "loss": "10%", "jitter": "uniform(0ms,50ms)"},
//                 {"at": "90s", "loss": "off", "devices": "50%", "ramp": "30s"},
//                 {"at": "120s", "outage": "30s,return=5s"}]}
//
// Top-level keys: seed, vary (one rule or a list), loss, duplicate, reorder,
// jitter, corrupt, churn, outage (one or a list of AT,DURATION[,return=
// SPREAD]) and stages. A stage has "at" (a duration after the start, not
// before the stage before it) and any of loss, duplicate, reorder, jitter,
// corrupt and churn (from then on), outage (DURATION[,return=SPREAD], from
// "at"), devices (the devices online: 50% or a count) with ramp (how long
// they take to get there; default at once). Any thread.
class CScenario {
public:
    // Files larger than this are refused rather than read.
    static constexpr int64_t kMaxFileBytes = 1 << 20;

    // Reads the file by its UTF-8 path into config. A failure names the file,
    // and the key and the value that are wrong.
    [[nodiscard]] static CStatus ReadFile(const std::string& strPath, CTrafficConfig& config);
    // The same for a file's text; strName names it.
    [[nodiscard]] static CStatus ReadText(const std::string& strName, std::string_view json, CTrafficConfig& config);
};
