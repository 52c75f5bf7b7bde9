#include "report/CHtmlReport.h"

#include <algorithm>
#include <cinttypes>
#include <functional>
#include <cstdio>

#include "TovrikVersion.h"
#include "report/CFileWriter.h"
#include "report/CHtmlText.h"
#include "report/CSvgPlot.h"
#include "schedule/SendModes.h"
#include "time/CCalendar.h"

namespace {

constexpr char kStyle[] =
    "body{font-family:system-ui,'DejaVu Sans',sans-serif;margin:0 auto;max-width:1000px;padding:16px 24px;"
    "color:#222;background:#fff}"
    "h1{font-size:1.5em;margin:0.2em 0}h2{font-size:1.1em;margin:1.6em 0 0.4em}"
    ".sub{color:#555;margin:0 0 1em}"
    "pre.cmd{background:#f4f4f4;border:1px solid #ddd;padding:8px;white-space:pre-wrap;overflow-wrap:anywhere;"
    "margin:0.3em 0 0.8em}"
    ".shard{color:#555;margin:0.6em 0 0}"
    "table.summary{border-collapse:collapse}table.summary th{text-align:left;font-weight:600;padding:3px 16px 3px 0;"
    "vertical-align:top}table.summary td{padding:3px 0;font-variant-numeric:tabular-nums}"
    "svg.plot{width:100%;height:auto;display:block}"
    "svg .grid{stroke:#e4e4e4;stroke-width:1}svg .axis{stroke:#888;stroke-width:1}"
    "svg .frame{fill:none;stroke:#888;stroke-width:1}"
    "svg .series{fill:none;stroke-width:1.6;stroke-linejoin:round}svg .key{stroke-width:2.5}"
    "svg .bar{fill:#4c78a8}svg text{font-size:13px;fill:#333}svg .title{font-size:13px;fill:#555}"
    "svg .empty{font-size:16px;fill:#999}"
    "footer{color:#777;font-size:0.85em;margin:2em 0 1em}";

struct Colour {
    const char* pszName;
    const char* pszColour;
    const char* pszDash;
};
constexpr Colour kSent = {"datagrams", "#1f77b4", ""};
constexpr Colour kErrors = {"send errors", "#d62728", ""};
constexpr Colour kReplies = {"replies", "#2ca02c", ""};
constexpr Colour kP50 = {"p50", "#1f77b4", ""};
constexpr Colour kP99 = {"p99", "#ff7f0e", "7 4"};
constexpr Colour kMax = {"max", "#d62728", "2 3"};

std::string Format(const char* pszFormat, double d)
{
    char text[64];
    std::snprintf(text, sizeof text, pszFormat, d);
    return text;
}

// 1234567 as "1,234,567".
std::string Count(uint64_t n)
{
    std::string digits = std::to_string(n);
    for (size_t i = digits.size(); i > 3; i -= 3)
        digits.insert(i - 3, ",");
    return digits;
}

// "2026-05-01 10:00:00.123 UTC", whatever the machine's time zone. The
// instant is from 1970 on (the stats files are checked for it).
std::string UtcTime(int64_t nUnixMs)
{
    const int64_t nMsOfDay = nUnixMs % 86400000;
    int nYear = 0;
    int nMonth = 0;
    int nDay = 0;
    CCalendar::CivilFromDays(nUnixMs / 86400000, nYear, nMonth, nDay);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64 " UTC", nYear,
                  nMonth, nDay, nMsOfDay / 3600000, nMsOfDay / 60000 % 60, nMsOfDay / 1000 % 60, nMsOfDay % 1000);
    return text;
}

// An argument as a POSIX shell would take it back: as it is when it holds
// nothing the shell treats specially, else in single quotes.
std::string ShellWord(const std::string& strArgument)
{
    bool bPlain = !strArgument.empty();
    for (const char c : strArgument) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!(u >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              std::string("_-.,/:=+@%").find(c) != std::string::npos))
            bPlain = false;
    }
    if (bPlain)
        return strArgument;
    std::string out = "'";
    for (const char c : strArgument) {
        if (c == '\'')
            out += "'\\''";
        else
            out.push_back(c);
    }
    return out + "'";
}

std::string ModeText(int nMode)
{
    if (nMode < 0 || nMode >= SendModes::kCount)
        return nMode < 0 ? "different modes in different shards" : std::to_string(nMode);
    const SendModes::Info& mode = SendModes::kModes[nMode];
    return std::to_string(nMode) + " (" + mode.pszName + ", " + mode.pszLabel + ")";
}

std::string Row(const char* pszHeading, const std::string& strValue)
{
    return std::string("<tr><th>") + pszHeading + "</th><td>" + CHtmlText::Escape(strValue) + "</td></tr>\n";
}

std::string ShardsText(const CRunReport& report)
{
    const uint32_t nShards = report.shards.empty() ? 1 : report.shards.front().nShards;
    if (nShards == 1)
        return "one process";
    std::string strText = std::to_string(report.shards.size()) + " of " + std::to_string(nShards);
    if (!report.missingShards.empty()) {
        strText += " (no file for shard";
        strText += report.missingShards.size() == 1 ? " " : "s ";
        for (size_t i = 0; i < report.missingShards.size(); ++i)
            strText += (i == 0 ? "" : ", ") + std::to_string(report.missingShards[i]);
        strText += ")";
    }
    return strText;
}

// "loss 12, duplicate 3, ..., offline 0 (15 in all)".
std::string FaultsText(const CFaultCounts& faults)
{
    std::string strText;
    for (size_t i = 0; i < CFaultCounts::kKinds; ++i)
        strText += (i == 0 ? "" : ", ") + std::string(CFaultCounts::Name(i)) + " " + Count(faults.counts[i]);
    return strText + " (" + Count(faults.Total()) + " in all)";
}

// The shards' seeds in shard order.
std::string SeedsText(const std::vector<uint64_t>& seeds)
{
    std::string strText;
    for (size_t i = 0; i < seeds.size(); ++i)
        strText += (i == 0 ? "" : ", ") + std::to_string(seeds[i]);
    return strText;
}

std::string Summary(const CRunReport& report)
{
    const double dSent = static_cast<double>(report.nSent);
    std::string out = "<table class=\"summary\">\n";
    out += Row("Devices", Count(report.nDevices) + " of a fleet of " + Count(report.nFleetDevices));
    out += Row("Datagrams sent",
               Count(report.nSent) +
                   (report.dSeconds > 0 ? " (" + Format("%.1f", dSent / report.dSeconds) + " per second)" : ""));
    out += Row("Send errors", Count(report.nErrors));
    out += Row("Replies", Count(report.nReplies) +
                              (report.nSent > 0
                                   ? " (" + Format("%.3f", static_cast<double>(report.nReplies) / dSent) +
                                         " per datagram sent)"
                                   : ""));
    out += Row("Lateness", "p50 " + Format("%.3f", report.dP50Ms) + " ms, p99 " + Format("%.3f", report.dP99Ms) +
                               " ms, max " + Format("%.3f", report.dMaxMs) + " ms");
    out += Row("Duration", Format("%.1f", report.dSeconds) + " s");
    out += Row("Started", UtcTime(report.nStartUnixMs));
    out += Row("Mode", ModeText(report.nMode));
    out += Row("Shards", ShardsText(report));
    if (report.bTraffic) {
        out += Row("Injected faults", FaultsText(report.faults));
        const bool bOne = std::adjacent_find(report.seeds.begin(), report.seeds.end(), std::not_equal_to<>()) ==
                          report.seeds.end();
        out += Row(bOne ? "Seed" : "Seeds (by shard)", bOne ? std::to_string(report.seeds.front()) : SeedsText(report.seeds));
    }
    out += Row("CPU time", Format("%.2f", report.dCpuSeconds) + " s" + (report.shards.size() > 1 ? " (all shards)" : ""));
    out += Row("Peak RSS", Format("%.1f", static_cast<double>(report.nMaxRssKb) / 1024) + " MiB" +
                               (report.shards.size() > 1 ? " (largest shard)" : ""));
    return out + "</table>\n";
}

std::string CommandLines(const CRunReport& report)
{
    std::string out;
    for (const CRunReport::Shard& shard : report.shards) {
        std::string strLine;
        for (const std::string& strArgument : shard.commandLine)
            strLine += (strLine.empty() ? "" : " ") + ShellWord(strArgument);
        const std::string strShard =
            shard.nShards > 1 ? "shard " + std::to_string(shard.nShard) + "/" + std::to_string(shard.nShards) + ", " : "";
        out += "<p class=\"shard\">" + CHtmlText::Escape(strShard + shard.strSource) + "</p>\n";
        out += "<pre class=\"cmd\">" + (strLine.empty() ? std::string("(not recorded)") : CHtmlText::Escape(strLine)) +
               "</pre>\n";
    }
    return out;
}

CSvgPlot::Line MakeLine(const Colour& colour, std::vector<double> values)
{
    return CSvgPlot::Line{colour.pszName, colour.pszColour, colour.pszDash, std::move(values)};
}

std::string Plot(const char* pszHeading, const std::string& strSvg)
{
    return std::string("<section>\n<h2>") + pszHeading + "</h2>\n" + strSvg + "</section>\n";
}

}  // namespace

std::string CHtmlReport::Html(const CRunReport& report)
{
    std::vector<double> sent, errors, replies, p50, p99, max;
    for (const CRunReport::Second& second : report.series) {
        sent.push_back(static_cast<double>(second.nSent));
        errors.push_back(static_cast<double>(second.nErrors));
        replies.push_back(static_cast<double>(second.nReplies));
        p50.push_back(second.dP50Ms);
        p99.push_back(second.dP99Ms);
        max.push_back(second.dMaxMs);
    }
    std::vector<CSvgPlot::Bar> bars;
    for (const CRunReport::Bucket& bucket : report.histogram)
        bars.push_back({static_cast<double>(bucket.nFromNs) / 1e6, static_cast<double>(bucket.nToNs) / 1e6, bucket.nCount});

    const std::string strTitle = "Fleet run of " + Count(report.nDevices) + " devices";
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                      CHtmlText::Escape(strTitle) + ", " + UtcTime(report.nStartUnixMs) + "</title>\n<style>" +
                      kStyle + "</style>\n</head>\n<body>\n<header>\n<h1>" + CHtmlText::Escape(strTitle) +
                      "</h1>\n<p class=\"sub\">started " + UtcTime(report.nStartUnixMs) + ", " +
                      Format("%.1f", report.dSeconds) + " s, " + Count(report.nSent) + " datagrams</p>\n</header>\n";
    out += "<section>\n<h2>Command line</h2>\n" + CommandLines(report) + "</section>\n";
    out += "<section>\n<h2>Summary</h2>\n" + Summary(report) + "</section>\n";
    out += Plot("Datagrams per second", CSvgPlot::Lines("datagrams per second", "datagrams/s", {MakeLine(kSent, sent)}));
    out += Plot("Send errors per second",
                CSvgPlot::Lines("send errors per second", "errors/s", {MakeLine(kErrors, errors)}));
    out += Plot("Replies per second", CSvgPlot::Lines("replies per second", "replies/s", {MakeLine(kReplies, replies)}));
    out += Plot("Lateness per second",
                CSvgPlot::Lines("lateness per second", "ms", {MakeLine(kP50, p50), MakeLine(kP99, p99), MakeLine(kMax, max)}));
    out += Plot("Lateness of every datagram", CSvgPlot::Histogram("lateness histogram", bars));
    out += "<footer>Written by tovrik-cli " + std::string(TovrikVersion::kText) + " from " +
           std::to_string(report.shards.size()) + (report.shards.size() == 1 ? " stats file" : " stats files") +
           ". Lateness is a datagram's delay against its scheduled instant; the whole run's quantiles come from its "
           "histogram" +
           (report.shards.size() > 1 ? ", a second's p50 and p99 from the shards' figures weighted by their datagrams"
                                     : "") +
           ".</footer>\n</body>\n</html>\n";
    return out;
}

CStatus CHtmlReport::Write(const std::string& strPath, const CRunReport& report)
{
    return CFileWriter::Write(strPath, Html(report));
}
