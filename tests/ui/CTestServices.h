#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/CFrameworkServices.h"

// Framework services for tests: message boxes are recorded and answered at
// once, the file-open dialog answers a chosen path (or is cancelled), and
// thread creation can be made to fail.
class CTestServices : public CFrameworkServices {
public:
    struct Box {
        std::string strText;
        // The caption shown: the application's name when none was given.
        std::string strCaption;
        Icon nIcon;
        bool bApplication;
    };

    using CFrameworkServices::AppMessageBox;

    bool SocketInit() override { return m_bSocketInit; }
    void MessageBox(QWidget* pOwner, const std::string& strText, const std::string& strCaption, Icon nIcon) override;
    void AppMessageBox(const std::string& strText, Icon nIcon) override;
    bool FileOpenDialog(QWidget* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                        std::string& strPath) override;
    std::unique_ptr<std::thread> StartThread(std::function<void()> body, std::string& strError) override;

    // The texts of the boxes shown so far, in order.
    std::vector<std::string> Texts() const;

    std::vector<Box> m_boxes;
    bool m_bSocketInit = true;
    bool m_bFailThreads = false;
    std::optional<std::string> m_strFileAnswer;
    std::string m_strLastFilter;
    std::string m_strLastDefaultExt;
};
