#include "cli/CStopSignal.h"

#include <windows.h>

#include <atomic>

namespace {

// The console's control handler runs on a thread of its own and takes no
// context: the one live object's events are kept here.
HANDLE g_hStop = nullptr;
HANDLE g_hDone = nullptr;
// The console is going away: every wait ends, not just the next.
std::atomic<bool> g_bClosing{false};

BOOL WINAPI OnConsoleControl(DWORD nEvent)
{
    // After a close, log-off or shut-down the process ends as soon as this
    // returns: hold it until the run has been stopped (the system allows a
    // few seconds).
    const bool bClosing = nEvent == CTRL_CLOSE_EVENT || nEvent == CTRL_LOGOFF_EVENT || nEvent == CTRL_SHUTDOWN_EVENT;
    if (bClosing)
        g_bClosing.store(true);
    SetEvent(g_hStop);
    if (bClosing)
        WaitForSingleObject(g_hDone, 4500);
    return TRUE;
}

}  // namespace

CStopSignal::CStopSignal()
{
    // Auto-reset, as a POSIX signal is taken: each request ends one wait, so
    // a second Ctrl-C is needed to end the wait for replies after the first
    // stopped the devices.
    g_hStop = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    g_bClosing.store(false);
    g_hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // A process started in a group of its own ignores Ctrl-C until told not to.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

CStopSignal::~CStopSignal()
{
    SetEvent(g_hDone);
    SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    CloseHandle(g_hStop);
    g_hStop = nullptr;
    // g_hDone stays: a close handler may still be waiting on it.
}

bool CStopSignal::Wait(int nMilliseconds)
{
    return g_bClosing.load() || WaitForSingleObject(g_hStop, static_cast<DWORD>(nMilliseconds)) == WAIT_OBJECT_0;
}
