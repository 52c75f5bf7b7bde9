#include "cli/CRunOptions.h"

#include <CLI/CLI.hpp>

#include "cli/CEndpointOption.h"
#include "metrics/CMetricsServer.h"

CRunOptions::CRunOptions(CLI::App& app, CRunOutputs& outputs, std::vector<CThreshold::Metric> metrics)
    : m_outputs(outputs), m_metrics(std::move(metrics))
{
    std::string strNames;
    for (size_t i = 0; i < m_metrics.size() && i < 8; ++i)
        strNames += std::string(i == 0 ? "" : ", ") + m_metrics[i].pszName;
    if (m_metrics.size() > 8)
        strNames += ", ...";
    app.add_option("--stats-json", outputs.strStatsJson, "Write the run's figures as JSON to this file");
    app.add_option("--report", outputs.strReport, "Write an HTML report of the run, with plots, to this file");
    app.add_option("--metrics", m_strMetrics,
                   std::string("Serve the run's figures for Prometheus at http://ADDR:PORT/metrics") +
                       (CMetricsServer::IsAvailable() ? "" : " (Linux only: refused by this build)"));
    app.add_option("--threshold", m_thresholds,
                   "Pass/fail rule on the run's figures (" + strNames +
                       "), e.g. errors==0 (repeatable; any crossed: exit code 3)")
        ->allow_extra_args(false);
}

bool CRunOptions::Any() const
{
    return m_outputs.strStatsJson || m_outputs.strReport || m_strMetrics || !m_thresholds.empty();
}

std::optional<std::pair<const char*, std::string>> CRunOptions::Read()
{
    if (m_outputs.strReport && m_outputs.strReport == m_outputs.strStatsJson)
        return std::make_pair("--report", "'" + *m_outputs.strReport + "' is the --stats-json file too");
    if (m_strMetrics) {
        const std::string strWrong =
            CEndpointOption::ReadMetrics(*m_strMetrics, m_outputs.strMetricsAddress, m_outputs.nMetricsPort);
        if (!strWrong.empty())
            return std::make_pair("--metrics", strWrong);
    }
    m_outputs.thresholds.clear();
    for (const std::string& strThreshold : m_thresholds) {
        CThreshold threshold;
        const CStatus parsed = CThreshold::Parse(strThreshold, threshold, m_metrics);
        if (!parsed.IsOk())
            return std::make_pair("--threshold", parsed.Message());
        m_outputs.thresholds.push_back(threshold);
    }
    return std::nullopt;
}
