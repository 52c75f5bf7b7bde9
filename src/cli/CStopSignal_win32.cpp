#include "cli/CStopSignal.h"

#include <windows.h>

namespace {

// The console's control handler runs on a thread of its own and takes no
// context: the one live object's events are kept here.
HANDLE g_hStop = nullptr;
HANDLE g_hDone = nullptr;

BOOL WINAPI OnConsoleControl(DWORD nEvent)
{
    SetEvent(g_hStop);
    // After a close, log-off or shut-down the process ends as soon as this
    // returns: hold it until the run has been stopped (the system allows a
    // few seconds).
    if (nEvent == CTRL_CLOSE_EVENT || nEvent == CTRL_LOGOFF_EVENT || nEvent == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(g_hDone, 4500);
    return TRUE;
}

}  // namespace

CStopSignal::CStopSignal()
{
    g_hStop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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
    return WaitForSingleObject(g_hStop, static_cast<DWORD>(nMilliseconds)) == WAIT_OBJECT_0;
}
