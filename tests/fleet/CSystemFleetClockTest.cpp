#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <thread>

#include "fleet/CSystemFleetClock.h"

namespace {

constexpr int64_t kMs = 1000000;

// No descriptor may be polled while it lives (ppoll then fails at once).
class NoDescriptors {
public:
    NoDescriptors()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit none = m_saved;
        none.rlim_cur = 0;
        m_bSet = setrlimit(RLIMIT_NOFILE, &none) == 0;
    }
    ~NoDescriptors() { setrlimit(RLIMIT_NOFILE, &m_saved); }
    bool Set() const { return m_bSet; }

private:
    rlimit m_saved{};
    bool m_bSet = false;
};

}  // namespace

TEST(CSystemFleetClockTest, ASleepThatCannotPollStillWaitsForItsDeadlineOrAStop)
{
    CSystemFleetClock clock(1);
    ASSERT_TRUE(clock.Valid());
    int64_t nDeadline = 0;
    int64_t nWoken = 0;
    CFleetClock::Wake wake = CFleetClock::Wake::kStopped;
    int64_t nSetBy = 0;
    {
        const NoDescriptors none;
        ASSERT_TRUE(none.Set());
        nDeadline = clock.NowNs() + 30 * kMs;
        wake = clock.SleepUntil(0, nDeadline, nSetBy);
        nWoken = clock.NowNs();
    }
    EXPECT_EQ(wake, CFleetClock::Wake::kDeadline);
    EXPECT_GE(nWoken, nDeadline) << "not before the deadline";

    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        clock.Stop();
    });
    {
        const NoDescriptors none;
        const int64_t nStart = clock.NowNs();
        wake = clock.SleepUntil(0, nStart + 10000 * kMs, nSetBy);
        nWoken = clock.NowNs() - nStart;
    }
    stopper.join();
    EXPECT_EQ(wake, CFleetClock::Wake::kStopped);
    EXPECT_LT(nWoken, 2000 * kMs);
}
