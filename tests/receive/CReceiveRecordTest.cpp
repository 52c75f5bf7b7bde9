#include <gtest/gtest.h>

#include <simdjson.h>

#include <string>

#include "receive/CReceiveRecord.h"
#include "receive/CReceiveReport.h"
#include "receive/CReceiveThresholds.h"

namespace {

CReceiveRecord RecordOf(size_t nSeconds)
{
    CReceiveRecord record;
    record.strListen = "[::1]:51609";
    record.strCounter = "packnum";
    record.strAnswer = "members:IMEI";
    record.strAnswerDelay = "normal(20ms,5ms)";
    record.commandLine = {"tovrik-cli", "receive", "--answer", "members:IMEI", "</pre><script>"};
    record.nStartUnixMs = 1796724000123;
    record.dSeconds = static_cast<double>(nSeconds);
    for (size_t i = 0; i < nSeconds; ++i) {
        CReceiveRecord::Second second;
        second.nT = i + 1;
        second.nDatagrams = 100;
        second.nLost = i;
        record.series.push_back(second);
        record.nDatagrams += 100;
    }
    record.nExpected = 400;
    record.nLost = 4;
    record.malformed.push_back({"127.0.0.1:9", 3, "not UTF-8", "<\\xFF>"});
    record.devices.push_back({"86<0>", 10, 1, 4, 0, 0});
    return record;
}

}  // namespace

TEST(CReceiveRecordTest, TheStatsFileIsJsonWithTheRunsFigures)
{
    CReceiveRecord record = RecordOf(3);
    record.bKernelDropsKnown = false;
    const std::string json = record.Json();
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    ASSERT_EQ(parser.parse(json).get(root), simdjson::SUCCESS) << json;
    EXPECT_EQ(root["datagrams"].get_uint64().value(), 300u);
    EXPECT_DOUBLE_EQ(root["loss"].get_double().value(), 0.01);
    EXPECT_DOUBLE_EQ(root["datagrams_per_second"].get_double().value(), 100.0);
    EXPECT_TRUE(root["kernel_drops"].is_null()) << "unknown, not 0";
    EXPECT_EQ(root["series"].get_array().size(), 3u);
    EXPECT_EQ(root["series"].at(2)["lost"].get_uint64().value(), 2u);
    EXPECT_EQ(std::string(root["malformed_first"].at(0)["first_bytes"].get_string().value()), "<\\xFF>");
    EXPECT_EQ(std::string(root["devices_most_lost"].at(0)["imei"].get_string().value()), "86<0>");
    EXPECT_EQ(std::string(root["command_line"].at(4).get_string().value()), "</pre><script>");
}

TEST(CReceiveRecordTest, TheReportHasTheFiguresAndPlotsEveryTextEscaped)
{
    CReceiveRecord record = RecordOf(5);
    CThreshold threshold;
    ASSERT_TRUE(CThreshold::Parse("loss<=0.5%", threshold, CReceiveThresholds::Metrics()).IsOk());
    CThreshold::Judge({threshold}, CReceiveThresholds::Figures(record), record.verdicts);
    const std::string html = CReceiveReport::Html(record);
    EXPECT_NE(html.find("<title>Receive run on [::1]:51609, 2026-12-08 10:00:00.123 UTC</title>"), std::string::npos);
    EXPECT_NE(html.find("<td>loss&lt;=0.5%</td><td>0.01</td><td>crossed</td>"), std::string::npos);
    EXPECT_NE(html.find("&lt;/pre&gt;&lt;script&gt;"), std::string::npos);
    EXPECT_NE(html.find("<td>&lt;\\xFF&gt;</td>"), std::string::npos);
    EXPECT_NE(html.find("<td>86&lt;0&gt;</td>"), std::string::npos);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    size_t nPlots = 0;
    for (size_t i = html.find("<svg"); i != std::string::npos; i = html.find("<svg", i + 1))
        ++nPlots;
    EXPECT_EQ(nPlots, 4u);
}
