#include "ui/CAboutDlg.h"

#include "TovrikVersion.h"
#include "ui/Resource.h"
#include "ui/TovrikTemplates.h"

CAboutDlg::CAboutDlg(CFrameworkServices& services, CDialogFrame* pParent)
    : CDialogFrame(services, TovrikTemplates::kAboutBox, pParent)
{
}

CAboutDlg::~CAboutDlg() = default;

std::string CAboutDlg::VersionText()
{
    return "Tovrik，" + std::to_string(TovrikVersion::kMajor) + "." + std::to_string(TovrikVersion::kMinor) + " 版";
}

bool CAboutDlg::OnInitDialog()
{
    CDialogFrame::OnInitDialog();
    SetItemText(IDC_STATIC_VERSION, VersionText());
    return true;
}
