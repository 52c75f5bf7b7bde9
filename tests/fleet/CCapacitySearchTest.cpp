#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fleet/CCapacitySearch.h"

namespace {

constexpr int64_t kS = 1000000000;

// A server that answers in 1 ms, plus the wait its backlog makes: what
// arrives above its capacity waits its turn, and the backlog drains when
// the rate falls below it. bBehind marks every second above nBehindAbove
// as one the fleet fell behind in.
struct MadeUpServer {
    double dCapacity;
    double dBehindAbove = 1e18;
    double dBacklog = 0;

    CWindowFigures::Second SecondAt(uint64_t nT, double dRate)
    {
        dBacklog = std::max(0.0, dBacklog + dRate - dCapacity);
        CLatencyHistogram rtt;
        const uint64_t nSent = static_cast<uint64_t>(dRate);
        for (uint64_t i = 0; i < nSent; i += 10)
            rtt.Add(1000000 + static_cast<int64_t>(dBacklog / dCapacity * 1e9));
        CWindowFigures::Second second;
        second.figures.nT = nT;
        second.figures.nSent = nSent;
        second.figures.replies.nMatched = (nSent + 9) / 10;
        second.figures.rtt = rtt.Take(&second.rtt);
        second.figures.bBehind = dRate > dBehindAbove;
        return second;
    }
};

// Runs a search against the server: each second at the rate asked for.
CRunRecord::Capacity Search(const std::string& strSearch, int nRefine, MadeUpServer server,
                            std::vector<double>& rates)
{
    CCapacitySearch::Settings settings;
    EXPECT_TRUE(CCapacitySearch::Read(strSearch, settings).IsOk()) << strSearch;
    settings.nRefine = nRefine;
    CThreshold threshold;
    EXPECT_TRUE(CThreshold::Parse("rtt_p99<=50ms", threshold).IsOk());
    CCapacitySearch search(settings, {threshold}, kS, true, false);
    double dRate = search.FirstRate();
    for (uint64_t t = 1; t <= 1000 && !search.Done(); ++t) {
        rates.push_back(dRate);
        if (const std::optional<double> dNext = search.OnSecond(server.SecondAt(t, dRate)))
            dRate = *dNext;
    }
    return search.Result();
}

}  // namespace

// The rate rises step by step until a step crosses a threshold, the last
// rate that held is the capacity, and refining halves the gap between the
// two, resting after a step that crossed so that its backlog does not count
// against the next; a fleet that fell behind claims no capacity.
TEST(CCapacitySearchTest, StepsRiseUntilOneCrossesAndRefiningClosesTheGap)
{
    std::vector<double> rates;
    const CRunRecord::Capacity found = Search("1k/s..10k/s,x1.5,5s", 2, {3000}, rates);
    ASSERT_TRUE(found.bComplete);
    std::vector<double> steps;
    for (const CRunRecord::CapacityStep& step : found.steps) {
        steps.push_back(step.dRate);
        EXPECT_EQ(step.nSeconds, 3u) << "five seconds less the settle time (a second and one more)";
        EXPECT_EQ(step.bHeld, step.dRate <= 3000) << step.dRate;
    }
    EXPECT_EQ(steps, (std::vector<double>{1000, 1500, 2250, 3375, 2813, 3094}));
    EXPECT_EQ(found.dCapacity, 2813.0);
    EXPECT_EQ(found.dCrossedAt, 3094.0);
    ASSERT_TRUE(found.crossed.has_value());
    EXPECT_EQ(found.crossed->strExpression, "rtt_p99<=50ms");
    // Each step five seconds, a rest of the settle time at FROM after the
    // one that crossed and was refined, and the search ends.
    std::vector<double> expected;
    for (const double dRate : {1000.0, 1500.0, 2250.0, 3375.0, 1000.0, 2813.0, 3094.0})
        expected.insert(expected.end(), dRate == 1000.0 && !expected.empty() ? 2 : 5, dRate);
    EXPECT_EQ(rates, expected);

    rates.clear();
    const CRunRecord::Capacity top = Search("1k/s..2k/s,+500/s,3s", 0, {3000}, rates);
    EXPECT_EQ(top.dCapacity, 2000.0) << "every step up to the top held";
    EXPECT_FALSE(top.dCrossedAt.has_value());

    rates.clear();
    const CRunRecord::Capacity below = Search("5k/s..10k/s", 0, {3000}, rates);
    EXPECT_FALSE(below.dCapacity.has_value()) << "the first step crossed";
    EXPECT_EQ(below.dCrossedAt, 5000.0);

    rates.clear();
    const CRunRecord::Capacity behind = Search("1k/s..10k/s,x2,4s", 2, {9000, 3000}, rates);
    EXPECT_FALSE(behind.dCapacity.has_value());
    EXPECT_EQ(behind.dBehindAt, 4000.0) << "the fleet fell behind before any threshold was crossed";
}

// Bad searches are refused naming the text and what is wrong.
TEST(CCapacitySearchTest, ABadSearchSaysWhatIsWrong)
{
    const struct {
        const char* pszText;
        const char* pszSays;
    } bad[] = {
        {"10k/s..1k/s", "has FROM at or above TO"},
        {"1k/s..1k/s", "has FROM at or above TO"},
        {"0/s..1k/s", "is not FROM..TO"},
        {"1k/s..2k/s,x1", "has the factor 'x1', which is not above 1"},
        {"1k/s..2k/s,x0.5", "which is not above 1"},
        {"1k/s..2k/s,+0/s", "has the step '+0/s'"},
        {"1k/s..2k/s,20", "has '20', which is not xFACTOR, +STEP or a step's length"},
        {"1k/s..2k/s,20d", "has '20d'"},
        {"1k/s-2k/s", "is not FROM..TO"},
        {"1kb/s..2k/s", "is not FROM..TO"},
    };
    for (const auto& c : bad) {
        CCapacitySearch::Settings settings;
        const CStatus read = CCapacitySearch::Read(c.pszText, settings);
        EXPECT_TRUE(read.IsInvalid()) << c.pszText;
        EXPECT_EQ(read.Message().rfind(std::string("'") + c.pszText + "' ", 0), 0u) << read.Message();
        EXPECT_NE(read.Message().find(c.pszSays), std::string::npos) << read.Message();
    }
}
