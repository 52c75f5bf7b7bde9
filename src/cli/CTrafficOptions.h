#pragma once

#include "traffic/CTrafficConfig.h"

namespace CLI {
class App;
}

// The traffic options of tovrik-cli: generated values (--vary), the link's
// faults (--loss, --duplicate, --reorder, --jitter, --corrupt), dropouts and
// outages (--churn, --outage), a scenario file (--scenario) and the seed
// (--seed), read by the core's grammar (CTrafficConfig, CScenario) into a
// fleet run's traffic config. What the command line gives replaces what
// the scenario file gives.
class CTrafficOptions {
public:
    // Adds the options to the app. Their rules run when the app has parsed
    // (in turn; the first broken one is a usage error with its message);
    // bGiven tells then whether any was given.
    static void AddTo(CLI::App& app, CTrafficConfig& config, bool& bGiven);
};
