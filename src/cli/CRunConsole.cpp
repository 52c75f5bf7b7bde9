#include "cli/CRunConsole.h"

#include <cstdio>

#include "cli/CCliOptions.h"
#include "cli/CConsole.h"
#include "time/CCalendar.h"

CRunConsole::CRunConsole(bool bQuiet) : m_bQuiet(bQuiet), m_bTerminal(CConsole::IsTerminal(stderr)) {}

void CRunConsole::Say(const std::string& strText)
{
    CConsole::Write(stderr, strText + "\n");
}

int CRunConsole::Failed(const CStatus& status)
{
    Say(status.Message());
    return status.IsInvalid() ? CCliOptions::kExitUsage : CCliOptions::kExitFailure;
}

void CRunConsole::Aborted(const CRunRecord::Abort& abort)
{
    const std::string strLine = CThreshold::LineOf(abort.verdict);
    std::printf("aborted at second %llu of the run (%s): %s over the last %.0f s\n",
                static_cast<unsigned long long>(abort.nSecond), CCalendar::UtcText(abort.nUnixMs).c_str(),
                strLine.c_str(), abort.dWindowSeconds);
    std::fflush(stdout);
}

int CRunConsole::Finished(const std::vector<CThreshold>& thresholds, const std::vector<CVerdict>& verdicts,
                          const CStatus& written, bool bCrossed)
{
    for (size_t i = 0; i < thresholds.size() && i < verdicts.size(); ++i)
        std::printf("%s\n", thresholds[i].Line(verdicts[i]).c_str());
    std::fflush(stdout);
    if (!written.IsOk())
        return Failed(written);
    return bCrossed ? CCliOptions::kExitCrossed : CCliOptions::kExitOk;
}

void CRunConsole::Status(const std::string& strLine)
{
    if (m_bQuiet)
        return;
    std::fprintf(stderr, m_bTerminal ? "\r%s\033[K" : "%s\n", strLine.c_str());
    std::fflush(stderr);
    m_bShown = true;
}

void CRunConsole::EndStatus()
{
    if (m_bShown && m_bTerminal)
        std::fprintf(stderr, "\n");
    m_bShown = false;
}
