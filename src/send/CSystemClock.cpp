#include "send/CSystemClock.h"

#include <chrono>

bool CSystemClock::Sleep(int nMilliseconds, const std::atomic<bool>& bRunning)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nMilliseconds);
    // A wake-up left from an earlier stop, or one that finds the flag still
    // set, only sends the loop round again: the interval is kept.
    for (;;) {
        if (!bRunning.load())
            return false;
        const Clock::time_point now = Clock::now();
        if (now >= deadline)
            return true;
        WaitForWake(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
    }
}
