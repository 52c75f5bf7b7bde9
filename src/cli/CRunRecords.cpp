#include "cli/CRunRecords.h"

#include <chrono>

#include "report/CFileWriter.h"
#include "report/CHtmlReport.h"
#include "report/CStatsMerger.h"

namespace {

// The report's name for the run it is made of, when no stats file names it.
constexpr char kThisRun[] = "this run";

CStatus CannotWrite(const std::string& strPath, const CStatus& status)
{
    return CStatus::Error("cannot write " + strPath + ": " + status.Message(), status.Code());
}

}  // namespace

CRunRecords::CRunRecords(const std::optional<std::string>& strStatsJson, const std::optional<std::string>& strReport)
    : m_strStatsJson(strStatsJson), m_strReport(strReport)
{
}

CStatus CRunRecords::CheckWritable() const
{
    for (const std::optional<std::string>* pPath : {&m_strStatsJson, &m_strReport}) {
        if (!*pPath)
            continue;
        const CStatus status = CFileWriter::CanWrite(**pPath);
        if (!status.IsOk())
            return CannotWrite(**pPath, status);
    }
    return CStatus();
}

void CRunRecords::MarkStart()
{
    m_nStartUnixMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
}

CStatus CRunRecords::Write(const CFleetStats& stats, CFleetStats::Identity identity, double dSeconds) const
{
    if (!m_strStatsJson && !m_strReport)
        return CStatus();
    identity.nStartUnixMs = m_nStartUnixMs;
    const std::string strJson = stats.Json(identity, dSeconds);
    CStatus result;
    if (m_strStatsJson) {
        const CStatus written = CFileWriter::Write(*m_strStatsJson, strJson);
        if (!written.IsOk())
            result = CannotWrite(*m_strStatsJson, written);
    }
    if (m_strReport) {
        CStatsMerger merger;
        CRunReport report;
        CStatus made = merger.AddText(m_strStatsJson ? *m_strStatsJson : kThisRun, strJson);
        if (made.IsOk())
            made = merger.Merge(report);
        if (made.IsOk())
            made = CHtmlReport::Write(*m_strReport, report);
        if (!made.IsOk()) {
            const CStatus failed = CannotWrite(*m_strReport, made);
            result = result.IsOk() ? failed
                                   : CStatus::Error(result.Message() + "; " + failed.Message(), result.Code());
        }
    }
    return result;
}
