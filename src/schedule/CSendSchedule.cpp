#include "schedule/CSendSchedule.h"

#include <algorithm>
#include <ctime>

#include "base/CFraction.h"
#include "time/CCalendar.h"
#include "time/CLocalTime.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerHour = 3600;

// x mod m in [0, m).
int64_t Mod(int64_t x, int64_t m)
{
    const int64_t r = x % m;
    return r < 0 ? r + m : r;
}

int64_t LocalTimeOfDay(int64_t nSecond)
{
    struct tm local {};
    if (!CLocalTime::Split(nSecond, local))
        return Mod(nSecond, kSecondsPerDay);
    return local.tm_hour * kSecondsPerHour + local.tm_min * 60 + local.tm_sec;
}

}  // namespace

bool CSendSchedule::IsTimed(SendModes::Mode nMode)
{
    return nMode <= SendModes::kEveryHour;
}

bool CSendSchedule::IsFast(SendModes::Mode nMode)
{
    return nMode == SendModes::kEvery100Ms || nMode == SendModes::kEvery10Ms;
}

bool CSendSchedule::IsReplay(SendModes::Mode nMode)
{
    return nMode == SendModes::kReplay;
}

int CSendSchedule::TickMs(SendModes::Mode nMode)
{
    return SendModes::kModes[nMode].nTickMs;
}

int64_t CSendSchedule::PeriodNs(SendModes::Mode nMode)
{
    if (IsTimed(nMode))
        return SendModes::kModes[nMode].nPeriodSeconds * kNsPerSecond;
    if (IsFast(nMode))
        return TickMs(nMode) * kNsPerMs;
    return IsReplay(nMode) ? kNsPerSecond : 0;
}

int64_t CSendSchedule::SpreadOffsetNs(SendModes::Mode nMode, uint64_t k, uint64_t n)
{
    if (n == 0)
        return 0;
    return static_cast<int64_t>(CFraction::Of(static_cast<uint64_t>(PeriodNs(nMode)), k, n));
}

int64_t CSendSchedule::FastInstantNs(SendModes::Mode nMode, int64_t nStartNs, uint64_t nPacket)
{
    // Packet i one period after packet i - 1, the first one period after the
    // start: the rate of the period from the first instant on, whatever
    // each send costs.
    return nStartNs + static_cast<int64_t>(nPacket + 1) * PeriodNs(nMode);
}

int64_t CSendSchedule::SecondOf(int64_t nNs)
{
    return nNs >= 0 ? nNs / kNsPerSecond : -((-nNs + kNsPerSecond - 1) / kNsPerSecond);
}

int64_t CSendSchedule::ZoneOffset(int64_t nSecond)
{
    struct tm local {};
    if (!CLocalTime::Split(nSecond, local))
        return 0;
    const int64_t nLocal = CCalendar::DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * kSecondsPerDay +
                           local.tm_hour * kSecondsPerHour + local.tm_min * 60 + local.tm_sec;
    return nLocal - nSecond;
}

bool CSendSchedule::IsDue(SendModes::Mode nMode, int64_t nSecond, int64_t nLast)
{
    if (nMode == SendModes::kEveryHour)
        return nSecond != nLast && Mod(nSecond + ZoneOffset(nSecond), kSecondsPerHour) == 0;
    const int64_t nPeriod = SendModes::kModes[nMode].nPeriodSeconds;
    const int64_t nDiff = nSecond - nLast;
    // The minute mode counts whole minutes in either direction.
    return (nMode == SendModes::kEveryMinute ? nDiff != 0 : nDiff > 0) && nDiff % nPeriod == 0;
}

int64_t CSendSchedule::NextDueSecond(SendModes::Mode nMode, int64_t nSecond, int64_t nLast)
{
    if (nMode == SendModes::kEveryHour) {
        for (int64_t nFrom = nSecond;;) {
            // The next whole local hour, back on the clock with the offset
            // at the answer itself; a change of offset on the way is caught
            // by checking the answer.
            const int64_t nLocal = nFrom + ZoneOffset(nFrom);
            const int64_t nHour = nLocal + Mod(-nLocal, kSecondsPerHour);
            const int64_t nGuess = nHour - ZoneOffset(nFrom);
            const int64_t nDue = std::max(nFrom, nHour - ZoneOffset(nGuess));
            if (IsDue(nMode, nDue, nLast))
                return nDue;
            nFrom = nDue + 1;
        }
    }
    const int64_t nPeriod = SendModes::kModes[nMode].nPeriodSeconds;
    int64_t nDue;
    if (nMode == SendModes::kEveryMinute) {
        nDue = nSecond + Mod(nLast - nSecond, nPeriod);
        if (nDue == nLast)
            nDue += nPeriod;
    } else {
        nDue = std::max(nSecond, nLast + 1);
        nDue += Mod(nLast - nDue, nPeriod);
    }
    return nDue;
}

CSendSchedule::ReplayCheck CSendSchedule::CheckReplay(int64_t nSecond, int64_t& nLast)
{
    if (nSecond == nLast)
        return ReplayCheck::kSameSecond;
    if (nSecond > nLast)
        return ReplayCheck::kNewSecond;
    nLast = nSecond - 1;
    return ReplayCheck::kSetBack;
}

int64_t CSendSchedule::NextReplaySecond(const int64_t* pKeys, size_t nKeys, int64_t nSecond)
{
    const int64_t* pEnd = pKeys + nKeys;
    const int64_t* pFirst = std::lower_bound(pKeys, pEnd, int64_t{0});
    const int64_t* pLast = std::lower_bound(pFirst, pEnd, kSecondsPerDay);
    if (pFirst == pLast)
        return kNever;
    const int64_t nTimeOfDay = LocalTimeOfDay(nSecond);
    const int64_t* pNext = std::lower_bound(pFirst, pLast, nTimeOfDay);
    const int64_t nDelta = pNext != pLast ? *pNext - nTimeOfDay : kSecondsPerDay - nTimeOfDay + *pFirst;
    const int64_t nGuess = nSecond + nDelta;
    // A change of the zone's offset on the way moves the local time.
    return std::max(nSecond, nGuess - (ZoneOffset(nGuess) - ZoneOffset(nSecond)));
}
