#include "time/CLocalTime.h"

bool CLocalTime::Split(int64_t nClock, struct tm& local)
{
    const __time64_t t = static_cast<__time64_t>(nClock);
    return _localtime64_s(&local, &t) == 0;
}
