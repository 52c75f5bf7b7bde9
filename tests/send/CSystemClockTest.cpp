#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "send/CSystemClock.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

}  // namespace

// A wake-up with the flag still set (left over, or from another thread)
// does not shorten the sleep; with the flag cleared it ends it.
TEST(CSystemClockTest, OnlyAWakeUpAfterTheFlagIsClearedEndsTheSleepEarly)
{
    CSystemClock clock;
    std::atomic<bool> bRunning{true};
    clock.Wake();
    auto start = Clock::now();
    std::thread waker([&] {
        std::this_thread::sleep_for(milliseconds(20));
        clock.Wake();
    });
    EXPECT_TRUE(clock.Sleep(60, bRunning));
    EXPECT_GE(Clock::now() - start, milliseconds(60));
    waker.join();

    start = Clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(milliseconds(20));
        bRunning = false;
        clock.Wake();
    });
    EXPECT_FALSE(clock.Sleep(10000, bRunning));
    stopper.join();
    // A cleared flag ends the next sleep before it begins.
    EXPECT_FALSE(clock.Sleep(10000, bRunning));
    EXPECT_LT(Clock::now() - start, milliseconds(5000));
}
