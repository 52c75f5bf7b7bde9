#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "cli/CCliOptions.h"
#include "metrics/CMetricsServer.h"

namespace {

struct Parsed {
    std::optional<int> nExit;
    std::string err;
    CCliOptions options;
};

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "tovrik-cli");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    Parsed parsed;
    std::ostringstream out;
    std::ostringstream err;
    parsed.options = CCliOptions::Parse(static_cast<int>(argv.size()), argv.data(), parsed.nExit, out, err);
    parsed.err = err.str();
    return parsed;
}

}  // namespace

// Each rule's message names the option and the value given (more of the
// fleet's rules in FleetCliTest, through the program).
TEST(CCliOptionsTest, EachBrokenRuleIsAUsageErrorThatSaysWhy)
{
    TempDir dir;
    const std::string strFile = dir.Write("m.txt", "{\"IMEI\":\"1\"}");
    const bool kMetrics = CMetricsServer::IsAvailable();
    const std::string kNoMetrics = "--metrics: not available in this build";
    struct Case {
        std::vector<std::string> args;
        std::string strSays;
    };
    const Case cases[] = {
        {{"-p", "65536"}, "--port: '65536' is not a port (decimal digits, 0 to 65535)"},
        {{"-m", "7"}, "unknown mode '7'"},
        {{"-t", "1:2"}, "'1:2' is not an IPv4 or IPv6 address or host name"},
        {{"--stop-after", "0"}, "--stop-after: '0' is not a number of seconds above 0 (at most 100 years)"},
        {{"--devices", "by-imei", "--import", strFile, "-m", "replay", "--imei-first", "5"},
         "--imei-first: does not go with --devices by-imei"},
        {{"--imei-first", "98", "--devices", "2"}, ""},
        {{"--imei-first", "98", "--devices", "3"}, "--imei-first: the last device's IMEI 100 has more than 2 digits"},
        {{"--bind", "1.2.3.256"}, "--bind: '1.2.3.256' is not an IPv4 or IPv6 address"},
        {{"--bind-ports", "11-10"}, "--bind-ports: '11-10' is not LO-HI"},
        {{"--bind-ports", "10-10"}, ""},
        {{"--shard", "0/1000001"}, "--shard: '0/1000001' is not K/M"},
        {{"--metrics", "127.0.0.1"}, kMetrics ? "--metrics: '127.0.0.1' is not ADDR:PORT" : kNoMetrics},
        {{"--metrics", "localhost:65536"}, kMetrics ? "--metrics: 'localhost:65536' is not ADDR:PORT" : kNoMetrics},
        {{"--ramp", "86401"}, "--ramp: '86401' is not a number of seconds above 0 (at most 86400)"},
        {{"--threshold", "late_p99<=5"}, "--threshold: 'late_p99<=5'"},
        {{"--speed", "2"}, "--speed: goes with --capture-time only"},
        {{"--capture-time"}, "--capture-time: needs --import of a packet capture (pcap or pcapng)"},
        {{"--capture-filter", "udp", "--import", strFile},
         "--capture-filter: needs --import of a packet capture (pcap or pcapng), which '" + strFile + "' is not"},
        {{"-4", "-t", "::1"}, "-4: '::1' is an IPv6 address"},
        {{"-6", "-t", "127.0.0.1"}, "-6: '127.0.0.1' is an IPv4 address"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = Parse(c.args);
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        if (c.strSays.empty()) {
            EXPECT_FALSE(parsed.nExit) << parsed.err;
            continue;
        }
        EXPECT_EQ(parsed.nExit, CCliOptions::kExitUsage);
        EXPECT_NE(parsed.err.find(c.strSays), std::string::npos) << parsed.err;
    }
}

TEST(CCliOptionsTest, TheOptionsBecomeTheFleetRunsConfig)
{
    const Parsed none = Parse({"--devices", "01", "-t", "[::1]"});
    ASSERT_FALSE(none.nExit) << none.err;
    EXPECT_FALSE(none.options.IsFleet()) << "one device without fleet options is not a fleet";
    EXPECT_EQ(none.options.strTarget, "::1");

    std::vector<std::string> args = {"--devices", "10",   "--shard",      "1/3",   "-m",   "10ms",
                                     "--no-loop", "--imei-first", "0099", "--bind", "127.0.0.2,127.0.0.3",
                                     "--bind-ports", "4000-4010", "--ramp", "2.5", "-p", "0051609"};
    const bool bMetrics = CMetricsServer::IsAvailable();
    if (bMetrics)
        args.insert(args.end(), {"--metrics", "localhost:0"});
    const Parsed parsed = Parse(args);
    ASSERT_FALSE(parsed.nExit) << parsed.err;
    ASSERT_TRUE(parsed.options.IsFleet());
    const CFleetConfig config = parsed.options.FleetConfig();
    EXPECT_EQ(config.nDevices, 10u);
    EXPECT_EQ(config.shard.Text(), "1/3");
    EXPECT_EQ(config.plan.nMode, SendModes::kEvery10Ms);
    EXPECT_FALSE(config.plan.bLoop);
    EXPECT_TRUE(config.plan.bModifyTime);
    EXPECT_EQ(config.plan.nImeiFirst, 99u);
    EXPECT_EQ(config.plan.nImeiWidth, 4);
    if (bMetrics) {
        EXPECT_EQ(config.strMetricsAddress, "127.0.0.1");
        EXPECT_EQ(config.nMetricsPort, 0);
    }
    EXPECT_EQ(config.binds, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(config.nPortLow, 4000);
    EXPECT_EQ(config.nPortHigh, 4010);
    EXPECT_DOUBLE_EQ(config.dRampSeconds, 2.5);
    EXPECT_EQ(config.nPort, 51609);
    EXPECT_EQ(config.commandLine.size(), bMetrics ? 20u : 18u);
}
