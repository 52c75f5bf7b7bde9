#pragma once

#include <memory>

#include "framework/CFrameworkServices.h"

class CSocketLibrary;

// The framework's services on the Win32 API with its wide-character calls:
// Windows Sockets, windows made by CWin32DialogWindow, MessageBoxW,
// GetOpenFileNameW, loads under CWin32LoadProgress. The constructor
// registers the common control classes the templates use (the address
// control among them); the program's icons and other resources are in the
// executable. Windows Sockets, once started, stays up until the services
// go, so they must outlive every socket.
//
// User-interface thread only.
class CWin32FrameworkServices : public CFrameworkServices {
public:
    CWin32FrameworkServices();
    ~CWin32FrameworkServices() override;

    bool SocketInit() override;
    std::unique_ptr<CDialogWindow> CreateDialogWindow(CDialogFrame& dialog, const DialogTemplate& dialogTemplate,
                                                      CDialogWindow* pParent) override;
    void WindowMessageBox(CDialogWindow* pOwner, const std::string& strText, const std::string& strCaption,
                          Icon nIcon) override;
    void AppMessageBox(const std::string& strText, Icon nIcon = Icon::kNone) override;
    bool FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                        std::string& strPath) override;
    CStatus StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread) override;
    bool RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte, int nShowDelayMs) override;
    // The executable's name without its folder and extension.
    std::string AppName() const override;

    // A filter text ("文件(*.txt)|*.txt||") in the form of the file dialogs:
    // the same pairs, each part ended by a null, the whole by two.
    static std::wstring FileDialogFilter(const std::string& strFilter);

private:
    std::unique_ptr<CSocketLibrary> m_pSockets;
};
