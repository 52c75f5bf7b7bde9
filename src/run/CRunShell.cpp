#include "run/CRunShell.h"

#include <algorithm>

#include "base/CRunWait.h"
#include "base/CStopSource.h"
#include "metrics/CMetricsServer.h"
#include "report/CFileWriter.h"
#include "time/CCalendar.h"

namespace {

CStatus CannotWrite(const std::string& strPath, const CStatus& status)
{
    return CStatus::Error("cannot write " + strPath + ": " + status.Message(), status.Code());
}

// The first failure keeps its code; the others add their words.
void Add(CStatus& result, const CStatus& failure)
{
    result = result.IsOk() ? failure : CStatus::Error(result.Message() + "; " + failure.Message(), result.Code());
}

}  // namespace

CRunShell::CRunShell(CRunOutputs outputs) : m_outputs(std::move(outputs)) {}

CRunShell::~CRunShell() = default;

CStatus CRunShell::CheckFiles() const
{
    for (const std::optional<std::string>* pPath : {&m_outputs.strStatsJson, &m_outputs.strReport}) {
        if (!*pPath)
            continue;
        const CStatus status = CFileWriter::CanWrite(**pPath);
        if (!status.IsOk())
            return CannotWrite(**pPath, status);
    }
    return CStatus();
}

CStatus CRunShell::ServeMetrics(std::function<std::string()> body)
{
    if (!m_outputs.strMetricsAddress)
        return CStatus();
    m_pMetrics = std::make_unique<CMetricsServer>(std::move(body));
    return m_pMetrics->Start(*m_outputs.strMetricsAddress, m_outputs.nMetricsPort);
}

uint16_t CRunShell::MetricsPort() const
{
    return m_pMetrics ? m_pMetrics->Port() : 0;
}

bool CRunShell::Start(CStopSource& stop, int64_t nStartAtUnixMs)
{
    bool bStopped = false;
    for (int64_t nLeftMs = nStartAtUnixMs - CCalendar::NowUnixMs(); nLeftMs > 0 && !bStopped;
         nLeftMs = nStartAtUnixMs - CCalendar::NowUnixMs()) {
        // A second at most, so that a clock set meanwhile is followed.
        bStopped = stop.Wait(static_cast<int>(std::min<int64_t>(nLeftMs, 1000)));
    }
    m_pWait = std::make_unique<CRunWait>(stop, bStopped ? std::optional<double>(0.0) : m_outputs.dStopAfter);
    m_nStartUnixMs = CCalendar::NowUnixMs();
    return !bStopped;
}

void CRunShell::Wait(const std::function<bool()>& ended, const std::function<void()>& onSecond)
{
    m_pWait->Wait([this, &ended] { return m_abort.has_value() || ended(); }, onSecond);
    m_dSeconds = m_pWait->Seconds();
}

bool CRunShell::JudgeWindow(const CThreshold::Figures& figures, uint64_t nSecond, double dWindowSeconds)
{
    if (m_abort)
        return true;
    for (const CThreshold& threshold : m_outputs.thresholds) {
        CVerdict verdict = threshold.Judge(figures);
        if (verdict.bOk)
            continue;
        CRunRecord::Abort abort;
        abort.verdict = std::move(verdict);
        abort.dWindowSeconds = dWindowSeconds;
        abort.nSecond = nSecond;
        abort.nUnixMs = m_nStartUnixMs + static_cast<int64_t>(nSecond) * 1000;
        m_abort = std::move(abort);
        return true;
    }
    return false;
}

bool CRunShell::Judge(const CThreshold::Figures& figures, std::vector<CVerdict>& verdicts) const
{
    return CThreshold::Judge(m_outputs.thresholds, figures, verdicts);
}

CStatus CRunShell::Write(const std::string& strJson, const ReportMaker& report) const
{
    CStatus result;
    if (m_outputs.strStatsJson) {
        const CStatus written = CFileWriter::Write(*m_outputs.strStatsJson, strJson);
        if (!written.IsOk())
            Add(result, CannotWrite(*m_outputs.strStatsJson, written));
    }
    if (m_outputs.strReport) {
        std::string strHtml;
        CStatus made = report(strJson, strHtml);
        if (made.IsOk())
            made = CFileWriter::Write(*m_outputs.strReport, strHtml);
        if (!made.IsOk())
            Add(result, CannotWrite(*m_outputs.strReport, made));
    }
    return result;
}
