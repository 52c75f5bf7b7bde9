#include "report/CHtmlReport.h"

#include <algorithm>
#include <functional>

#include "TovrikVersion.h"
#include "report/CFileWriter.h"
#include "report/CHtmlText.h"
#include "report/CSvgPlot.h"
#include "report/HtmlPage.h"
#include "verdict/CCapacityVerdict.h"
#include "verdict/CThreshold.h"
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
constexpr Colour kTarget = {"target", "#7f7f7f", "6 3"};
constexpr Colour kLoss = {"reply loss", "#9467bd", ""};

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
    if (report.whole.handshakes)
        out += Row("DTLS handshakes", CHtmlText::Escape(report.whole.handshakes->Text()));
    if (report.bTraffic) {
        out += Row("Injected faults", FaultsText(report.faults));
        const bool bOne = std::adjacent_find(report.seeds.begin(), report.seeds.end(), std::not_equal_to<>()) ==
                          report.seeds.end();
        out += Row(bOne ? "Seed" : "Seeds (by shard)", bOne ? std::to_string(report.seeds.front()) : SeedsText(report.seeds));
    }
    uint64_t nBehind = 0;
    for (const CRunReport::Second& second : report.series)
        nBehind += second.bBehind ? 1 : 0;
    if (nBehind > 0)
        out += Row("Fell behind", CDecimal::Grouped(nBehind) + " of " + CDecimal::Grouped(report.series.size()) +
                                      " seconds: the fleet could not keep its schedule there, so those seconds measure "
                                      "it, not the server");
    for (const auto& [strSource, abort] : report.aborts)
        out += Row("Aborted", "at second " + std::to_string(abort.nSecond) + " (" + CCalendar::UtcText(abort.nUnixMs) +
                                  "): " + CThreshold::LineOf(abort.verdict) + " over the last " +
                                  Format("%.0f", abort.dWindowSeconds) + " s" +
                                  (report.shards.size() > 1 ? " (" + strSource + ")" : ""));
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

// Each threshold's verdict as its file recorded it, and as the merged
// figures crossed or held them when the report judged them.
std::string Thresholds(const CRunReport& report)
{
    if (report.verdicts.empty() && report.mergedVerdicts.empty())
        return std::string();
    std::vector<CVerdict> verdicts = report.mergedVerdicts;
    std::vector<std::string> sources(verdicts.size(), "all files merged");
    for (const CRunReport::Verdict& verdict : report.verdicts) {
        verdicts.push_back(verdict.verdict);
        sources.push_back(verdict.strSource);
    }
    if (report.shards.size() <= 1 && report.mergedVerdicts.empty())
        sources.clear();
    return "<section>\n<h2>Thresholds</h2>\n" + CHtmlReport::VerdictTable(verdicts, sources) + "</section>\n";
}

// A capacity search: what it found, its steps and the knee, the round trips
// and the reply loss against the rate.
std::string Capacity(const CRunReport& report)
{
    if (!report.capacity)
        return std::string();
    const CRunRecord::Capacity& capacity = *report.capacity;
    std::string out = "<section>\n<h2>Capacity</h2>\n<p class=\"capacity\">" +
                      CHtmlText::Escape(CCapacityVerdict::Sentence(capacity)) + "</p>\n";
    if (!report.strCapacityNote.empty())
        out += "<p>" + CHtmlText::Escape(report.strCapacityNote) + "</p>\n";
    out += "<table class=\"verdicts\">\n<tr><th>step</th><th>rate</th><th>seconds judged</th><th>sent</th>"
           "<th>late p99</th><th>rtt p50</th><th>rtt p99</th><th>reply loss</th><th>behind</th><th>verdict</th></tr>\n";
    std::vector<double> rates;
    std::vector<double> rttP50;
    std::vector<double> rttP99;
    std::vector<double> loss;
    for (size_t i = 0; i < capacity.steps.size(); ++i) {
        const CRunRecord::CapacityStep& step = capacity.steps[i];
        std::string strRtt50 = "-";
        std::string strRtt99 = "-";
        std::string strLoss = "-";
        if (step.replies) {
            const double dLoss = step.replies->counts.LossShare();
            strRtt50 = Format("%.3f", step.replies->rtt.dP50Ms) + " ms";
            strRtt99 = Format("%.3f", step.replies->rtt.dP99Ms) + " ms";
            strLoss = Format("%.4f", dLoss);
            rates.push_back(step.dRate);
            rttP50.push_back(step.replies->rtt.dP50Ms);
            rttP99.push_back(step.replies->rtt.dP99Ms);
            loss.push_back(dLoss);
        }
        std::string strVerdict = step.bHeld ? "held" : "crossed";
        for (const CVerdict& verdict : step.verdicts) {
            if (!verdict.bOk)
                strVerdict += "; " + CThreshold::LineOf(verdict);
        }
        out += "<tr><td>" + std::to_string(i + 1) + "</td><td>" + CCapacityVerdict::Rate(step.dRate) + "</td><td>" +
               std::to_string(step.nSeconds) + "</td><td>" + CDecimal::Grouped(step.nSent) + "</td><td>" +
               Format("%.3f", step.lateness.dP99Ms) + " ms</td><td>" + strRtt50 + "</td><td>" + strRtt99 +
               "</td><td>" + strLoss + "</td><td>" + std::to_string(step.nBehindSeconds) + " s</td><td>" +
               CHtmlText::Escape(strVerdict) + "</td></tr>\n";
    }
    out += "</table>\n";
    // The knee, in the order of the rates.
    std::vector<size_t> order(rates.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&rates](size_t a, size_t b) { return rates[a] < rates[b]; });
    const auto sorted = [&order](const std::vector<double>& values) {
        std::vector<double> out;
        for (const size_t i : order)
            out.push_back(values[i]);
        return out;
    };
    if (!rates.empty()) {
        out += CSvgPlot::Against("round trip against the rate", "datagrams a second", sorted(rates), "ms",
                                 {MakeLine(kP50, sorted(rttP50)), MakeLine(kP99, sorted(rttP99))});
        out += CSvgPlot::Against("reply loss against the rate", "datagrams a second", sorted(rates), "share lost",
                                 {MakeLine(kLoss, sorted(loss))});
    }
    return out + "</section>\n";
}

// This run's figures beside a baseline run's: the change, and whether it
// is for the worse, so a regression stands out.
std::string Baseline(const CRunReport& report)
{
    if (!report.pBaseline)
        return std::string();
    const CRunReport& base = *report.pBaseline;
    struct Figure {
        const char* pszName;
        double dValue;
        double dBase;
        const char* pszFormat;
        bool bHigherIsWorse;
    };
    const auto rate = [](const CRunReport& run) {
        return run.dSeconds > 0 ? static_cast<double>(run.nSent) / run.dSeconds : 0.0;
    };
    std::vector<Figure> figures = {
        {"datagrams sent", static_cast<double>(report.nSent), static_cast<double>(base.nSent), "%.0f", false},
        {"datagrams a second", rate(report), rate(base), "%.1f", false},
        {"send errors", static_cast<double>(report.nErrors), static_cast<double>(base.nErrors), "%.0f", true},
        {"lateness p50 (ms)", report.dP50Ms, base.dP50Ms, "%.3f", true},
        {"lateness p99 (ms)", report.dP99Ms, base.dP99Ms, "%.3f", true},
        {"lateness max (ms)", report.dMaxMs, base.dMaxMs, "%.3f", true},
    };
    if (report.bRepliesMatched && base.bRepliesMatched) {
        figures.push_back({"round trip p50 (ms)", report.dRttP50Ms, base.dRttP50Ms, "%.3f", true});
        figures.push_back({"round trip p99 (ms)", report.dRttP99Ms, base.dRttP99Ms, "%.3f", true});
        figures.push_back({"round trip max (ms)", report.dRttMaxMs, base.dRttMaxMs, "%.3f", true});
        figures.push_back({"reply loss", report.replyCounts.LossShare(), base.replyCounts.LossShare(), "%.4f", true});
    }
    if (report.capacity && base.capacity && report.capacity->dCapacity && base.capacity->dCapacity)
        figures.push_back({"capacity (a second)", *report.capacity->dCapacity, *base.capacity->dCapacity, "%.1f", false});
    std::string out = "<section>\n<h2>Against the baseline</h2>\n<p>" +
                      CHtmlText::Escape(std::to_string(base.shards.size()) +
                                        (base.shards.size() == 1 ? " stats file, started " : " stats files, started ") +
                                        CCalendar::UtcText(base.nStartUnixMs)) +
                      "</p>\n<table class=\"verdicts\">\n<tr><th>figure</th><th>this run</th><th>baseline</th>"
                      "<th>change</th></tr>\n";
    for (const Figure& figure : figures) {
        std::string strChange = "-";
        if (figure.dBase != 0) {
            const double dChange = (figure.dValue - figure.dBase) / figure.dBase * 100;
            const bool bWorse = figure.bHigherIsWorse ? dChange > 0 : dChange < 0;
            strChange = Format("%+.1f", dChange) + " %" + (bWorse && dChange != 0 ? " (worse)" : "");
        } else if (figure.dValue != 0) {
            strChange = figure.bHigherIsWorse ? "new (worse)" : "new";
        }
        out += "<tr><td>" + std::string(figure.pszName) + "</td><td>" + Format(figure.pszFormat, figure.dValue) +
               "</td><td>" + Format(figure.pszFormat, figure.dBase) + "</td><td>" + CHtmlText::Escape(strChange) +
               "</td></tr>\n";
    }
    return out + "</table>\n</section>\n";
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
    std::vector<double> sent, target, errors, replies, p50, p99, max, lost, rttP50, rttP99, rttMax;
    for (const CRunReport::Second& second : report.series) {
        sent.push_back(static_cast<double>(second.nSent));
        target.push_back(second.dTarget);
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
    out += Capacity(report);
    out += Baseline(report);
    std::vector<CSvgPlot::Line> sending = {MakeLine(kSent, sent)};
    if (report.bPaced)
        sending.push_back(MakeLine(kTarget, target));
    out += Section("Datagrams per second", CSvgPlot::Lines("datagrams per second", "datagrams/s", sending));
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
