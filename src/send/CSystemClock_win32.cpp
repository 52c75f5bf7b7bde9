#include "send/CSystemClock.h"

#include <windows.h>

#include <ctime>

int64_t CSystemClock::Now()
{
    return static_cast<int64_t>(_time64(nullptr));
}

void CSystemClock::Sleep(int nMilliseconds)
{
    ::Sleep(static_cast<DWORD>(nMilliseconds));
}
