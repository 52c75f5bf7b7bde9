#include "time/CLocalTime.h"

bool CLocalTime::Split(int64_t nClock, struct tm& local)
{
    const time_t t = static_cast<time_t>(nClock);
    return localtime_r(&t, &local) != nullptr;
}
