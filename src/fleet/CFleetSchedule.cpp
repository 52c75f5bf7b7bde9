#include "fleet/CFleetSchedule.h"

#include <algorithm>
#include <ctime>

#include "send/SendWorker.h"

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// x mod m in [0, m).
int64_t Mod(int64_t x, int64_t m)
{
    const int64_t r = x % m;
    return r < 0 ? r + m : r;
}

struct TimedRule {
    int64_t nPeriod;
    bool bAnyDirection;
};

TimedRule RuleOf(uint8_t nMode)
{
    switch (nMode) {
    case SendWorker::kEverySecond:
        return {1, false};
    case SendWorker::kEveryTenSeconds:
        return {10, false};
    case SendWorker::kEveryMinute:
        return {60, true};
    default:
        return {3600, true};
    }
}

int64_t LocalTimeOfDay(int64_t nSecond)
{
    const time_t t = static_cast<time_t>(nSecond);
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr)
        return Mod(nSecond, kSecondsPerDay);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

}  // namespace

bool CFleetSchedule::IsTimed(uint8_t nMode)
{
    return nMode <= SendWorker::kEveryHour;
}

bool CFleetSchedule::IsFast(uint8_t nMode)
{
    return nMode == SendWorker::kEvery100Ms || nMode == SendWorker::kEvery10Ms;
}

int64_t CFleetSchedule::PeriodNs(uint8_t nMode)
{
    if (IsTimed(nMode))
        return RuleOf(nMode).nPeriod * kNsPerSecond;
    switch (nMode) {
    case SendWorker::kEvery100Ms:
        return SendWorker::kTickMs * kNsPerMs;
    case SendWorker::kEvery10Ms:
        return SendWorker::kFastTickMs * kNsPerMs;
    case SendWorker::kReplay:
        return kNsPerSecond;
    default:
        return 0;
    }
}

int64_t CFleetSchedule::SpreadOffsetNs(uint8_t nMode, uint64_t k, uint64_t n)
{
    if (n == 0)
        return 0;
    // k < n <= 1,000,000 and P <= 3.6e12 ns: the product fits 128 bits.
    const unsigned __int128 nProduct = static_cast<unsigned __int128>(PeriodNs(nMode)) * k;
    return static_cast<int64_t>(nProduct / n);
}

int64_t CFleetSchedule::SecondOf(int64_t nNs)
{
    return nNs >= 0 ? nNs / kNsPerSecond : -((-nNs + kNsPerSecond - 1) / kNsPerSecond);
}

int64_t CFleetSchedule::ZoneOffset(int64_t nSecond)
{
    const time_t t = static_cast<time_t>(nSecond);
    struct tm local {};
    if (localtime_r(&t, &local) == nullptr)
        return 0;
    return static_cast<int64_t>(local.tm_gmtoff);
}

bool CFleetSchedule::IsDue(uint8_t nMode, int64_t nSecond, int64_t nLast)
{
    if (nMode == SendWorker::kEveryHour)
        return nSecond != nLast && Mod(nSecond + ZoneOffset(nSecond), 3600) == 0;
    const TimedRule rule = RuleOf(nMode);
    const int64_t nDiff = nSecond - nLast;
    return (rule.bAnyDirection ? nDiff != 0 : nDiff > 0) && nDiff % rule.nPeriod == 0;
}

int64_t CFleetSchedule::NextDueSecond(uint8_t nMode, int64_t nSecond, int64_t nLast)
{
    const TimedRule rule = RuleOf(nMode);
    if (nMode == SendWorker::kEveryHour) {
        for (int64_t nFrom = nSecond;;) {
            // The next whole local hour, back on the clock with the offset
            // at the answer itself; a change of offset on the way is caught
            // by checking the answer.
            const int64_t nLocal = nFrom + ZoneOffset(nFrom);
            const int64_t nHour = nLocal + Mod(-nLocal, 3600);
            const int64_t nGuess = nHour - ZoneOffset(nFrom);
            const int64_t nDue = std::max(nFrom, nHour - ZoneOffset(nGuess));
            if (IsDue(nMode, nDue, nLast))
                return nDue;
            nFrom = nDue + 1;
        }
    }
    int64_t nDue;
    if (rule.bAnyDirection) {
        nDue = nSecond + Mod(nLast - nSecond, rule.nPeriod);
        if (nDue == nLast)
            nDue += rule.nPeriod;
    } else {
        nDue = std::max(nSecond, nLast + 1);
        nDue += Mod(nLast - nDue, rule.nPeriod);
    }
    return nDue;
}

int64_t CFleetSchedule::NextReplaySecond(const int64_t* pKeys, size_t nKeys, int64_t nSecond)
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
