#include "send/CSystemClock.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

CSystemClock::CSystemClock()
{
    m_hWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_bWake = m_hWake >= 0;
}

CSystemClock::~CSystemClock()
{
    if (m_bWake)
        close(m_hWake);
}

int64_t CSystemClock::Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

void CSystemClock::Wake()
{
    if (!m_bWake)
        return;
    // Fails only with the counter full, when a wake-up is pending anyway.
    const uint64_t nOne = 1;
    [[maybe_unused]] const ssize_t nWritten = write(m_hWake, &nOne, sizeof nOne);
}

void CSystemClock::WaitForWake(int nMilliseconds)
{
    // Without the eventfd, poll() over no descriptors is a plain sleep.
    pollfd wake{m_hWake, POLLIN, 0};
    if (poll(&wake, m_bWake ? 1 : 0, nMilliseconds) <= 0)
        return;
    // Resets the counter; the descriptor is non-blocking.
    uint64_t nCount = 0;
    [[maybe_unused]] const ssize_t nRead = read(m_hWake, &nCount, sizeof nCount);
}
