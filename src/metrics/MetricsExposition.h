#pragma once

#include <string>

// The lines of the Prometheus text exposition format (0.0.4) that every
// run's metrics are written with: a metric's HELP and TYPE lines, and its
// samples with their labels ("shard=\"0/1\"", without the braces). Any
// thread.
namespace MetricsExposition {

void AppendHead(std::string& out, const char* pszName, const char* pszType, const char* pszHelp);
void AppendSample(std::string& out, const char* pszName, const std::string& strLabels, const std::string& strValue);
// A metric of one sample: its head and the sample.
void AppendMetric(std::string& out, const char* pszName, const char* pszType, const char* pszHelp,
                  const std::string& strLabels, const std::string& strValue);

}  // namespace MetricsExposition
