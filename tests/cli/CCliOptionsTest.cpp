#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "cli/CCliOptions.h"
#include "cli/ParsedArgs.h"
#include "metrics/CMetricsServer.h"

namespace {

using Parsed = ParsedArgs<CCliOptions>;

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "tovrik-cli");
    return ParseArgs<CCliOptions>(&CCliOptions::Parse, std::move(args));
}

}  // namespace

// Each rule's message names the option and the value given (more of the
// fleet's rules in FleetCliTest, through the program).
TEST(CCliOptionsTest, EachBrokenRuleIsAUsageErrorThatSaysWhy)
{
    TempDir dir;
    const std::string strFile = dir.Write("m.txt", "{\"IMEI\":\"1\"}");
    const std::string strScenario = dir.Write("s.json", "{\"stages\":[{\"at\":\"1s\",\"loss\":\"2\"}]}");
    const bool kMetrics = CMetricsServer::IsAvailable();
    const std::string kNoMetrics = "--metrics: not available in this build";
    const std::vector<UsageCase> cases = {
        {{"-p", "65536"}, "--port: '65536' is not a port (decimal digits, 0 to 65535)"},
        {{"-m", "7"}, "unknown mode '7'"},
        {{"-t", "1:2"}, "'1:2' is not an IPv4 or IPv6 address or host name"},
        {{"--stop-after", "0"}, "--stop-after: '0' is not a duration above 0 (at most 100 years)"},
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
        {{"--ramp", "86401"}, "--ramp: '86401' is not a duration above 0 (at most a day)"},
        {{"--ramp", "25h"}, "--ramp: '25h' is not a duration above 0 (at most a day)"},
        {{"--threshold", "late_p99<=5"}, "--threshold: 'late_p99<=5'"},
        {{"--speed", "2"}, "--speed: goes with --capture-time only"},
        {{"--capture-time"}, "--capture-time: needs --import of a packet capture (pcap or pcapng)"},
        {{"--capture-filter", "udp", "--import", strFile},
         "--capture-filter: needs --import of a packet capture (pcap or pcapng), which '" + strFile + "' is not"},
        {{"-4", "-t", "::1"}, "-4: '::1' is an IPv6 address"},
        {{"-6", "-t", "127.0.0.1"}, "-6: '127.0.0.1' is an IPv4 address"},
        {{"--vary", "t=uniform(1)"}, "--vary: 't=uniform(1)' has 'uniform(1)', which is not a generator: uniform "
                                     "takes LO,HI"},
        {{"--vary", "t=walk(1,2,1)", "--vary", "t=device(1,2)"}, "--vary: 't=device(1,2)' gives the member 't' a "
                                                                 "second generator"},
        {{"--loss", "2"}, "--loss: '2' is not P[,burst=N]"},
        {{"--duplicate", "5%,delay=-1s"}, "--duplicate: '5%,delay=-1s' has delay='-1s', which is not a duration"},
        {{"--reorder", "5%,by=fast"}, "--reorder: '5%,by=fast' has by='fast'"},
        {{"--jitter", "5"}, "--jitter: '5' is not a duration"},
        {{"--corrupt", "1%,melt"}, "--corrupt: '1%,melt' is not P[,KIND...]"},
        {{"--churn", "2"}, "--churn: '2' is not RATE,DURATION"},
        {{"--outage", "5s"}, "--outage: '5s' is not AT,DURATION[,return=SPREAD]"},
        {{"--seed", "x"}, "--seed: 'x' is not a seed"},
        {{"--scenario", strScenario}, "--scenario: " + strScenario + ": stages[0].loss: '2' is not P[,burst=N]"},
        {{"--scenario", strFile + ".none"}, "--scenario: " + strFile + ".none: "},
        {{"--rate", "0/s"}, "--rate: '0/s' is not a rate above 0"},
        {{"--rate", "20kb/s"}, "--rate: '20kb/s' is not a rate"},
        {{"--rate", "20k/s", "-m", "1s"}, "--rate: sets the devices' intervals itself"},
        {{"--rate", "20k/s", "--interval", "1s"}, "--rate: sets the devices' intervals itself"},
        {{"--interval", "500us"}, "--interval: '500us' is not from 1ms to 24h"},
        {{"--interval", "uniform(1h,48h)"}, "--interval: 'uniform(1h,48h)' is not from 1ms to 24h on average"},
        {{"--interval", "5"}, "--interval: '5' is not a duration"},
        {{"--interval", "1s", "-m", "replay"}, "--interval: does not go with -m replay or --capture-time"},
        {{"--abort-on-fail"}, "--abort-on-fail: needs a --threshold to judge"},
        {{"--threshold", "errors==0", "--threshold-window", "5s"}, "--threshold-window: goes with --abort-on-fail only"},
        {{"--threshold", "errors==0", "--abort-on-fail", "--threshold-window", "500ms"},
         "--threshold-window: '500ms' is not a duration from 1s to 1h"},
        {{"--find-capacity", "1k/s..2k/s"}, "--find-capacity: needs a --threshold to judge each step by"},
        {{"--threshold", "errors==0", "--find-capacity", "2k/s..1k/s"}, "--find-capacity: '2k/s..1k/s' has FROM at or "
                                                                        "above TO"},
        {{"--threshold", "errors==0", "--find-capacity", "1k/s..2k/s,x1"}, "which is not above 1"},
        {{"--threshold", "errors==0", "--find-capacity", "1k/s..2k/s,2s"}, "has steps no longer than the settle time"},
        {{"--threshold", "errors==0", "--find-capacity", "1k/s..2k/s", "-m", "1s"},
         "--find-capacity: sets the rate itself"},
        {{"--refine", "2"}, "--refine and --require-capacity go with --find-capacity only"},
        {{"--start-at", "tomorrow"}, "--start-at: 'tomorrow' is not an instant: RFC 3339"},
        {{"--start-at", "+8d"}, "--start-at: '+8d' is not an instant"},
        {{"--start-at", "+192h"}, "more than a week from now"},
    };
    ExpectUsageErrors(cases, Parse, CCliOptions::kExitUsage);
}

TEST(CCliOptionsTest, TheOptionsBecomeTheFleetRunsConfig)
{
    const Parsed none = Parse({"--devices", "01", "-t", "[::1]"});
    ASSERT_FALSE(none.nExit) << none.err;
    EXPECT_FALSE(none.options.IsFleet()) << "one device without fleet options is not a fleet";
    EXPECT_EQ(none.options.strTarget, "::1");

    std::vector<std::string> args = {"--devices", "10",   "--shard",      "1/3",   "-m",   "10ms",
                                     "--no-loop", "--imei-first", "0099", "--bind", "127.0.0.2,127.0.0.3",
                                     "--bind-ports", "4000-4010", "--ramp", "2.5", "-p", "0051609",
                                     "--start-at", "2026-12-10T13:00:00+01:00"};
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
    EXPECT_EQ(config.nStartAtUnixMs, 1796904000000) << "an instant passed is still one";
    if (bMetrics) {
        EXPECT_EQ(config.outputs.strMetricsAddress, "127.0.0.1");
        EXPECT_EQ(config.outputs.nMetricsPort, 0);
    }
    EXPECT_EQ(config.binds, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(config.nPortLow, 4000);
    EXPECT_EQ(config.nPortHigh, 4010);
    EXPECT_DOUBLE_EQ(config.dRampSeconds, 2.5);
    EXPECT_EQ(config.nPort, 51609);
    EXPECT_EQ(config.outputs.commandLine.size(), bMetrics ? 22u : 20u);
    EXPECT_FALSE(config.traffic.Used());
}

// The command line's traffic options replace a scenario file's; alone they
// make one device a fleet of one that keeps the messages' own IMEI.
TEST(CCliOptionsTest, TrafficOptionsBecomeTheRunsTrafficOverTheScenarios)
{
    TempDir dir;
    const std::string strScenario =
        dir.Write("s.json", "{\"seed\":5,\"loss\":\"10%\",\"jitter\":\"1ms\",\"stages\":[{\"at\":\"1s\",\"loss\":0}]}");
    const Parsed parsed = Parse({"--scenario", strScenario, "--loss", "20%,burst=2", "--vary", "a.b=sine(0,1,1h)",
                                 "--outage", "1min,10s", "--outage", "2min,10s,return=1s"});
    ASSERT_FALSE(parsed.nExit) << parsed.err;
    ASSERT_TRUE(parsed.options.IsFleet());
    const CFleetConfig config = parsed.options.FleetConfig();
    EXPECT_TRUE(config.plan.bKeepImei);
    EXPECT_EQ(config.nDevices, 1u);
    const CTrafficConfig& traffic = config.traffic;
    EXPECT_EQ(traffic.seed, 5u);
    EXPECT_DOUBLE_EQ(traffic.start.faults.loss.dProbability, 0.2);
    EXPECT_DOUBLE_EQ(traffic.start.faults.loss.dBurst, 2.0);
    EXPECT_TRUE(traffic.start.faults.jitter.bOn) << "the file's own";
    ASSERT_EQ(traffic.stages.size(), 1u);
    ASSERT_EQ(traffic.vary.size(), 1u);
    EXPECT_EQ(traffic.vary[0].strMember, "a.b");
    EXPECT_EQ(traffic.outages.size(), 2u);

    const Parsed fleet = Parse({"--devices", "3", "--seed", "9"});
    ASSERT_FALSE(fleet.nExit) << fleet.err;
    EXPECT_FALSE(fleet.options.FleetConfig().plan.bKeepImei);
    EXPECT_EQ(fleet.options.FleetConfig().traffic.seed, 9u);

    // A sweep over P = 0, 1 %, 5 % writes files of one shape: a fault at
    // zero or off is traffic all the same, with its seed and counts.
    const std::string strOff = dir.Write("off.json", "{\"loss\":\"off\",\"stages\":[{\"at\":\"1s\",\"jitter\":\"off\"}]}");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--loss", "0"}, {"--jitter", "off"}, {"--scenario", strOff}}) {
        const Parsed off = Parse(args);
        ASSERT_FALSE(off.nExit) << off.err;
        EXPECT_TRUE(off.options.IsFleet()) << args[0];
        EXPECT_TRUE(off.options.FleetConfig().traffic.Used()) << args[0];
    }
}
