#pragma once

#include "cli/CCliOptions.h"

// One run of tovrik-cli: load as the start or import button does, open the
// endpoint, run the send worker until it ends, the time is up, or a stop
// request (CStopSignal) arrives, then stop as the stop button does. Call from
// the main thread before any other thread exists.
class CCliRunner {
public:
    explicit CCliRunner(const CCliOptions& options) : m_options(options) {}
    // The process's exit code.
    int Run();

private:
    const CCliOptions& m_options;
};
