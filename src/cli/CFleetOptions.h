#pragma once

#include <optional>
#include <string>

#include "fleet/CFleetConfig.h"

namespace CLI {
class App;
}

// The fleet options of tovrik-cli, parsed and checked into the part of a
// fleet run's config that only fleets have; the settings a fleet shares with
// one device (target, mode, messages) are CCliOptions'.
struct CFleetOptions {
    CFleetConfig config;
    // Any fleet option given, or more than one device.
    bool bFleet = false;
    // --interval or --rate given: a run of one device is a fleet of one.
    bool bPaced = false;

    // What the fleet options' rules need of the rest of the command line, as
    // parsed by the time they run.
    struct Context {
        const std::string& strMode;
        const std::optional<std::string>& strImport;
        const bool& bCaptureTime;
    };

    // Adds the options to the app. Their rules run when the app has parsed
    // (each in turn; the first broken one is a usage error with its message).
    static void AddTo(CLI::App& app, CFleetOptions& options, const Context& context);
};
