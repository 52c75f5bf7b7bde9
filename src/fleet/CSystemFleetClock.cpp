#include "fleet/CSystemFleetClock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// About the year 2255: later than any deadline of a run, within time_t.
constexpr int64_t kFarFuture = 9000000000;

}  // namespace

CSystemFleetClock::CSystemFleetClock(int nThreads)
{
    m_hStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (int i = 0; i < nThreads; ++i) {
        const int hTimer = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
        if (hTimer >= 0)
            ArmSetWatch(hTimer);
        m_timers.push_back(hTimer);
    }
}

CSystemFleetClock::~CSystemFleetClock()
{
    for (int hTimer : m_timers) {
        if (hTimer >= 0)
            close(hTimer);
    }
    if (m_hStop >= 0)
        close(m_hStop);
}

bool CSystemFleetClock::ArmSetWatch(int hTimer)
{
    // An instant that never comes; the timer only reports the clock being set.
    itimerspec never{};
    never.it_value.tv_sec = static_cast<time_t>(kFarFuture);
    return timerfd_settime(hTimer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &never, nullptr) == 0;
}

bool CSystemFleetClock::Valid() const
{
    if (m_hStop < 0)
        return false;
    for (int hTimer : m_timers) {
        if (hTimer < 0)
            return false;
    }
    return true;
}

int64_t CSystemFleetClock::NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * kNsPerSecond + now.tv_nsec;
}

CFleetClock::Wake CSystemFleetClock::SleepUntil(int nThread, int64_t nDeadlineNs)
{
    const int hTimer = m_timers[static_cast<size_t>(nThread)];
    pollfd fds[2] = {{hTimer, POLLIN, 0}, {m_hStop, POLLIN, 0}};
    for (;;) {
        if (m_bStopped.load())
            return Wake::kStopped;
        // The wait is measured from a fresh reading of the clock each time,
        // so the deadline stays absolute; a clock that is set meanwhile
        // wakes the timer descriptor.
        const int64_t nWaitNs = nDeadlineNs - NowNs();
        if (nWaitNs <= 0)
            return Wake::kDeadline;
        const int64_t nCappedNs = nWaitNs < kFarFuture * kNsPerSecond ? nWaitNs : kFarFuture * kNsPerSecond;
        const timespec timeout{static_cast<time_t>(nCappedNs / kNsPerSecond),
                               static_cast<long>(nCappedNs % kNsPerSecond)};
        const int n = ppoll(fds, 2, &timeout, nullptr);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Wake::kDeadline;
        if (fds[1].revents & POLLIN)
            return Wake::kStopped;
        uint64_t nExpired = 0;
        if (read(hTimer, &nExpired, sizeof nExpired) < 0 && errno == ECANCELED) {
            ArmSetWatch(hTimer);
            return Wake::kClockSet;
        }
    }
}

void CSystemFleetClock::Stop()
{
    m_bStopped.store(true);
    const uint64_t nOne = 1;
    // The event stays signalled: every sleep, now and later, sees it.
    if (write(m_hStop, &nOne, sizeof nOne) < 0)
        return;
}
