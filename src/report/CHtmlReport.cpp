#include "report/CHtmlReport.h"

#include <algorithm>
#include <functional>

#include "TovrikVersion.h"
#include "report/CFileWriter.h"
#include "report/CHtmlText.h"
#include "report/CSvgPlot.h"
#include "report/HtmlPage.h"
#include "text/CDecimal.h"
#include "time/CCalendar.h"
#include "schedule/SendModes.h"

namespace {

using HtmlPage::Colour;
using HtmlPage::Format;
using HtmlPage::MakeLine;
using HtmlPage::Row;
using HtmlPage::Section;
using HtmlPage::ShellWord;

constexpr Colour kSent = {"datagrams", "#1f77b4", ""};
constexpr Colour kErrors = {"send errors", "#d62728", ""};
constexpr Colour kReplies = {"replies", "#2ca02c", ""};
constexpr Colour kP50 = {"p50", "#1f77b4", ""};
constexpr Colour kP99 = {"p99", "#ff7f0e", "7 4"};
constexpr Colour kMax = {"max", "#d62728", "2 3"};
constexpr Colour kLost = {"datagrams lost", "#9467bd", ""};

std::string ModeText(int nMode)
{
    if (nMode < 0 || nMode >= SendModes::kCount)
        return nMode < 0 ? "different modes in different shards" : std::to_string(nMode);
    const SendModes::Info& mode = SendModes::kModes[nMode];
    return std::to_string(nMode) + " (" + mode.pszName + ", " + mode.pszLabel + ")";
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
        strText += (i == 0 ? "" : ", ") + std::string(CFaultCounts::Name(i)) + " " + CDecimal::Grouped(faults.counts[i]);
    return strText + " (" + CDecimal::Grouped(faults.Total()) + " in all); held back at the stop, never sent: " +
           CDecimal::Grouped(faults.nHeldAtStop);
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
    out += Row("Devices", CDecimal::Grouped(report.nDevices) + " of a fleet of " + CDecimal::Grouped(report.nFleetDevices));
    out += Row("Datagrams sent",
               CDecimal::Grouped(report.nSent) +
                   (report.dSeconds > 0 ? " (" + Format("%.1f", dSent / report.dSeconds) + " per second)" : ""));
    out += Row("Send errors", CDecimal::Grouped(report.nErrors));
    out += Row("Replies", CDecimal::Grouped(report.nReplies) +
                              (report.nSent > 0
                                   ? " (" + Format("%.3f", static_cast<double>(report.nReplies) / dSent) +
                                         " per datagram sent)"
                                   : ""));
    out += Row("Lateness", "p50 " + Format("%.3f", report.dP50Ms) + " ms, p99 " + Format("%.3f", report.dP99Ms) +
                               " ms, max " + Format("%.3f", report.dMaxMs) + " ms");
    if (report.bRepliesMatched) {
        const CReplyStats::Counts& counts = report.replyCounts;
        out += Row("Round trip", "p50 " + Format("%.3f", report.dRttP50Ms) + " ms, p99 " +
                                     Format("%.3f", report.dRttP99Ms) + " ms, max " + Format("%.3f", report.dRttMaxMs) +
                                     " ms (" + CDecimal::Grouped(counts.nMatched) + " replies matched)");
        out += Row("Datagrams lost", CDecimal::Grouped(counts.nLost) + " (" + CDecimal::Grouped(counts.nEvicted) + " evicted), " +
                                         CDecimal::Grouped(counts.nUntracked) + " not tracked");
        out += Row("Other replies", CDecimal::Grouped(counts.nLate) + " late, " + CDecimal::Grouped(counts.nDuplicate) + " duplicate, " +
                                        CDecimal::Grouped(counts.nUnmatched) + " unmatched, " + CDecimal::Grouped(counts.nOutOfOrder) +
                                        " matched out of order");
    }
    out += Row("Duration", Format("%.1f", report.dSeconds) + " s");
    out += Row("Started", CCalendar::UtcText(report.nStartUnixMs));
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

// Each threshold's verdict as its file recorded it.
std::string Thresholds(const CRunReport& report)
{
    if (report.verdicts.empty())
        return std::string();
    std::vector<CVerdict> verdicts;
    std::vector<std::string> sources;
    for (const CRunReport::Verdict& verdict : report.verdicts) {
        verdicts.push_back(verdict.verdict);
        if (report.shards.size() > 1)
            sources.push_back(verdict.strSource);
    }
    return "<section>\n<h2>Thresholds</h2>\n" + CHtmlReport::VerdictTable(verdicts, sources) + "</section>\n";
}

std::vector<CSvgPlot::Bar> Bars(const std::vector<CRunReport::Bucket>& buckets)
{
    std::vector<CSvgPlot::Bar> bars;
    for (const CRunReport::Bucket& bucket : buckets)
        bars.push_back({static_cast<double>(bucket.nFromNs) / 1e6, static_cast<double>(bucket.nToNs) / 1e6, bucket.nCount});
    return bars;
}

}  // namespace

std::string CHtmlReport::Html(const CRunReport& report)
{
    std::vector<double> sent, errors, replies, p50, p99, max, lost, rttP50, rttP99, rttMax;
    for (const CRunReport::Second& second : report.series) {
        sent.push_back(static_cast<double>(second.nSent));
        errors.push_back(static_cast<double>(second.nErrors));
        replies.push_back(static_cast<double>(second.nReplies));
        p50.push_back(second.dP50Ms);
        p99.push_back(second.dP99Ms);
        max.push_back(second.dMaxMs);
        lost.push_back(static_cast<double>(second.nLost));
        rttP50.push_back(second.dRttP50Ms);
        rttP99.push_back(second.dRttP99Ms);
        rttMax.push_back(second.dRttMaxMs);
    }

    const std::string strTitle = "Fleet run of " + CDecimal::Grouped(report.nDevices) + " devices";
    std::string out = HtmlPage::Head(strTitle, CCalendar::UtcText(report.nStartUnixMs),
                                     "started " + CCalendar::UtcText(report.nStartUnixMs) + ", " + Format("%.1f", report.dSeconds) +
                                         " s, " + CDecimal::Grouped(report.nSent) + " datagrams");
    out += "<section>\n<h2>Command line</h2>\n" + CommandLines(report) + "</section>\n";
    out += "<section>\n<h2>Summary</h2>\n" + Summary(report) + "</section>\n";
    out += Thresholds(report);
    out += Section("Datagrams per second", CSvgPlot::Lines("datagrams per second", "datagrams/s", {MakeLine(kSent, sent)}));
    out += Section("Send errors per second",
                   CSvgPlot::Lines("send errors per second", "errors/s", {MakeLine(kErrors, errors)}));
    out += Section("Replies per second", CSvgPlot::Lines("replies per second", "replies/s", {MakeLine(kReplies, replies)}));
    out += Section("Lateness per second",
                   CSvgPlot::Lines("lateness per second", "ms", {MakeLine(kP50, p50), MakeLine(kP99, p99), MakeLine(kMax, max)}));
    out += Section("Lateness of every datagram",
                   CSvgPlot::Histogram("lateness histogram", "lateness", "datagrams", Bars(report.histogram)));
    if (report.bRepliesMatched) {
        out += Section("Round trip per second",
                       CSvgPlot::Lines("round trip per second", "ms",
                                       {MakeLine(kP50, rttP50), MakeLine(kP99, rttP99), MakeLine(kMax, rttMax)}));
        out += Section("Round trip of every matched reply",
                       CSvgPlot::Histogram("round trip histogram", "round trip", "replies", Bars(report.rttHistogram)));
        out += Section("Datagrams lost per second",
                       CSvgPlot::Lines("datagrams lost per second", "lost/s", {MakeLine(kLost, lost)}));
    }
    out += HtmlPage::Foot("Written by tovrik-cli " + std::string(TovrikVersion::kText) + " from " +
           std::to_string(report.shards.size()) + (report.shards.size() == 1 ? " stats file" : " stats files") +
           ". Lateness is a datagram's delay against its scheduled instant; the whole run's quantiles come from its "
           "histogram" +
           (report.shards.size() > 1 ? ", a second's p50 and p99 from the shards' figures weighted by their datagrams"
                                     : "") +
           ".");
    return out;
}

std::string CHtmlReport::VerdictTable(const std::vector<CVerdict>& verdicts, const std::vector<std::string>& sources)
{
    const bool bSources = !sources.empty();
    std::string out = "<table class=\"verdicts\">\n<tr><th>rule</th><th>value</th><th>verdict</th>" +
                      std::string(bSources ? "<th>stats file</th>" : "") + "</tr>\n";
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const CVerdict& verdict = verdicts[i];
        out += "<tr><td>" + CHtmlText::Escape(verdict.strExpression) + "</td><td>" + verdict.ValueText() +
               "</td><td>" + (verdict.bOk ? "ok" : "crossed") + "</td>" +
               (bSources && i < sources.size() ? "<td>" + CHtmlText::Escape(sources[i]) + "</td>" : "") + "</tr>\n";
    }
    return out + "</table>\n";
}

CStatus CHtmlReport::Write(const std::string& strPath, const CRunReport& report)
{
    return CFileWriter::Write(strPath, Html(report));
}
