#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cli/CCliOptions.h"
#include "cli/CReceiveCommand.h"
#include "cli/ParsedArgs.h"
#include "metrics/CMetricsServer.h"

namespace {

using Parsed = ParsedArgs<CReceiveCommand::Options>;

Parsed Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), {"tovrik-cli", "receive"});
    return ParseArgs<CReceiveCommand::Options>(&CReceiveCommand::Parse, std::move(args));
}

}  // namespace

// Each rule's message names the option and the value given.
TEST(CReceiveCommandTest, EachBrokenRuleIsAUsageErrorThatSaysWhy)
{
    const bool kMetrics = CMetricsServer::IsAvailable();
    const std::vector<UsageCase> cases = {
        {{"-l", "51609"}, "--listen: '51609' is not ADDR:PORT with an IPv4 address or an IPv6 address in brackets"},
        {{"-l", "::1:5"}, "--listen: '::1:5' is not ADDR:PORT"},
        {{"-l", "localhost:5"}, "--listen: 'localhost:5' is not ADDR:PORT"},
        {{"--listen", "127.0.0.1:65536"}, "--listen: '127.0.0.1:65536' is not ADDR:PORT"},
        {{"-l", "[::1]:0"}, ""},
        {{"--counter", "time"}, "--counter: needs a member other than IMEI and time"},
        {{"--answer", "mirror"}, "--answer: 'mirror' is not echo or members:M1,M2,..."},
        {{"--answer", "members:"}, "--answer: 'members:' is not echo or members:M1,M2,... (a member's name is empty)"},
        {{"--answer", "members:IMEI,cmd,IMEI"}, "(it names IMEI twice)"},
        {{"--answer-delay", "5ms"}, "--answer-delay: goes with --answer only"},
        {{"--answer", "echo", "--answer-delay", "5"}, "--answer-delay: '5' is not a duration (a number and a unit: ns"},
        {{"--answer", "echo", "--answer-drop", "1.5"},
         "--answer-drop: '1.5' is not a ratio from 0 to 1 or a percentage (5%)"},
        {{"--answer", "echo", "--answer-drop", "101%"}, "--answer-drop: '101%' is not a ratio"},
        {{"--answer-drop", "5%"}, "--answer-drop: goes with --answer only"},
        {{"--seed", "18446744073709551616"}, "--seed: '18446744073709551616' is not a seed (decimal digits, 0 to"},
        {{"--stop-after", "0"}, "--stop-after: '0' is not a duration above 0"},
        {{"--metrics", "127.0.0.1"},
         kMetrics ? "--metrics: '127.0.0.1' is not ADDR:PORT" : "--metrics: not available in this build"},
        {{"--stats-json", "a.json", "--report", "a.json"}, "--report: 'a.json' is the --stats-json file too"},
        {{"--threshold", "late_p99<=5ms"}, "--threshold: 'late_p99<=5ms' has no known metric (loss, malformed, "
                                           "duplicates, reordered, rate)"},
        {{"--threshold", "loss<=1%"}, "--threshold: 'loss<=1%' measures the counter: add --counter MEMBER"},
        {{"--threshold", "rate>=10ms"}, "--threshold: 'rate>=10ms' has 'ms' after the number"},
    };
    ExpectUsageErrors(cases, Parse, CCliOptions::kExitUsage);
}

TEST(CReceiveCommandTest, TheOptionsBecomeTheRunsConfig)
{
    const Parsed defaults = Parse({});
    ASSERT_FALSE(defaults.nExit) << defaults.err;
    const CReceiveConfig& plain = defaults.options.config;
    EXPECT_EQ(plain.strAddress, "0.0.0.0");
    EXPECT_EQ(plain.nPort, 51609);
    EXPECT_EQ(plain.nAnswer, CReceiveConfig::Answer::kNone);
    EXPECT_NE(plain.nSeed, Parse({}).options.config.nSeed) << "a random seed without --seed";

    const Parsed parsed = Parse({"-l", "[fe80::1%1]:0", "--counter", "packnum", "--answer", "members:IMEI,cmd",
                                 "--answer-delay", "exponential(2ms)", "--answer-drop", "12.5%", "--seed", "99",
                                 "--threshold", "loss<=0.1%", "--threshold", "rate>=100", "--stop-after", "2.5",
                                 "-q"});
    ASSERT_FALSE(parsed.nExit) << parsed.err;
    const CReceiveConfig& config = parsed.options.config;
    EXPECT_EQ(config.strAddress, "fe80::1%1");
    EXPECT_EQ(config.nPort, 0);
    EXPECT_EQ(config.strCounter, "packnum");
    EXPECT_EQ(config.AnswerText(), "members:IMEI,cmd");
    EXPECT_EQ(config.answerDelay.Text(), "exponential(2ms)");
    EXPECT_DOUBLE_EQ(config.dAnswerDrop, 0.125);
    EXPECT_EQ(config.nSeed, 99u);
    ASSERT_EQ(config.outputs.thresholds.size(), 2u);
    EXPECT_EQ(config.outputs.thresholds[1].Expression(), "rate>=100");
    EXPECT_DOUBLE_EQ(*config.outputs.dStopAfter, 2.5);
    EXPECT_TRUE(parsed.options.bQuiet);
    EXPECT_EQ(config.outputs.commandLine.size(), 21u);
}
