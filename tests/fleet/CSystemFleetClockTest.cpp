#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

#include "fleet/CSystemFleetClock.h"

namespace {

constexpr int64_t kMs = 1000000;

int64_t ThreadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

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
    int64_t nCpu = 0;
    CFleetClock::Wake wake = CFleetClock::Wake::kStopped;
    int64_t nSetBy = 0;
    {
        const NoDescriptors none;
        ASSERT_TRUE(none.Set());
        nDeadline = clock.NowNs() + 200 * kMs;
        const int64_t nCpuBefore = ThreadCpuNs();
        wake = clock.SleepUntil(0, nDeadline, nSetBy);
        nCpu = ThreadCpuNs() - nCpuBefore;
        nWoken = clock.NowNs();
    }
    EXPECT_EQ(wake, CFleetClock::Wake::kDeadline);
    EXPECT_GE(nWoken, nDeadline) << "not before the deadline";
    EXPECT_LT(nCpu, 50 * kMs) << "sleeping, not spinning";

    // The stopper starts and ends while descriptors may be had (the
    // sanitizers' checks of a thread's start and end need them).
    std::atomic<bool> bStarted{false};
    std::atomic<bool> bDone{false};
    std::thread stopper([&] {
        bStarted.store(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        clock.Stop();
        while (!bDone.load())
            std::this_thread::yield();
    });
    while (!bStarted.load())
        std::this_thread::yield();
    {
        const NoDescriptors none;
        const int64_t nStart = clock.NowNs();
        wake = clock.SleepUntil(0, nStart + 10000 * kMs, nSetBy);
        nWoken = clock.NowNs() - nStart;
    }
    bDone.store(true);
    stopper.join();
    EXPECT_EQ(wake, CFleetClock::Wake::kStopped);
    EXPECT_LT(nWoken, 2000 * kMs);
}
