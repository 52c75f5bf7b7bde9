#pragma once

#include <memory>

#include "net/CLNHanlder.h"

class CFrameworkServices;

// The application: its start-up operation prepares the socket layer, installs
// the receive handler, opens theUDPSocket on a port the system chooses and
// runs the main window modally. It owns the receive handler, which must
// outlive the endpoint: theApp is defined before theUDPSocket, so it is
// destroyed after it. The framework's services must be ready before
// InitInstance (for Qt: the QApplication exists, the icon is registered).
class CTovrikApp {
public:
    CTovrikApp() = default;
    CTovrikApp(const CTovrikApp&) = delete;
    CTovrikApp& operator=(const CTovrikApp&) = delete;

    // The start-up operation. Always false: there is no message loop to run
    // after it, whether start-up failed or the window has been closed.
    bool InitInstance(CFrameworkServices& services);

    // The main window ran (start-up did not fail).
    bool WindowRan() const { return m_bWindowRan; }

private:
    std::unique_ptr<CLNHanlder> m_pHandler;
    bool m_bWindowRan = false;
};
