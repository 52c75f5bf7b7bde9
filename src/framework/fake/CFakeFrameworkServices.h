#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "framework/CFrameworkServices.h"

class CFakeDialogWindow;

// Framework services for tests, without a display: message boxes are
// recorded and answered at once, the file-open dialog answers a chosen path
// (or is cancelled), thread creation can be made to fail, loads run at once
// on the calling thread, and windows are CFakeDialogWindow, whose modal runs
// end at once (after m_onModal, when set, has had the window).
//
// One thread, the test's, except StartThread's threads.
class CFakeFrameworkServices : public CFrameworkServices {
public:
    struct Box {
        std::string strText;
        // The caption shown: the application's name when none was given.
        std::string strCaption;
        Icon nIcon;
        // An application box (not owned by a window).
        bool bApplication;
    };
    // A modal run of a window: its caption and its controls' texts in
    // template order.
    struct Modal {
        std::string strCaption;
        std::vector<std::string> texts;
    };

    static constexpr char kAppName[] = "tovrik";

    bool SocketInit() override { return m_bSocketInit; }
    std::unique_ptr<CDialogWindow> CreateDialogWindow(CDialogFrame& dialog, const DialogTemplate& dialogTemplate,
                                                      CDialogWindow* pParent) override;
    void WindowMessageBox(CDialogWindow* pOwner, const std::string& strText, const std::string& strCaption,
                          Icon nIcon) override;
    void AppMessageBox(const std::string& strText, Icon nIcon = Icon::kNone) override;
    bool FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                        std::string& strPath) override;
    CStatus StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread) override;
    bool RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte, int nShowDelayMs) override;
    std::string AppName() const override { return kAppName; }

    // The texts of the boxes shown so far, in order.
    std::vector<std::string> Texts() const;

    std::vector<Box> m_boxes;
    std::vector<Modal> m_modals;
    bool m_bSocketInit = true;
    bool m_bFailThreads = false;
    // The file the file-open dialog answers; none: cancelled.
    std::optional<std::string> m_strFileAnswer;
    std::string m_strLastFilter;
    std::string m_strLastDefaultExt;
    std::function<void(CFakeDialogWindow&)> m_onModal;
};
