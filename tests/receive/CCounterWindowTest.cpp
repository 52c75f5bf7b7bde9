#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "receive/CCounterWindow.h"

namespace {

struct Tally {
    uint64_t nLost = 0;
    uint64_t nDuplicates = 0;
    uint64_t nReordered = 0;
};

// Feeds the numbers in order, then closes the count.
Tally Feed(const std::vector<uint64_t>& numbers, CCounterWindow& window)
{
    Tally tally;
    for (const uint64_t n : numbers) {
        const CCounterWindow::Step step = window.Observe(n);
        tally.nLost += step.nLost;
        tally.nDuplicates += step.nSeen == CCounterWindow::Seen::kDuplicate;
        tally.nReordered += step.nSeen == CCounterWindow::Seen::kReordered;
    }
    tally.nLost += window.Close();
    return tally;
}

}  // namespace

TEST(CCounterWindowTest, GapsDuplicatesAndReorderingAreToldApart)
{
    struct Case {
        const char* pszWhat;
        std::vector<uint64_t> numbers;
        uint64_t nLost, nDuplicates, nReordered, nExpected;
    };
    const Case cases[] = {
        {"in order", {100, 101, 102, 103}, 0, 0, 0, 4},
        {"a gap that never fills", {100, 101, 104, 105}, 2, 0, 0, 6},
        {"a gap filled late is reordered, not lost", {100, 103, 101, 102, 104}, 0, 0, 2, 5},
        {"the same number twice", {100, 101, 101, 102, 100}, 0, 2, 0, 3},
        {"a reordered one repeated is a duplicate", {100, 102, 101, 101}, 0, 1, 1, 3},
        {"a jump past the window loses all between", {1, 1000}, 998, 0, 0, 1000},
        {"63 below the highest is still in the window", {0, 2, 64, 1, 63}, 60, 0, 2, 65},
        {"beyond the window: reordered, and lost when the window passed it", {10, 12, 80, 11}, 68, 0, 1, 71},
        {"below the first is reordered and not waited for", {50, 51, 49, 52}, 0, 0, 1, 3},
        {"expected runs from the first to the highest only", {10, 11, 13, 8}, 1, 0, 1, 4},
        {"from zero", {0, 1, 2}, 0, 0, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        CCounterWindow window;
        const Tally tally = Feed(c.numbers, window);
        EXPECT_EQ(tally.nLost, c.nLost);
        EXPECT_EQ(tally.nDuplicates, c.nDuplicates);
        EXPECT_EQ(tally.nReordered, c.nReordered);
        EXPECT_EQ(window.Expected(), c.nExpected);
    }
}

// Numbers that leave the window unseen are lost at that moment, not only
// at the end; a closed count starts afresh.
TEST(CCounterWindowTest, LossIsCountedWhenTheWindowMovesPastAndAtTheClose)
{
    CCounterWindow window;
    EXPECT_EQ(window.Observe(0).nSeen, CCounterWindow::Seen::kFirst);
    EXPECT_EQ(window.Observe(2).nLost, 0u) << "1 may still come";
    EXPECT_EQ(window.Observe(64).nLost, 0u) << "1 is 63 below the highest: still in the window";
    EXPECT_EQ(window.Observe(65).nLost, 1u) << "1 left the window";
    EXPECT_EQ(window.Close(), 61u) << "3 to 63 never came";
    EXPECT_EQ(window.Close(), 0u);
    EXPECT_EQ(window.Observe(5).nSeen, CCounterWindow::Seen::kFirst) << "a new count";
    EXPECT_EQ(window.Observe(6).nSeen, CCounterWindow::Seen::kNext);
    EXPECT_EQ(window.Expected(), 66u + 2u);
}
