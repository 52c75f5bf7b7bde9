#include "base/CRunWait.h"

#include <algorithm>

#include "base/CStopSource.h"

CRunWait::CRunWait(CStopSource& stopSource, const std::optional<double>& dStopAfter)
    : m_stopSource(stopSource), m_start(Clock::now()), m_deadline(Clock::time_point::max())
{
    if (dStopAfter)
        m_deadline = m_start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*dStopAfter));
}

void CRunWait::Wait(const std::function<bool()>& ended, const std::function<void()>& onSecond)
{
    auto nextSecond = m_start + std::chrono::seconds(1);
    for (;;) {
        const auto now = Clock::now();
        if (ended() || now >= m_deadline)
            return;
        if (onSecond && now >= nextSecond) {
            onSecond();
            nextSecond += std::chrono::seconds(1);
        }
        auto until = std::min(m_deadline, now + std::chrono::milliseconds(kPollMs));
        if (onSecond)
            until = std::min(until, nextSecond);
        // A millisecond more, so that the wait does not end just short.
        const auto nWaitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
        if (m_stopSource.Wait(static_cast<int>(nWaitMs)))
            return;
    }
}

double CRunWait::Seconds() const
{
    return std::chrono::duration<double>(Clock::now() - m_start).count();
}
