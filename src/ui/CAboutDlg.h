#pragma once

#include "app/CDialogFrame.h"

// The About box: the program icon, its name and version, and an OK button.
class CAboutDlg : public CDialogFrame {
    Q_OBJECT

public:
    explicit CAboutDlg(CFrameworkServices& services, QWidget* pParent = nullptr);
    ~CAboutDlg() override;

protected:
    void CreateControls() override;
};
