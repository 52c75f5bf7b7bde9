#pragma once

#include <string>

#include "framework/CDialogFrame.h"

// The About box (template 100): the program icon, its name and version, and
// an OK button that closes it.
class CAboutDlg : public CDialogFrame {
public:
    explicit CAboutDlg(CFrameworkServices& services, CDialogFrame* pParent = nullptr);
    ~CAboutDlg() override;

    // "Tovrik，1.0 版", from the program's version.
    static std::string VersionText();

    bool OnInitDialog() override;
};
