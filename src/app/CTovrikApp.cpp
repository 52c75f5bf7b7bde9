#include "app/CTovrikApp.h"

#include <QApplication>

#include "app/CFrameworkServices.h"
#include "app/CTovrikIcon.h"
#include "app/Resource.h"
#include "net/CLNHanlder.h"
#include "net/CUDPSocket.h"
#include "ui/CTovrikDlg.h"

CTovrikApp::CTovrikApp() = default;

CTovrikApp::~CTovrikApp() = default;

bool CTovrikApp::InitInstance(CFrameworkServices& services)
{
    if (!services.SocketInit()) {
        services.AppMessageBox(IDP_SOCKETS_INIT_FAILED);
        return false;
    }

    // Installed before the endpoint opens, so its network-event thread never
    // sees it missing; kept for the life of the process.
    if (!m_pHandler) {
        m_pHandler = std::make_unique<CLNHanlder>();
        theUDPSocket.SetHandler(m_pHandler.get());
    }
    if (theUDPSocket.Create(0) == 0)
        return false;

    QApplication::setWindowIcon(CTovrikIcon::Icon());
    CTovrikDlg dlg(services);
    m_bWindowRan = true;
    dlg.DoModal();
    return false;
}
