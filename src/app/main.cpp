#include <QApplication>

#include "app/CFrameworkServices.h"
#include "app/CTovrikApp.h"
#include "net/CUDPSocket.h"

// Built in this order and destroyed in the reverse one: the endpoint closes
// (its network-event thread stopped) before the application object goes.
CTovrikApp theApp;
CUDPSocket theUDPSocket;

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    CFrameworkServices services;
    theApp.InitInstance(services);
    return theApp.WindowRan() ? 0 : 1;
}
