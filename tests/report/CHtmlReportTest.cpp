#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "report/CHtmlReport.h"
#include "report/CHtmlText.h"
#include "report/CPlotAxis.h"

namespace {

CRunReport ReportOf(size_t nSeconds)
{
    CRunReport report;
    CRunReport::Shard shard;
    shard.strSource = "s.json";
    shard.commandLine = {"tovrik-cli", "--devices", "10"};
    report.shards.push_back(shard);
    report.nDevices = 10;
    report.nFleetDevices = 10;
    report.nStartUnixMs = 1796724000123;
    report.dSeconds = static_cast<double>(nSeconds);
    for (size_t i = 0; i < nSeconds; ++i) {
        CRunReport::Second second;
        second.nUnixSecond = 1796724000 + static_cast<int64_t>(i);
        second.nSent = 10 * (i + 1);
        second.dP50Ms = 0.1;
        second.dP99Ms = 0.4;
        second.dMaxMs = 0.5;
        report.series.push_back(second);
        report.nSent += second.nSent;
    }
    if (nSeconds > 0)
        report.histogram = {{1000, 1001, 5}, {100000, 106250, 40}, {2000000, 2097152, 1}};
    return report;
}

// The number of points of each polyline, in page order.
std::vector<size_t> PolylinePoints(const std::string& strHtml)
{
    std::vector<size_t> counts;
    const std::regex polyline("<polyline[^>]* points=\"([^\"]*)\"");
    for (std::sregex_iterator it(strHtml.begin(), strHtml.end(), polyline), end; it != end; ++it) {
        const std::string strPoints = (*it)[1];
        const std::regex point("-?[0-9.]+,-?[0-9.]+");
        counts.push_back(static_cast<size_t>(
            std::distance(std::sregex_iterator(strPoints.begin(), strPoints.end(), point), std::sregex_iterator())));
    }
    return counts;
}

size_t CountOf(const std::string& strText, const std::string& strPart)
{
    size_t n = 0;
    for (size_t i = strText.find(strPart); i != std::string::npos; i = strText.find(strPart, i + 1))
        ++n;
    return n;
}

}  // namespace

TEST(CHtmlReportTest, EscapesMarkupQuotesAndBadBytesAndKeepsChinese)
{
    EXPECT_EQ(CHtmlText::Escape("<b a=\"1\" c='2'>&amp;</b> 中文设备"),
              "&lt;b a=&quot;1&quot; c=&#39;2&#39;&gt;&amp;amp;&lt;/b&gt; 中文设备");
    // Not UTF-8 (a lone byte, an overlong '/', a surrogate) and control
    // characters (C0, DEL, C1) each become U+FFFD; tab and line feed stay.
    EXPECT_EQ(CHtmlText::Escape("a\xFF" "b\xC0\xAF" "c\xED\xA0\x80" "d\x01\x7F\xC2\x85\t\n"),
              "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD" "c\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
              "d\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\t\n");
}

TEST(CHtmlReportTest, ACommandLineWithMarkupStaysTextAndIsQuotedForTheShell)
{
    CRunReport report = ReportOf(3);
    report.shards[0].commandLine = {"tovrik-cli", "--text", "</script><script>alert(1)</script>",
                                    "--import", "<svg onload=alert(2)>", "-t", "设备 一", "it's"};
    report.shards[0].strSource = "<img src=x onerror=alert(3)>.json";
    report.nMode = 6;
    const std::string strHtml = CHtmlReport::Html(report);
    EXPECT_EQ(strHtml.find("<script"), std::string::npos);
    EXPECT_EQ(strHtml.find("</script"), std::string::npos);
    EXPECT_EQ(strHtml.find("<svg onload"), std::string::npos);
    EXPECT_EQ(strHtml.find("<img"), std::string::npos);
    EXPECT_NE(strHtml.find("&lt;img src=x onerror=alert(3)&gt;.json"), std::string::npos);
    EXPECT_NE(strHtml.find("&#39;&lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;&#39;"), std::string::npos);
    EXPECT_NE(strHtml.find("&#39;&lt;svg onload=alert(2)&gt;&#39;"), std::string::npos);
    EXPECT_NE(strHtml.find("--import"), std::string::npos);
    EXPECT_NE(strHtml.find("&#39;设备 一&#39; &#39;it&#39;\\&#39;&#39;s&#39;"), std::string::npos);
    EXPECT_NE(strHtml.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(strHtml.find("6 (10ms, 每10毫秒发送一次)"), std::string::npos);
    // Nothing to fetch: no external reference of any kind.
    EXPECT_EQ(strHtml.find("src=\""), std::string::npos);
    EXPECT_EQ(strHtml.find("href="), std::string::npos);
    EXPECT_EQ(strHtml.find("url("), std::string::npos);
}

TEST(CHtmlReportTest, EveryPlotHasAPointPerSecondOfTheSeries)
{
    const CRunReport report = ReportOf(37);
    const std::string strHtml = CHtmlReport::Html(report);
    // Datagrams, errors, replies, then lateness p50, p99 and max.
    EXPECT_EQ(PolylinePoints(strHtml), std::vector<size_t>(6, 37));
    EXPECT_EQ(CountOf(strHtml, "<svg "), 5u);
    EXPECT_EQ(CountOf(strHtml, "<circle"), 0u);
    EXPECT_EQ(CountOf(strHtml, "<g class=\"legend\""), 1u);
    // Three bars for three buckets a decade or more apart, with their counts.
    EXPECT_EQ(CountOf(strHtml, "<rect class=\"bar\""), 3u);
    EXPECT_NE(strHtml.find("below 0.00126 ms: 5 datagrams"), std::string::npos);
    EXPECT_NE(strHtml.find(": 40 datagrams"), std::string::npos);
    // The time axis reaches past 36 s (the last second's start), ticked every 5 s.
    EXPECT_NE(strHtml.find(">35 s</text>"), std::string::npos);
    EXPECT_NE(strHtml.find("2026-12-08 10:00:00.123 UTC"), std::string::npos);
    EXPECT_NE(strHtml.find("7,030 (190.0 per second)"), std::string::npos);
}

TEST(CHtmlReportTest, EmptyAndOneSecondSeriesStillDrawTheirPlots)
{
    const std::string strEmpty = CHtmlReport::Html(ReportOf(0));
    EXPECT_TRUE(PolylinePoints(strEmpty).empty());
    EXPECT_EQ(CountOf(strEmpty, "<svg "), 5u);
    EXPECT_EQ(CountOf(strEmpty, "no seconds recorded"), 4u);
    EXPECT_EQ(CountOf(strEmpty, "no datagrams"), 1u);
    EXPECT_EQ(strEmpty.find("nan"), std::string::npos);

    // One point makes no line: each gets a dot.
    const std::string strOne = CHtmlReport::Html(ReportOf(1));
    EXPECT_EQ(PolylinePoints(strOne), std::vector<size_t>(6, 1));
    EXPECT_EQ(CountOf(strOne, "<circle"), 6u);
    EXPECT_EQ(strOne.find("nan"), std::string::npos);
    EXPECT_EQ(strOne.find("inf"), std::string::npos);
}

TEST(CHtmlReportTest, ACapacitySearchShowsItsStepsAndTheKneeAgainstTheRate)
{
    CRunReport report = ReportOf(3);
    report.capacity.emplace();
    // Taken out of order, as a refined search takes them.
    for (const double dRate : {1000.0, 4000.0, 2000.0}) {
        CRunRecord::CapacityStep step;
        step.dRate = dRate;
        step.bHeld = dRate < 4000;
        step.replies.emplace();
        step.replies->counts.nMatched = 90;
        step.replies->counts.nLost = dRate < 4000 ? 0 : 10;
        step.replies->rtt.dP99Ms = dRate / 100;
        report.capacity->steps.push_back(step);
    }
    report.capacity->Conclude();
    const std::string strHtml = CHtmlReport::Html(report);
    EXPECT_NE(strHtml.find("capacity: 2,000 datagrams/s"), std::string::npos);
    EXPECT_EQ(CountOf(strHtml, "<td>0.1000</td>"), 1u);
    // The series' six lines, then the knee: rtt p50 and p99, the loss, a
    // point per step, the rates ascending on the x axis.
    EXPECT_EQ(PolylinePoints(strHtml), (std::vector<size_t>{3, 3, 3, 3, 3, 3, 3, 3, 3}));
    EXPECT_NE(strHtml.find("datagrams a second"), std::string::npos);
    const std::regex p99Points("stroke-dasharray=\"7 4\"[^>]* points=\"([^\"]*)\"");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(strHtml, match, p99Points));
    std::vector<double> heights;
    const std::string strPoints = match[1];
    const std::regex point("-?[0-9.]+,(-?[0-9.]+)");
    for (std::sregex_iterator it(strPoints.begin(), strPoints.end(), point), end; it != end; ++it)
        heights.push_back(std::stod((*it)[1]));
    // SVG's y grows downwards: a rising round trip.
    ASSERT_EQ(heights.size(), 3u);
    EXPECT_GT(heights[0], heights[1]);
    EXPECT_GT(heights[1], heights[2]);
}

TEST(CHtmlReportTest, AxesTickAtRoundValuesWithReadableLabels)
{
    const CPlotAxis counts = CPlotAxis::Linear(95000, 5);
    EXPECT_EQ(counts.Ticks(), (std::vector<double>{0, 20000, 40000, 60000, 80000, 100000}));
    EXPECT_EQ(counts.Label(40000), "40k");
    EXPECT_EQ(CPlotAxis::Linear(12e6, 5).Label(10e6), "10M");
    EXPECT_EQ(CPlotAxis::Linear(10000, 20).Label(500), "0.5k");
    const CPlotAxis ms = CPlotAxis::Linear(0.37, 5);
    EXPECT_DOUBLE_EQ(ms.High(), 0.4);
    EXPECT_EQ(ms.Label(0.1), "0.1");
    EXPECT_EQ(CPlotAxis::Linear(0, 5).Ticks(), (std::vector<double>{0, 1}));

    EXPECT_EQ(CPlotAxis::Seconds(59, 10).Label(30), "30 s");
    const CPlotAxis minutes = CPlotAxis::Seconds(1000, 10);
    EXPECT_EQ(minutes.Ticks().size(), 10u);  // every 2 min up to 18:00
    EXPECT_EQ(minutes.Label(120), "2:00");
    EXPECT_EQ(CPlotAxis::Seconds(86400, 10).Label(7200), "2:00:00");

    const CPlotAxis lateness = CPlotAxis::LogMilliseconds(1e-3, 3.2);
    EXPECT_EQ(lateness.Ticks().size(), 5u);
    EXPECT_EQ(lateness.Label(lateness.Ticks()[0]), "1 \xC2\xB5s");
    EXPECT_EQ(lateness.Label(lateness.Ticks()[3]), "1 ms");
    EXPECT_EQ(lateness.Label(lateness.Ticks()[4]), "10 ms");
    EXPECT_DOUBLE_EQ(lateness.Fraction(0.1), 0.5);
}
