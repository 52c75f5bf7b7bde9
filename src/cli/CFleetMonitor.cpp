#include "cli/CFleetMonitor.h"

#include <unistd.h>

#include <cstdio>

#include "cli/CRunWait.h"
#include "fleet/CFleetStats.h"

CFleetMonitor::CFleetMonitor(CFleetStats& stats, bool bQuiet)
    : m_stats(stats), m_bQuiet(bQuiet), m_bTerminal(isatty(STDERR_FILENO) == 1)
{
}

void CFleetMonitor::Run(CRunWait& wait, const std::function<bool()>& finished)
{
    wait.Wait(finished, [this] { ShowSecond(); });
}

void CFleetMonitor::ShowSecond()
{
    const CFleetStats::Second second = m_stats.Sample();
    if (m_bQuiet)
        return;
    std::fprintf(stderr, m_bTerminal ? "\r%s\033[K" : "%s\n", m_stats.StatusLine(second).c_str());
    std::fflush(stderr);
    m_bShown = true;
}

void CFleetMonitor::Finish()
{
    m_stats.Sample();
    if (m_bShown && m_bTerminal)
        std::fprintf(stderr, "\n");
}
