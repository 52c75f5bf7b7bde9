#pragma once

#include <functional>

class CFleetStats;
class CRunWait;

// A fleet's status while it runs: once a second the second's figures are
// taken (CFleetStats::Sample) and, unless quiet, shown on standard error as
// one status line, redrawn in place on a terminal. Main thread only; the
// stats must outlive the monitor.
class CFleetMonitor {
public:
    CFleetMonitor(CFleetStats& stats, bool bQuiet);

    // Until finished() answers true, the time is up or a stop is requested.
    void Run(CRunWait& wait, const std::function<bool()>& finished);
    // Once the fleet has stopped: its last figures taken, the status line
    // ended.
    void Finish();

private:
    void ShowSecond();

    CFleetStats& m_stats;
    const bool m_bQuiet;
    const bool m_bTerminal;
    bool m_bShown = false;
};
