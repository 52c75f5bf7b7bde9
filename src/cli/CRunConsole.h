#pragma once

#include <string>
#include <vector>

#include "base/CStatus.h"
#include "figures/CRunRecord.h"
#include "figures/CVerdict.h"
#include "verdict/CThreshold.h"

// What every kind of run tells on the console, for its printer to build on:
// the tool's own lines on standard error, a status line each second (redrawn
// in place on a terminal, a line each otherwise; none when quiet), the
// verdicts on standard output (also when quiet: they are what was asked
// for), and how a run's end becomes the exit code. Main thread.
class CRunConsole {
public:
    explicit CRunConsole(bool bQuiet);

    // A line of the tool's own on standard error.
    static void Say(const std::string& strText);
    // Says why a step failed; answers the exit code: 64 for a request that
    // cannot be carried out as it was put, 1 otherwise.
    static int Failed(const CStatus& status);
    // A run that a threshold ended: which, over which window, when, and its
    // value there, on standard output (also when quiet).
    static void Aborted(const CRunRecord::Abort& abort);
    // Prints each threshold's verdict, then answers the exit code of a run
    // that came to its end: 1 (said) when its files could not be written, 3
    // when a threshold was crossed or bCrossed says the run failed its
    // promise otherwise, else 0.
    static int Finished(const std::vector<CThreshold>& thresholds, const std::vector<CVerdict>& verdicts,
                        const CStatus& written, bool bCrossed);

    // This second's status line.
    void Status(const std::string& strLine);
    // The status line ended: once the run has stopped, or before a line of
    // another kind.
    void EndStatus();

protected:
    bool Quiet() const { return m_bQuiet; }

private:
    const bool m_bQuiet;
    const bool m_bTerminal;
    bool m_bShown = false;
};
