#include "send/CSystemClock.h"

#include <windows.h>

#include <ctime>

CSystemClock::CSystemClock()
{
    m_hWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_bWake = m_hWake != nullptr;
}

CSystemClock::~CSystemClock()
{
    if (m_bWake)
        CloseHandle(m_hWake);
}

int64_t CSystemClock::Now()
{
    return static_cast<int64_t>(_time64(nullptr));
}

void CSystemClock::Wake()
{
    if (m_bWake)
        SetEvent(m_hWake);
}

void CSystemClock::WaitForWake(int nMilliseconds)
{
    // The auto-reset event is consumed by the wait that it ends.
    if (m_bWake)
        WaitForSingleObject(m_hWake, static_cast<DWORD>(nMilliseconds));
    else
        ::Sleep(static_cast<DWORD>(nMilliseconds));
}
