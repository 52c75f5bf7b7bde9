#pragma once

#include <optional>
#include <string>
#include <vector>

#include "framework/fake/CFakeFrameworkServices.h"
#include "framework/qt/CQtFrameworkServices.h"

// The Qt framework services with the boxes recorded and answered at once and
// the file-open dialog answering a chosen path (or cancelled); windows and
// loads are the real ones.
class CTestServices : public CQtFrameworkServices {
public:
    // Recorded as the fake framework records them.
    using Box = CFakeFrameworkServices::Box;

    CTestServices();

    void WindowMessageBox(CDialogWindow* pOwner, const std::string& strText, const std::string& strCaption,
                          Icon nIcon) override;
    void AppMessageBox(const std::string& strText, Icon nIcon) override;
    bool FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt, const std::string& strFilter,
                        std::string& strPath) override;

    // The texts of the boxes shown so far, in order.
    std::vector<std::string> Texts() const;

    std::vector<Box> m_boxes;
    std::optional<std::string> m_strFileAnswer;
    std::string m_strLastFilter;
};
