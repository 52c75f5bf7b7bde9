#include "fleet/CSystemFleetClock.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// About the year 2255: later than any deadline of a run, within time_t.
constexpr int64_t kFarFuture = 9000000000;
// The longest plain sleep when the timer cannot be waited on.
constexpr int64_t kFallbackSliceNs = 10000000;

bool ArmSetWatch(int hTimer)
{
    // An instant that never comes; the timer only reports the clock being set.
    itimerspec never{};
    never.it_value.tv_sec = static_cast<time_t>(kFarFuture);
    return timerfd_settime(hTimer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) == 0;
}

// CLOCK_MONOTONIC, which a set does not move.
int64_t SteadyNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

}  // namespace

// A timer descriptor per scheduler thread, -1 where none could be made.
struct CSystemFleetClock::Timers {
    std::vector<int> handles;

    ~Timers()
    {
        for (int hTimer : handles) {
            if (hTimer >= 0)
                close(hTimer);
        }
    }
};

CSystemFleetClock::CSystemFleetClock(int nThreads) : m_pTimers(std::make_unique<Timers>())
{
    for (int i = 0; i < nThreads; ++i) {
        const int hTimer = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
        if (hTimer >= 0)
            ArmSetWatch(hTimer);
        m_pTimers->handles.push_back(hTimer);
    }
}

CSystemFleetClock::~CSystemFleetClock() = default;

bool CSystemFleetClock::Valid() const
{
    for (int hTimer : m_pTimers->handles) {
        if (hTimer < 0)
            return false;
    }
    return true;
}

void CSystemFleetClock::PrepareThread(int)
{
    // Wake-ups on time matter more here than the timer slack's savings.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
}

int64_t CSystemFleetClock::CalendarNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

CFleetClock::Wake CSystemFleetClock::SleepUntil(int nThread, int64_t nDeadlineNs, int64_t& nSetByNs)
{
    const int hTimer = m_pTimers->handles[static_cast<size_t>(nThread)];
    pollfd fd{hTimer, POLLIN, 0};
    for (;;) {
        if (m_bStopped.load())
            return Wake::kStopped;
        // The wait is measured from a fresh reading of the clock each time,
        // so the deadline stays absolute; a clock that is set meanwhile
        // wakes the timer descriptor.
        const int64_t nBeforeNs = NowNs();
        const int64_t nSteadyBeforeNs = SteadyNs();
        const int64_t nWaitNs = nDeadlineNs - nBeforeNs;
        if (nWaitNs <= 0)
            return Wake::kDeadline;
        const int64_t nCappedNs = nWaitNs < kFarFuture * kNsPerSecond ? nWaitNs : kFarFuture * kNsPerSecond;
        const timespec timeout{static_cast<time_t>(nCappedNs / kNsPerSecond),
                               static_cast<long>(nCappedNs % kNsPerSecond)};
        const int n = ppoll(&fd, 1, &timeout, nullptr);
        if (n == 0 || (n < 0 && errno == EINTR))
            continue;
        if (n > 0) {
            // Either Stop made the timer expire (the flag above tells, next
            // time round) or the clock was set.
            uint64_t nExpired = 0;
            if (read(hTimer, &nExpired, sizeof nExpired) >= 0 || errno == EAGAIN)
                continue;
            if (errno == ECANCELED) {
                ArmSetWatch(hTimer);
                nSetByNs = (NowNs() - nBeforeNs) - (SteadyNs() - nSteadyBeforeNs);
                return Wake::kClockSet;
            }
        }
        // The timer cannot be waited on: short plain sleeps to the deadline
        // instead of a loop that spins, still seeing a stop in time.
        const int64_t nUntilNs = std::min(nDeadlineNs, NowNs() + kFallbackSliceNs);
        const timespec until{static_cast<time_t>(nUntilNs / kNsPerSecond),
                             static_cast<long>(nUntilNs % kNsPerSecond)};
        clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &until, nullptr);
    }
}

void CSystemFleetClock::Stop()
{
    // The flag first: a sleeper that has not looked yet sees it, one in
    // ppoll wakes on its timer, and one that re-arms its timer after a clock
    // set looks at the flag again before it sleeps.
    m_bStopped.store(true);
    itimerspec now{};
    now.it_value.tv_nsec = 1;
    for (int hTimer : m_pTimers->handles) {
        if (hTimer >= 0)
            timerfd_settime(hTimer, 0, &now, nullptr);
    }
}
