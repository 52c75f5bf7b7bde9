#include "cli/CRunOptions.h"

#include <CLI/CLI.hpp>

#include "cli/CEndpointOption.h"
#include "metrics/CMetricsServer.h"
#include "text/CDuration.h"

CRunOptions::CRunOptions(CLI::App& app, CRunOutputs& outputs, std::vector<CThreshold::Metric> metrics,
                         bool bWindows)
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
    if (!bWindows)
        return;
    app.add_flag("--abort-on-fail", outputs.bAbortOnFail,
                 "Also judge the thresholds each second over the last --threshold-window; the first crossing ends the "
                 "run (exit code 3)");
    app.add_option("--threshold-window", m_strWindow,
                   "With --abort-on-fail: the seconds judged each second (default 10s, whole seconds)");
    app.add_option("--threshold-grace", m_strGrace,
                   "With --abort-on-fail: judge from this long after the start (default the reply timeout and one "
                   "window)");
}

bool CRunOptions::Any() const
{
    return m_outputs.strStatsJson || m_outputs.strReport || m_strMetrics || !m_thresholds.empty() ||
           m_outputs.bAbortOnFail || m_strWindow || m_strGrace;
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
    if (m_outputs.bAbortOnFail && m_thresholds.empty())
        return std::make_pair("--abort-on-fail", std::string("needs a --threshold to judge"));
    const std::pair<const char*, const std::optional<std::string>*> durations[] = {{"--threshold-window", &m_strWindow},
                                                                                  {"--threshold-grace", &m_strGrace}};
    for (const auto& [pszOption, pText] : durations) {
        if (!*pText)
            continue;
        if (!m_outputs.bAbortOnFail)
            return std::make_pair(pszOption, std::string("goes with --abort-on-fail only"));
        int64_t nNs = 0;
        const bool bWindow = pText == &m_strWindow;
        if (!CDuration::Read(**pText, bWindow ? CDuration::kNsPerSecond : 0, CThreshold::kMaxWindowNs, nNs))
            return std::make_pair(pszOption, "'" + **pText + "' is not a duration from " +
                                                 (bWindow ? std::string("1s") : std::string("0s")) + " to 1h (" +
                                                 CDuration::Form() + ")");
        if (bWindow)
            m_outputs.nWindowNs = nNs;
        else
            m_outputs.nGraceNs = nNs;
    }
    return std::nullopt;
}
