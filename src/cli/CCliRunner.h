#pragma once

#include "cli/CCliOptions.h"
#include "send/CPacketLoader.h"

// One run of tovrik-cli: load as the start or import button does, open the
// endpoint, run the send worker until it ends, the time is up, or SIGINT or
// SIGTERM arrives, then stop as the stop button does. Call from the main
// thread before any other thread exists (it blocks the two signals).
class CCliRunner {
public:
    explicit CCliRunner(const CCliOptions& options) : m_options(options) {}
    // The process's exit code.
    int Run();
    // Loads the packets as the options say and tells standard error the
    // outcome, as both kinds of run begin.
    static CPacketLoader::Result Load(const CCliOptions& options);

private:
    const CCliOptions& m_options;
};
