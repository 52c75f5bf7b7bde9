#include "fleet/CSystemFleetClock.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
// 1601-01-01 to 1970-01-01 in 100 ns units.
constexpr int64_t kUnixEpochIn100Ns = 116444736000000000;
// A sleep waits at most this long at once, so that a clock set during it is
// noticed within this time.
constexpr int64_t kSliceNs = kNsPerSecond;
// The calendar clock moving this much more or less than the steady clock
// during one wait was set, not slewed.
constexpr int64_t kSetThresholdNs = 10000000;

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

int64_t SteadyNs()
{
    static const int64_t nFrequency = [] {
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        return static_cast<int64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const int64_t nTicks = now.QuadPart;
    return nTicks / nFrequency * kNsPerSecond + nTicks % nFrequency * kNsPerSecond / nFrequency;
}

// Asks for the system timer's finest resolution, for the plain waitable
// timers of systems without high-resolution ones (ntdll's call: winmm's
// timeBeginPeriod would tie the console program to user32).
void AskForFineTimer()
{
    using SetResolution = LONG(WINAPI*)(ULONG, BOOLEAN, PULONG);
    const HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    const auto pSet = hNtdll ? reinterpret_cast<SetResolution>(
                                   reinterpret_cast<void*>(GetProcAddress(hNtdll, "NtSetTimerResolution")))
                             : nullptr;
    ULONG nActual = 0;
    if (pSet != nullptr)
        pSet(10000, TRUE, &nActual);
}

}  // namespace

// A waitable timer per scheduler thread (high-resolution where the system has
// them, Windows 10 1803 and later) and one event that Stop sets.
struct CSystemFleetClock::Timers {
    std::vector<HANDLE> handles;
    HANDLE hStop = nullptr;

    ~Timers()
    {
        for (const HANDLE hTimer : handles) {
            if (hTimer != nullptr)
                CloseHandle(hTimer);
        }
        if (hStop != nullptr)
            CloseHandle(hStop);
    }
};

CSystemFleetClock::CSystemFleetClock(int nThreads) : m_pTimers(std::make_unique<Timers>())
{
    m_pTimers->hStop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool bPlain = false;
    for (int i = 0; i < nThreads; ++i) {
        HANDLE hTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        if (hTimer == nullptr) {
            hTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
            bPlain = true;
        }
        m_pTimers->handles.push_back(hTimer);
    }
    if (bPlain)
        AskForFineTimer();
}

CSystemFleetClock::~CSystemFleetClock() = default;

bool CSystemFleetClock::Valid() const
{
    return m_pTimers->hStop != nullptr &&
           std::none_of(m_pTimers->handles.begin(), m_pTimers->handles.end(),
                        [](HANDLE hTimer) { return hTimer == nullptr; });
}

int64_t CSystemFleetClock::CalendarNs()
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const int64_t n100Ns = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return (n100Ns - kUnixEpochIn100Ns) * 100;
}

void CSystemFleetClock::PrepareThread(int) {}

CFleetClock::Wake CSystemFleetClock::SleepUntil(int nThread, int64_t nDeadlineNs, int64_t& nSetByNs)
{
    const HANDLE handles[2] = {m_pTimers->hStop, m_pTimers->handles[static_cast<size_t>(nThread)]};
    for (;;) {
        if (m_bStopped.load())
            return Wake::kStopped;
        // Each wait is measured from a fresh reading of the clock, so the
        // deadline stays absolute.
        const int64_t nBeforeNs = NowNs();
        const int64_t nSteadyBeforeNs = SteadyNs();
        const int64_t nWaitNs = nDeadlineNs - nBeforeNs;
        if (nWaitNs <= 0)
            return Wake::kDeadline;
        LARGE_INTEGER due{};
        // Negative: relative, in 100 ns units.
        due.QuadPart = -std::max<int64_t>(1, std::min(nWaitNs, kSliceNs) / 100);
        if (!SetWaitableTimer(handles[1], &due, 0, nullptr, nullptr, FALSE)) {
            Sleep(1);
            continue;
        }
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        const int64_t nDriftNs = (NowNs() - nBeforeNs) - (SteadyNs() - nSteadyBeforeNs);
        if (nDriftNs > kSetThresholdNs || nDriftNs < -kSetThresholdNs) {
            nSetByNs = nDriftNs;
            return Wake::kClockSet;
        }
    }
}

void CSystemFleetClock::Stop()
{
    m_bStopped.store(true);
    if (m_pTimers->hStop != nullptr)
        SetEvent(m_pTimers->hStop);
}
