#include "receive/CReceiveReport.h"

#include "TovrikVersion.h"
#include "report/CFileWriter.h"
#include "report/CHtmlReport.h"
#include "report/CHtmlText.h"
#include "report/CSvgPlot.h"
#include "report/HtmlPage.h"
#include "text/CDecimal.h"
#include "time/CCalendar.h"

namespace {

using HtmlPage::Format;
using HtmlPage::MakeLine;
using HtmlPage::Row;
using HtmlPage::Section;

constexpr HtmlPage::Colour kDatagrams = {"datagrams", "#1f77b4", ""};
constexpr HtmlPage::Colour kLost = {"lost", "#d62728", ""};
constexpr HtmlPage::Colour kDuplicates = {"duplicates", "#9467bd", "7 4"};
constexpr HtmlPage::Colour kReordered = {"reordered", "#ff7f0e", "2 3"};
constexpr HtmlPage::Colour kMalformed = {"malformed", "#8c564b", ""};
constexpr HtmlPage::Colour kDrops = {"kernel drops", "#e377c2", "7 4"};
constexpr HtmlPage::Colour kAgeP50 = {"p50", "#1f77b4", ""};
constexpr HtmlPage::Colour kAgeMax = {"max", "#d62728", "2 3"};

std::string AgeText(const CAgeFigures::Figures& age)
{
    if (age.nCount == 0)
        return "no message with a readable \"time\"";
    return "p50 " + std::to_string(age.nP50) + " s, min " + std::to_string(age.nMin) + " s, max " +
           std::to_string(age.nMax) + " s, of " + CDecimal::Grouped(age.nCount) + " messages";
}

std::string CounterText(const CReceiveRecord& record)
{
    if (record.strCounter.empty())
        return "not counted (no --counter)";
    return "\"" + record.strCounter + "\": " + CDecimal::Grouped(record.nExpected) + " expected, " + CDecimal::Grouped(record.nLost) +
           " lost (" + Format("%.4f", record.Loss()) + "), " + CDecimal::Grouped(record.nDuplicates) + " duplicates, " +
           CDecimal::Grouped(record.nReordered) + " reordered, " + CDecimal::Grouped(record.nWithoutCounter) + " without the counter";
}

std::string AnswerText(const CReceiveRecord& record)
{
    if (record.strAnswer == "none")
        return "none";
    return record.strAnswer + ", delay " + record.strAnswerDelay + ", drop " + Format("%g", record.dAnswerDrop) +
           ", seed " + std::to_string(record.nSeed) + ": " + CDecimal::Grouped(record.nAnswersSent) + " sent, " +
           CDecimal::Grouped(record.nAnswersDropped) + " dropped, " + CDecimal::Grouped(record.nAnswersNotQueued) + " not queued, " +
           CDecimal::Grouped(record.nAnswerErrors) + " refused";
}

std::string Summary(const CReceiveRecord& record)
{
    std::string out = "<table class=\"summary\">\n";
    out += Row("Listened on", record.strListen + " (receive buffer " + CDecimal::Grouped(static_cast<uint64_t>(
                                                      record.nReceiveBufferBytes)) + " bytes)");
    out += Row("Datagrams", CDecimal::Grouped(record.nDatagrams) + " (" + Format("%.1f", record.Rate()) + " per second, " +
                                CDecimal::Grouped(record.nBytes) + " bytes)");
    out += Row("Devices", CDecimal::Grouped(record.nDevices) + ", " + CDecimal::Grouped(record.nDeviceInfo) + " device info messages");
    out += Row("Malformed", CDecimal::Grouped(record.nMalformed) + " (not strict JSON, or not UTF-8)");
    out += Row("Without IMEI", CDecimal::Grouped(record.nWithoutImei));
    if (record.handshakes)
        out += Row("DTLS handshakes", CHtmlText::Escape(record.handshakes->Text()));
    out += Row("Counter", CounterText(record));
    out += Row("Kernel drops", record.bKernelDropsKnown ? CDecimal::Grouped(record.nKernelDrops)
                                                       : std::string("not told by this system"));
    out += Row("\"time\" against arrival", AgeText(record.age));
    out += Row("Answers", AnswerText(record));
    out += Row("Duration", Format("%.1f", record.dSeconds) + " s");
    out += Row("Started", CCalendar::UtcText(record.nStartUnixMs));
    out += Row("CPU time", Format("%.2f", record.usage.dCpuSeconds) + " s");
    out += Row("Peak RSS", Format("%.1f", static_cast<double>(record.usage.nMaxRssKb) / 1024) + " MiB");
    return out + "</table>\n";
}

// A table with a heading row; the cells are escaped.
std::string Table(const std::vector<std::string>& headings, const std::vector<std::vector<std::string>>& rows)
{
    std::string out = "<table class=\"summary\">\n<tr>";
    for (const std::string& strHeading : headings)
        out += "<th>" + CHtmlText::Escape(strHeading) + "</th>";
    out += "</tr>\n";
    for (const std::vector<std::string>& row : rows) {
        out += "<tr>";
        for (const std::string& strCell : row)
            out += "<td>" + CHtmlText::Escape(strCell) + "</td>";
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

std::string MalformedTable(const CReceiveRecord& record)
{
    std::vector<std::vector<std::string>> rows;
    for (const CReceiveRecord::Malformed& malformed : record.malformed)
        rows.push_back({malformed.strFrom, std::to_string(malformed.nLength), malformed.strReason, malformed.strShown});
    return Table({"from", "bytes", "why", "first bytes"}, rows);
}

std::string DeviceTable(const CReceiveRecord& record)
{
    std::vector<std::vector<std::string>> rows;
    for (const CReceiveRecord::Device& device : record.devices)
        rows.push_back({device.strImei, CDecimal::Grouped(device.nDatagrams), CDecimal::Grouped(device.nInfo), CDecimal::Grouped(device.nLost),
                        CDecimal::Grouped(device.nDuplicates), CDecimal::Grouped(device.nReordered)});
    return Table({"IMEI", "datagrams", "device info", "lost", "duplicates", "reordered"}, rows);
}

std::string CommandLine(const CReceiveRecord& record)
{
    std::string strLine;
    for (const std::string& strArgument : record.commandLine)
        strLine += (strLine.empty() ? "" : " ") + HtmlPage::ShellWord(strArgument);
    return "<pre class=\"cmd\">" + (strLine.empty() ? std::string("(not recorded)") : CHtmlText::Escape(strLine)) +
           "</pre>\n";
}

}  // namespace

std::string CReceiveReport::Html(const CReceiveRecord& record)
{
    std::vector<double> datagrams, lost, duplicates, reordered, malformed, drops, ageP50, ageMax;
    for (const CReceiveRecord::Second& second : record.series) {
        datagrams.push_back(static_cast<double>(second.nDatagrams));
        lost.push_back(static_cast<double>(second.nLost));
        duplicates.push_back(static_cast<double>(second.nDuplicates));
        reordered.push_back(static_cast<double>(second.nReordered));
        malformed.push_back(static_cast<double>(second.nMalformed));
        drops.push_back(static_cast<double>(second.nKernelDrops));
        ageP50.push_back(static_cast<double>(second.age.nP50));
        ageMax.push_back(static_cast<double>(second.age.nMax));
    }
    std::string out = HtmlPage::Head("Receive run on " + record.strListen, CCalendar::UtcText(record.nStartUnixMs),
                                     "started " + CCalendar::UtcText(record.nStartUnixMs) + ", " +
                                         Format("%.1f", record.dSeconds) + " s, " + CDecimal::Grouped(record.nDatagrams) +
                                         " datagrams from " + CDecimal::Grouped(record.nDevices) + " devices");
    out += Section("Command line", CommandLine(record));
    out += Section("Summary", Summary(record));
    if (!record.verdicts.empty())
        out += Section("Thresholds", CHtmlReport::VerdictTable(record.verdicts, {}));
    out += Section("Datagrams per second",
                   CSvgPlot::Lines("datagrams per second", "datagrams/s", {MakeLine(kDatagrams, datagrams)}));
    out += Section("Lost, duplicates, reordered per second",
                   CSvgPlot::Lines("counter per second", "numbers/s",
                                   {MakeLine(kLost, lost), MakeLine(kDuplicates, duplicates),
                                    MakeLine(kReordered, reordered)}));
    out += Section("Malformed and dropped per second",
                   CSvgPlot::Lines("malformed and dropped per second", "datagrams/s",
                                   {MakeLine(kMalformed, malformed), MakeLine(kDrops, drops)}));
    out += Section("\"time\" against arrival per second",
                   CSvgPlot::Lines("time against arrival per second", "s",
                                   {MakeLine(kAgeP50, ageP50), MakeLine(kAgeMax, ageMax)}));
    if (!record.malformed.empty())
        out += Section("The first malformed datagrams", MalformedTable(record));
    if (!record.devices.empty())
        out += Section("Devices with the most lost", DeviceTable(record));
    out += HtmlPage::Foot("Written by tovrik-cli " + std::string(TovrikVersion::kText) +
                          ". A device is an \"IMEI\" value; lost, duplicates and reordered are told by each device's "
                          "counter member; \"time\" against arrival is the arrival's second less the message's, by "
                          "local time.");
    return out;
}

CStatus CReceiveReport::Write(const std::string& strPath, const CReceiveRecord& record)
{
    return CFileWriter::Write(strPath, Html(record));
}
