#pragma once

#include <memory>
#include <optional>

#include "cli/CCliOptions.h"

// A fleet run of tovrik-cli, one job after the other:
// 1. LoadPlan: load as one device does, build the fleet's plan, find this
//    shard's devices and the scheduler threads, say what runs;
// 2. CheckLimits: ports and file descriptors (where a dry run ends), the
//    stats file, the target;
// 3. OpenSockets: the metrics server (--metrics; a taken port ends the run
//    before a socket is opened), a socket per device, the clock, the reply
//    reader (or the filter that drops replies);
// 4. RunEngine: the fleet engine, watched by CFleetMonitor (a status line a
//    second) until every device has ended, the time is up, or SIGINT or
//    SIGTERM arrives; then stopped;
// 5. Summarize: the closing lines, the thresholds' verdicts and the stats
//    file.
// Each of 1-4 answers the exit code when the run ends there.
//
// Call Run from the main thread before any other thread exists (step 3
// blocks the two signals). Builds without the fleet engine refuse every
// fleet run with a usage error.
class CFleetRunner {
public:
    explicit CFleetRunner(const CCliOptions& options);
    ~CFleetRunner();
    CFleetRunner(const CFleetRunner&) = delete;
    CFleetRunner& operator=(const CFleetRunner&) = delete;

    // The process's exit code.
    int Run();

private:
    // What the jobs make and hand on, in the order they make it.
    struct State;

    std::optional<int> LoadPlan();
    std::optional<int> CheckLimits();
    std::optional<int> OpenSockets();
    std::optional<int> ServeMetrics();
    std::optional<int> RunEngine();
    int Summarize();

    const CCliOptions& m_options;
    std::unique_ptr<State> m_pState;
};
