#include <windows.h>

#include "app/CTovrikApp.h"
#include "framework/win32/CWin32FrameworkServices.h"
#include "net/CUDPSocket.h"

// Built in this order and destroyed in the reverse one: the endpoint closes
// (its network-event thread stopped) before the application object goes,
// and both before the services end Windows Sockets.
CWin32FrameworkServices theServices;
CTovrikApp theApp;
CUDPSocket theUDPSocket;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    theApp.InitInstance(theServices);
    return theApp.WindowRan() ? 0 : 1;
}
