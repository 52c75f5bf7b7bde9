#include "ui/CAboutDlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "app/CTovrikIcon.h"

CAboutDlg::CAboutDlg(CFrameworkServices& services, QWidget* pParent) : CDialogFrame(services, 170, 62, 9, pParent)
{
    setWindowTitle(QStringLiteral("关于 Tovrik"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::CreateControls()
{
    setFixedSize(size());
    // An icon control takes the icon's own size, 32 pixels square.
    auto* pIcon = AddControl(0, new QLabel, 14, 14, 0, 0);
    pIcon->resize(32, 32);
    pIcon->setPixmap(CTovrikIcon::Icon().pixmap(32, 32));
    AddControl(0, new QLabel(QStringLiteral("Tovrik，1.0 版")), 42, 14, 114, 8);
    auto* pOk = AddControl(0, new QPushButton(QStringLiteral("确定")), 113, 41, 50, 14);
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}
