#include "metrics/MetricsExposition.h"

void MetricsExposition::AppendHead(std::string& out, const char* pszName, const char* pszType, const char* pszHelp)
{
    out += "# HELP ";
    out += pszName;
    out += ' ';
    out += pszHelp;
    out += "\n# TYPE ";
    out += pszName;
    out += ' ';
    out += pszType;
    out += '\n';
}

void MetricsExposition::AppendSample(std::string& out, const char* pszName, const std::string& strLabels,
                                     const std::string& strValue)
{
    out += pszName;
    out += '{';
    out += strLabels;
    out += "} ";
    out += strValue;
    out += '\n';
}

void MetricsExposition::AppendMetric(std::string& out, const char* pszName, const char* pszType, const char* pszHelp,
                                     const std::string& strLabels, const std::string& strValue)
{
    AppendHead(out, pszName, pszType, pszHelp);
    AppendSample(out, pszName, strLabels, strValue);
}
