#include "send/CSystemClock.h"

#include <chrono>
#include <ctime>
#include <thread>

int64_t CSystemClock::Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

void CSystemClock::Sleep(int nMilliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}
