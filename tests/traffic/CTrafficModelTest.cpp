#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempDir.h"
#include "traffic/CScenario.h"
#include "traffic/CTrafficModel.h"

namespace {

constexpr int64_t kS = 1000000000;

CTrafficConfig Scenario(const std::string& strJson)
{
    CTrafficConfig config;
    const CStatus read = CScenario::ReadText("s.json", strJson, config);
    EXPECT_TRUE(read.IsOk()) << read.Message();
    return config;
}

}  // namespace

// Stages change the faults at their instants and an outage silences every
// device, each back within the spread.
TEST(CTrafficModelTest, StagesSwitchFaultsAtTheirInstantsAndOutagesEndWithinTheirSpread)
{
    const CTrafficConfig config = Scenario(
        "{\"loss\":\"100%\",\"stages\":[{\"at\":\"10s\",\"loss\":\"off\"},{\"at\":\"20s\",\"loss\":1,"
        "\"outage\":\"30s,return=10s\"}]}");
    const CTrafficModel model(config, 5, 100, kS);
    CTrafficModel::Device device;
    EXPECT_TRUE(model.Decide(0, 0, 9 * kS, device).bDrop);
    EXPECT_FALSE(model.Decide(0, 1, 10 * kS, device).bDrop);
    EXPECT_FALSE(model.Decide(0, 2, 20 * kS - 1, device).bDrop);
    EXPECT_TRUE(model.Decide(0, 3, 20 * kS, device).bDrop);

    int64_t nFirst = INT64_MAX;
    int64_t nLast = 0;
    for (uint64_t k = 0; k < 100; ++k) {
        CTrafficModel::Device state;
        EXPECT_EQ(model.Offline(k, 20 * kS - 1, state).nCause, CTrafficModel::Cause::kOnline);
        const CTrafficModel::Gap gap = model.Offline(k, 25 * kS, state);
        ASSERT_EQ(gap.nCause, CTrafficModel::Cause::kOutage);
        ASSERT_GE(gap.nUntilNs, 50 * kS);
        ASSERT_LT(gap.nUntilNs, 60 * kS);
        nFirst = std::min(nFirst, gap.nUntilNs);
        nLast = std::max(nLast, gap.nUntilNs);
        EXPECT_EQ(model.Offline(k, gap.nUntilNs, state).nCause, CTrafficModel::Cause::kOnline);
    }
    EXPECT_LT(nFirst, 51 * kS) << "the returns spread over the ten seconds";
    EXPECT_GT(nLast, 59 * kS);
}

// Each fault kind a stage sets holds from its instant to the next stage's.
TEST(CTrafficModelTest, StagesSwitchEveryKindOfFault)
{
    const CTrafficConfig config = Scenario(
        "{\"stages\":[{\"at\":\"10s\",\"duplicate\":1,\"reorder\":\"100%,by=1s\",\"jitter\":\"5ms\","
        "\"corrupt\":1},{\"at\":\"20s\",\"loss\":1,\"churn\":\"3600,1h\"},{\"at\":\"30s\",\"loss\":\"off\","
        "\"duplicate\":\"off\",\"reorder\":\"off\",\"jitter\":\"off\",\"corrupt\":\"off\",\"churn\":\"off\"}]}");
    const CTrafficModel model(config, 5, 100, kS);
    CTrafficModel::Device device;
    for (const int64_t nAtNs : {9 * kS, 30 * kS}) {
        const CLinkFaults::Decision none = model.Decide(0, 0, nAtNs, device);
        EXPECT_FALSE(none.bDrop || none.bDuplicate || none.bReordered || none.bJittered) << nAtNs;
        EXPECT_EQ(none.nDelayNs, 0) << nAtNs;
        EXPECT_EQ(none.nCorrupt, CLinkFaults::kNoCorruption) << nAtNs;
    }
    const CLinkFaults::Decision all = model.Decide(0, 1, 10 * kS, device);
    EXPECT_FALSE(all.bDrop);
    EXPECT_TRUE(all.bDuplicate);
    EXPECT_TRUE(all.bReordered);
    EXPECT_TRUE(all.bJittered);
    EXPECT_EQ(all.nDelayNs, 5 * kS / 1000 + kS) << "the jitter and the hold together";
    EXPECT_NE(all.nCorrupt, CLinkFaults::kNoCorruption);
    EXPECT_TRUE(model.Decide(0, 2, 20 * kS, device).bDrop);
    size_t nChurned = 0;
    for (uint64_t k = 0; k < 100; ++k) {
        CTrafficModel::Device state;
        EXPECT_EQ(model.Offline(k, 19 * kS, state).nCause, CTrafficModel::Cause::kOnline);
        nChurned += model.Offline(k, 29 * kS, state).nCause == CTrafficModel::Cause::kChurn;
    }
    EXPECT_GT(nChurned, 90u) << "once a second on average for nine seconds, each for an hour";
}

TEST(CTrafficModelTest, DropoutsComeAtTheirRateAndLastTheirDuration)
{
    CTrafficConfig config;
    uint32_t nKeys = 0;
    ASSERT_TRUE(CTrafficConfig::Set("churn", "6,uniform(10s,50s)", config.start, nKeys).IsOk());
    const CTrafficModel model(config, 8, 1000, kS);
    // 200 devices for ten hours, checked every second.
    int nDropouts = 0;
    double dOfflineS = 0;
    for (uint64_t k = 0; k < 200; ++k) {
        CTrafficModel::Device device;
        for (int64_t t = 0; t < 36000 * kS; t += kS) {
            const CTrafficModel::Gap gap = model.Offline(k, t, device);
            if (gap.nCause == CTrafficModel::Cause::kOnline)
                continue;
            ASSERT_EQ(gap.nCause, CTrafficModel::Cause::kChurn);
            ++nDropouts;
            dOfflineS += static_cast<double>(gap.nUntilNs - t) / kS;
            t = gap.nUntilNs - 1;
        }
    }
    // Six an hour while online: a little under 60 per device in ten hours.
    const double dPerDevice = nDropouts / 200.0;
    EXPECT_NEAR(dPerDevice, 60 * 36000 / (36000 + 60 * 30.0), 2.0);
    EXPECT_NEAR(dOfflineS / nDropouts, 30.0, 1.0) << "uniform(10s,50s), seen from the next second";
}

TEST(CTrafficModelTest, ADeviceCountRampBringsDevicesOnlineInTheirOrder)
{
    const CTrafficConfig config =
        Scenario("{\"stages\":[{\"at\":\"0s\",\"devices\":0},{\"at\":\"10s\",\"devices\":\"100%\",\"ramp\":\"10s\"},"
                 "{\"at\":\"40s\",\"devices\":\"50%\"}]}");
    const CTrafficModel model(config, 1, 10, kS);
    EXPECT_DOUBLE_EQ(model.OnlineShare(5 * kS), 0.0);
    EXPECT_DOUBLE_EQ(model.OnlineShare(15 * kS), 0.5);
    for (uint64_t k = 0; k < 10; ++k) {
        CTrafficModel::Device device;
        const CTrafficModel::Gap gap = model.Offline(k, 0, device);
        ASSERT_EQ(gap.nCause, CTrafficModel::Cause::kDevices);
        // Device k of 10 once the share passes k/10: 10 s + k s.
        EXPECT_NEAR(static_cast<double>(gap.nUntilNs), static_cast<double>((10 + k) * kS), 2) << k;
        const bool bHalf = model.Offline(k, 41 * kS, device).nCause == CTrafficModel::Cause::kOnline;
        EXPECT_EQ(bHalf, k < 5) << k;
        EXPECT_EQ(model.Offline(k, 41 * kS, device).nUntilNs, bHalf ? 41 * kS : CTrafficModel::kNever);
    }
}

// A bad file is refused naming itself, the key and the value.
TEST(CTrafficModelTest, ScenarioFilesSayWhichKeyAndValueAreWrong)
{
    TempDir dir;
    CTrafficConfig config;
    const std::string strGood =
        dir.Write("good.json", "{\"seed\":7,\"vary\":[\"temperature=walk(20,30,0.5)\"],\"jitter\":\"2ms\","
                               "\"outage\":\"1min,10s\",\"stages\":[{\"at\":\"30s\",\"loss\":0.25}]}");
    ASSERT_TRUE(CScenario::ReadFile(strGood, config).IsOk());
    EXPECT_EQ(config.seed, 7u);
    ASSERT_EQ(config.vary.size(), 1u);
    EXPECT_TRUE(config.start.faults.jitter.bOn);
    ASSERT_EQ(config.outages.size(), 1u);
    ASSERT_EQ(config.stages.size(), 1u);
    EXPECT_DOUBLE_EQ(config.stages[0].settings.faults.loss.dProbability, 0.25);

    const struct {
        const char* pszJson;
        const char* pszSays;
    } bad[] = {
        {"[1]", "s.json: not a scenario (not a JSON object)"},
        {"{\"loss\":", "s.json: not a scenario (not JSON: "},
        {"{\"los\":\"1%\"}", "s.json: los: is not a key of a scenario (seed, vary, loss"},
        {"{\"loss\":\"2\"}", "s.json: loss: '2' is not P[,burst=N]"},
        {"{\"loss\":true}", "s.json: loss: true is not a string or a number"},
        {"{\"seed\":-4}", "s.json: seed: '-4' is not a seed"},
        {"{\"vary\":[\"a=uniform(1,2)\",\"b=uniform(3)\"]}", "s.json: vary[1]: 'b=uniform(3)' has 'uniform(3)', which"},
        {"{\"outage\":\"1min\"}", "s.json: outage: '1min' is not AT,DURATION[,return=SPREAD]"},
        {"{\"stages\":{}}", "s.json: stages: is not a list of stages"},
        {"{\"stages\":[{\"loss\":0}]}", "s.json: stages[0]: has no \"at\""},
        {"{\"stages\":[{\"at\":\"5\"}]}", "s.json: stages[0].at: '5' is not a duration"},
        {"{\"stages\":[{\"at\":\"5s\"},{\"at\":\"4s\"}]}", "s.json: stages[1].at: comes before the stage before it"},
        {"{\"stages\":[{\"at\":\"5s\",\"jitter\":\"fast\"}]}", "s.json: stages[0].jitter: 'fast' is not a duration"},
        {"{\"stages\":[{\"at\":\"5s\",\"devices\":\"half\"}]}", "s.json: stages[0].devices: 'half' is not a share"},
        {"{\"stages\":[{\"at\":\"5s\",\"ramp\":\"5s\"}]}", "s.json: stages[0].ramp: goes with \"devices\" only"},
        {"{\"stages\":[{\"at\":\"5s\",\"seed\":1}]}", "s.json: stages[0].seed: is not a key of a stage"},
        {"{\"seed\": 18446744073709551616}", "s.json: seed: 18446744073709551616 cannot be read as a number"},
        {"{\"stages\":[{\"at\":\"1s\"},{\"at\":\"2s\",\"ramp\":1e999}]}", "s.json: stages[1].ramp: 1e999 cannot be"},
        {"{\"loss\":\"1%\",\"seed\":1,\"loss\":\"2%\"}", "s.json: loss: is given twice"},
        {"{\"stages\":[{\"at\":\"1s\",\"at\":\"2s\"}]}", "s.json: stages[0].at: is given twice"},
    };
    for (const auto& c : bad) {
        const CStatus read = CScenario::ReadText("s.json", c.pszJson, config);
        EXPECT_TRUE(read.IsInvalid()) << c.pszJson;
        EXPECT_EQ(read.Message().rfind(c.pszSays, 0), 0u) << c.pszJson << ": " << read.Message();
    }
    const CStatus missing = CScenario::ReadFile(dir.Path() + "/none.json", config);
    EXPECT_TRUE(missing.IsInvalid());
    EXPECT_NE(missing.Message().find("none.json: "), std::string::npos) << missing.Message();

    // The command line's keys replace the file's, the others stay.
    CTrafficConfig options;
    ASSERT_TRUE(CTrafficConfig::Set("jitter", "off", options.start, options.nStartKeys).IsOk());
    ASSERT_TRUE(CScenario::ReadFile(strGood, config).IsOk());
    config.Override(options);
    EXPECT_FALSE(config.start.faults.jitter.bOn);
    EXPECT_EQ(config.seed, 7u);
    EXPECT_EQ(config.outages.size(), 1u);
}
