#include "fleet/CSystemFleetClock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;

}  // namespace

CSystemFleetClock::CSystemFleetClock(int nThreads)
{
    m_hStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    for (int i = 0; i < nThreads; ++i)
        m_timers.push_back(timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK));
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
    if (m_bStopped.load())
        return Wake::kStopped;
    const int hTimer = m_timers[static_cast<size_t>(nThread)];
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(nDeadlineNs / kNsPerSecond);
    when.it_value.tv_nsec = static_cast<long>(nDeadlineNs % kNsPerSecond);
    if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0)
        when.it_value.tv_nsec = 1;  // zero would disarm the timer
    if (timerfd_settime(hTimer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &when, nullptr) != 0) {
        if (errno == ECANCELED)
            return Wake::kClockSet;
        return Wake::kDeadline;
    }
    pollfd fds[2] = {{hTimer, POLLIN, 0}, {m_hStop, POLLIN, 0}};
    for (;;) {
        const int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
    if (m_bStopped.load() || (fds[1].revents & POLLIN))
        return Wake::kStopped;
    uint64_t nExpired = 0;
    if (read(hTimer, &nExpired, sizeof nExpired) < 0 && errno == ECANCELED)
        return Wake::kClockSet;
    return Wake::kDeadline;
}

void CSystemFleetClock::Stop()
{
    m_bStopped.store(true);
    const uint64_t nOne = 1;
    // The event stays signalled: every sleep, now and later, sees it.
    if (write(m_hStop, &nOne, sizeof nOne) < 0)
        return;
}
