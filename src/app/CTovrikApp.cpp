#include "app/CTovrikApp.h"

#include "framework/CFrameworkServices.h"
#include "net/CUDPSocket.h"
#include "ui/CStringTable.h"
#include "ui/CTovrikDlg.h"
#include "ui/Resource.h"

bool CTovrikApp::InitInstance(CFrameworkServices& services)
{
    if (!services.SocketInit()) {
        services.AppMessageBox(CStringTable::Load(IDP_SOCKETS_INIT_FAILED));
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

    CTovrikDlg dlg(services, theUDPSocket.Handle());
    m_bWindowRan = true;
    dlg.DoModal();
    return false;
}
