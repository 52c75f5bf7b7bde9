#include "report/CRunRecords.h"

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

CStatus CRunRecords::Write(const CRunRecord& record) const
{
    if (!m_strStatsJson && !m_strReport)
        return CStatus();
    const std::string strJson = record.Json();
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
