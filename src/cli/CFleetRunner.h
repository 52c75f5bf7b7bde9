#pragma once

#include "cli/CCliOptions.h"

// A fleet run of tovrik-cli: load as one device does, build the fleet's plan,
// open a socket per device (limits checked first), run the fleet engine with
// a status line every second until every device has ended, the time is up,
// or SIGINT or SIGTERM arrives; then the summary. Call from the main thread
// before any other thread exists (it blocks the two signals). Builds without
// the fleet engine refuse every fleet run with a usage error.
class CFleetRunner {
public:
    explicit CFleetRunner(const CCliOptions& options) : m_options(options) {}
    // The process's exit code.
    int Run();

private:
    const CCliOptions& m_options;
};
