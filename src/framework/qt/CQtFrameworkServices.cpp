#include "framework/qt/CQtFrameworkServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <csignal>

#include "base/CThreadStarter.h"
#include "framework/qt/CLoadProgress.h"
#include "framework/qt/CQtDialogWindow.h"

bool CQtFrameworkServices::SocketInit()
{
    // A datagram socket never raises SIGPIPE, but a write to a closed stream
    // socket would end the process; the socket layer reports errors instead.
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

std::unique_ptr<CDialogWindow> CQtFrameworkServices::CreateDialogWindow(CDialogFrame& dialog,
                                                                        const DialogTemplate& dialogTemplate,
                                                                        CDialogWindow* pParent)
{
    return std::make_unique<CQtDialogWindow>(*this, dialog, dialogTemplate, OwnerWidget(pParent));
}

void CQtFrameworkServices::WindowMessageBox(CDialogWindow* pOwner, const std::string& strText,
                                            const std::string& strCaption, Icon nIcon)
{
    QMessageBox box(OwnerWidget(pOwner));
    // A fixed-size box with a close button only.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                       Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    const QString strTitle = QString::fromStdString(strCaption.empty() ? AppName() : strCaption);
    box.setWindowTitle(strTitle);
    box.setText(QString::fromStdString(strText));
    box.setTextFormat(Qt::PlainText);
    switch (nIcon) {
    case Icon::kNone:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::kExclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::kInformation:
        box.setIcon(QMessageBox::Information);
        break;
    }
    QPushButton* pOk = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.setDefaultButton(pOk);
    box.setEscapeButton(pOk);
    // Wide enough for the whole caption beside the title bar's icon and
    // buttons (in the bold title font most window managers use); added last,
    // as setting the icon rebuilds the layout.
    if (auto* pLayout = qobject_cast<QGridLayout*>(box.layout())) {
        QFont titleFont = box.font();
        titleFont.setBold(true);
        const QFontMetrics title(titleFont);
        pLayout->addItem(new QSpacerItem(title.horizontalAdvance(strTitle) + 10 * title.height(), 0),
                         pLayout->rowCount(), 0, 1, pLayout->columnCount());
    }
    box.exec();
}

void CQtFrameworkServices::AppMessageBox(const std::string& strText, Icon nIcon)
{
    // Owned by the active window, so that it stays in front of it.
    WindowMessageBox(nullptr, strText, AppName(), nIcon);
}

bool CQtFrameworkServices::FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt,
                                          const std::string& strFilter, std::string& strPath)
{
    // The dialog stores its history and places in the toolkit's settings
    // file (QtProject.conf) when it goes. The program stores nothing but its
    // own settings: for the dialog's life the user's settings path points
    // where no directory can be made, so that nothing is read or written.
    const QString strUserPath =
        QFileInfo(QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("QtProject")).fileName())
            .absolutePath();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    const bool bChosen = RunFileDialog(OwnerWidget(pOwner), strDefaultExt, strFilter, strPath);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, strUserPath);
    return bChosen;
}

bool CQtFrameworkServices::RunFileDialog(QWidget* pOwner, const std::string& strDefaultExt,
                                         const std::string& strFilter, std::string& strPath)
{
    QFileDialog dialog(pOwner);
    dialog.setWindowTitle(QStringLiteral("打开"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // The label alone, as the filter text spells it.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QString strSuffix = QString::fromStdString(strDefaultExt);
    if (strSuffix.startsWith(QLatin1Char('.')))
        strSuffix.remove(0, 1);
    dialog.setDefaultSuffix(strSuffix);
    dialog.setNameFilters(NameFilters(strFilter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    strPath = dialog.selectedFiles().constFirst().toStdString();
    return true;
}

CStatus CQtFrameworkServices::StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread)
{
    return CThreadStarter::Start(std::move(body), pThread);
}

bool CQtFrameworkServices::RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte,
                                          int nShowDelayMs)
{
    return CLoadProgress(*this, OwnerWidget(pOwner), nShowDelayMs).Run(job, nReportsPerByte);
}

std::string CQtFrameworkServices::AppName() const
{
    return QCoreApplication::applicationName().toStdString();
}

QIcon CQtFrameworkServices::IconResource(int nId) const
{
    const auto it = m_icons.find(nId);
    return it == m_icons.end() ? QIcon() : it->second;
}

QWidget* CQtFrameworkServices::OwnerWidget(CDialogWindow* pOwner)
{
    auto* pWindow = dynamic_cast<CQtDialogWindow*>(pOwner);
    return pWindow != nullptr ? pWindow : QApplication::activeWindow();
}

QStringList CQtFrameworkServices::NameFilters(const std::string& strFilter)
{
    const QStringList parts = QString::fromStdString(strFilter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        QString strPatterns = parts[i + 1];
        strPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + strPatterns + QLatin1Char(')');
    }
    return filters;
}
