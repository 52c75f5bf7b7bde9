#include "framework/qt/CQtDialogWindow.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>

#include <cstring>

#include "framework/CDialogFrame.h"
#include "framework/DialogTemplate.h"
#include "framework/qt/CIpAddressCtrl.h"
#include "framework/qt/CPostedMessage.h"
#include "framework/qt/CQtFrameworkServices.h"

namespace {

using namespace DialogStyle;

// A closed combo box is as high as an edit box; the rest of its template
// height is the list's.
constexpr int kComboClosedHeightDu = 14;
constexpr int kComboItemHeightDu = 8;
// An icon control takes the icon's own size.
constexpr int kIconPixels = 32;
// The property in which a multi-line edit keeps the text it was last given.
const char kShownText[] = "tovrikShownText";

Qt::WindowFlags WindowFlags(const DialogTemplate& dialogTemplate)
{
    const uint32_t nStyle = dialogTemplate.nStyle;
    // An application window has a taskbar entry of its own.
    Qt::WindowFlags flags = (dialogTemplate.nExStyle & kWsExAppWindow) ? Qt::Window : Qt::Dialog;
    if ((nStyle & kWsCaption) == kWsCaption)
        flags |= Qt::WindowTitleHint;
    if (nStyle & kWsSysMenu)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (nStyle & kWsMinimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    if (nStyle & kWsMaximizeBox)
        flags |= Qt::WindowMaximizeButtonHint;
    if (!(nStyle & kWsThickFrame))
        flags |= Qt::MSWindowsFixedSizeDialogHint;
    return flags;
}

}  // namespace

CQtDialogWindow::CQtDialogWindow(CQtFrameworkServices& services, CDialogFrame& dialog,
                                 const DialogTemplate& dialogTemplate, QWidget* pParent)
    : QDialog(pParent), m_services(services), m_dialog(dialog), m_template(dialogTemplate)
{
    QFont font = this->font();
    font.setPointSize(dialogTemplate.nPointSize);
    setFont(font);
    // Base units as the Windows dialog manager takes them from its font: the
    // average width of the Latin letters and the line height.
    const QFontMetrics metrics(font);
    const int nLetters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (nLetters / 26 + 1) / 2;
    m_nBaseY = metrics.height();
    setWindowTitle(QString::fromUtf8(dialogTemplate.pszCaption));
    setWindowFlags(WindowFlags(dialogTemplate));
}

void CQtDialogWindow::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    const QRect client = MapDialogRect(0, 0, m_template.cx, m_template.cy);
    resize(client.size());
    // The controls keep their places: a smaller window would hide some.
    if (m_template.nStyle & kWsThickFrame)
        setMinimumSize(client.size());
    else
        setFixedSize(client.size());
    for (size_t i = 0; i < m_template.nControls; ++i) {
        const ControlTemplate& control = m_template.pControls[i];
        PlaceControl(control, CreateControl(control));
    }
    if (m_dialog.OnInitDialog() && m_pFirstTabStop != nullptr)
        m_pFirstTabStop->setFocus(Qt::OtherFocusReason);
}

QWidget* CQtDialogWindow::CreateControl(const ControlTemplate& control)
{
    const QString strCaption = control.pszCaption != nullptr ? QString::fromUtf8(control.pszCaption) : QString();
    const uint32_t nStyle = control.nStyle;
    switch (control.nClass) {
    case ControlClass::kButton: {
        const uint32_t nType = nStyle & kBsTypeMask;
        if (nType == kBsGroupBox)
            return new QGroupBox(strCaption);
        QAbstractButton* pButton = nullptr;
        if (nType == kBsAutoCheckBox) {
            pButton = new QCheckBox(strCaption);
        } else {
            auto* pPush = new QPushButton(strCaption);
            if (nType == kBsDefPushButton) {
                pPush->setDefault(true);
                m_pDefaultButton = pPush;
            }
            pButton = pPush;
        }
        const int nId = control.nId;
        connect(pButton, &QAbstractButton::clicked, this, [this, nId] { m_dialog.OnCommand(nId); });
        return pButton;
    }
    case ControlClass::kEdit: {
        if (nStyle & kEsMultiline) {
            auto* pEdit = new QPlainTextEdit;
            // Without horizontal scrolling long lines wrap.
            if (!(nStyle & kEsAutoHScroll)) {
                pEdit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                pEdit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            }
            if (nStyle & kWsVScroll)
                pEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            pEdit->setTabChangesFocus(true);
            if (!(nStyle & kEsWantReturn)) {
                m_enterPressesDefault.insert(pEdit);
                pEdit->installEventFilter(this);
            }
            return pEdit;
        }
        auto* pEdit = new QLineEdit(strCaption);
        if (nStyle & kEsNumber)
            pEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), pEdit));
        return pEdit;
    }
    case ControlClass::kStatic: {
        auto* pLabel = new QLabel(strCaption);
        if ((nStyle & kSsTypeMask) == kSsIcon)
            pLabel->setPixmap(m_services.IconResource(control.nImageId).pixmap(kIconPixels, kIconPixels));
        return pLabel;
    }
    case ControlClass::kComboBox: {
        auto* pCombo = new QComboBox;
        pCombo->setMaxVisibleItems(std::max(1, (control.cy - kComboClosedHeightDu) / kComboItemHeightDu));
        return pCombo;
    }
    case ControlClass::kIpAddress:
        return new CIpAddressCtrl;
    }
    return new QWidget;
}

void CQtDialogWindow::PlaceControl(const ControlTemplate& control, QWidget* pControl)
{
    pControl->setParent(this);
    if (control.nClass == ControlClass::kComboBox) {
        pControl->setGeometry(MapDialogRect(control.x, control.y, control.cx, kComboClosedHeightDu));
    } else if (control.nClass == ControlClass::kStatic && (control.nStyle & kSsTypeMask) == kSsIcon) {
        const QPoint topLeft = MapDialogRect(control.x, control.y, 0, 0).topLeft();
        pControl->setGeometry(QRect(topLeft, QSize(kIconPixels, kIconPixels)));
    } else {
        pControl->setGeometry(MapDialogRect(control.x, control.y, control.cx, control.cy));
    }
    // A frame stays behind the controls it surrounds.
    if (qobject_cast<QGroupBox*>(pControl) != nullptr)
        pControl->lower();
    if (control.nId != DialogId::kStatic)
        m_controls[control.nId] = pControl;
    if (!(control.nStyle & kWsTabStop)) {
        pControl->setFocusPolicy(static_cast<Qt::FocusPolicy>(pControl->focusPolicy() & ~Qt::TabFocus));
        return;
    }
    if (m_pLastTabStop != nullptr)
        setTabOrder(m_pLastTabStop, pControl);
    else
        m_pFirstTabStop = pControl;
    m_pLastTabStop = pControl;
}

int CQtDialogWindow::DoModal()
{
    Create();
    return exec();
}

void CQtDialogWindow::EndDialog(int nResult)
{
    done(nResult);
}

QWidget* CQtDialogWindow::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

std::string CQtDialogWindow::GetItemText(int nId) const
{
    QWidget* pControl = GetDlgItem(nId);
    if (auto* pText = qobject_cast<QPlainTextEdit*>(pControl))
        return pText->toPlainText().toStdString();
    if (auto* pAddress = qobject_cast<CIpAddressCtrl*>(pControl))
        return pAddress->Address();
    if (auto* pGroup = qobject_cast<QGroupBox*>(pControl))
        return pGroup->title().toStdString();
    return pControl != nullptr ? pControl->property("text").toString().toStdString() : std::string();
}

void CQtDialogWindow::SetItemText(int nId, const std::string& strText)
{
    QWidget* pControl = GetDlgItem(nId);
    if (auto* pText = qobject_cast<QPlainTextEdit*>(pControl)) {
        // Showing the same text again would cost a relayout of a long text
        // and lose the caret and the scroll position, at every tick of a run;
        // the control remembers what it was last given and whether it was
        // edited.
        if (!pText->document()->isModified()) {
            const QByteArray shown = pText->property(kShownText).toByteArray();
            if (!shown.isNull() && static_cast<size_t>(shown.size()) == strText.size() &&
                std::memcmp(shown.constData(), strText.data(), strText.size()) == 0)
                return;
        }
        pText->setPlainText(QString::fromStdString(strText));
        pText->document()->setModified(false);
        pText->setProperty(kShownText, QByteArray(strText.data(), static_cast<qsizetype>(strText.size())));
    } else if (auto* pAddress = qobject_cast<CIpAddressCtrl*>(pControl)) {
        pAddress->SetAddress(strText);
    } else if (auto* pGroup = qobject_cast<QGroupBox*>(pControl)) {
        pGroup->setTitle(QString::fromStdString(strText));
    } else if (pControl != nullptr) {
        const QString strNew = QString::fromStdString(strText);
        if (pControl->property("text").toString() != strNew)
            pControl->setProperty("text", strNew);
    }
}

bool CQtDialogWindow::IsItemChecked(int nId) const
{
    auto* pButton = qobject_cast<QAbstractButton*>(GetDlgItem(nId));
    return pButton != nullptr && pButton->isChecked();
}

void CQtDialogWindow::SetItemCheck(int nId, bool bCheck)
{
    if (auto* pButton = qobject_cast<QAbstractButton*>(GetDlgItem(nId)))
        pButton->setChecked(bCheck);
}

void CQtDialogWindow::EnableItem(int nId, bool bEnable)
{
    if (QWidget* pControl = GetDlgItem(nId))
        pControl->setEnabled(bEnable);
}

void CQtDialogWindow::GotoDlgCtrl(int nId)
{
    QWidget* pControl = GetDlgItem(nId);
    if (pControl == nullptr)
        return;
    pControl->setFocus(Qt::OtherFocusReason);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl))
        pEdit->selectAll();
}

void CQtDialogWindow::InsertComboString(int nId, int nIndex, const std::string& strText)
{
    auto* pCombo = qobject_cast<QComboBox*>(GetDlgItem(nId));
    if (pCombo == nullptr)
        return;
    pCombo->insertItem(nIndex, QString::fromStdString(strText));
    // The closed box keeps its width; its list shows every entry whole.
    QAbstractItemView* pList = pCombo->view();
    pList->setMinimumWidth(pList->sizeHintForColumn(0) + 2 * pList->frameWidth() +
                           pList->verticalScrollBar()->sizeHint().width());
}

int CQtDialogWindow::GetComboSelection(int nId) const
{
    auto* pCombo = qobject_cast<QComboBox*>(GetDlgItem(nId));
    return pCombo != nullptr ? pCombo->currentIndex() : -1;
}

void CQtDialogWindow::SetComboSelection(int nId, int nIndex)
{
    auto* pCombo = qobject_cast<QComboBox*>(GetDlgItem(nId));
    if (pCombo != nullptr)
        pCombo->setCurrentIndex(nIndex >= 0 && nIndex < pCombo->count() ? nIndex : -1);
}

void CQtDialogWindow::SetIcon(int nIconId)
{
    setWindowIcon(m_services.IconResource(nIconId));
}

QMenu* CQtDialogWindow::SystemMenu()
{
    if (m_pSystemMenu == nullptr) {
        m_pSystemMenu = new QMenu(this);
        setContextMenuPolicy(Qt::CustomContextMenu);
        connect(this, &QWidget::customContextMenuRequested, this,
                [this](const QPoint& pos) { m_pSystemMenu->exec(mapToGlobal(pos)); });
        auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        connect(pShortcut, &QShortcut::activated, this, [this] { m_pSystemMenu->exec(mapToGlobal(QPoint(0, 0))); });
    }
    return m_pSystemMenu;
}

void CQtDialogWindow::AppendSystemMenuSeparator()
{
    SystemMenu()->addSeparator();
}

void CQtDialogWindow::AppendSystemMenu(int nCommand, const std::string& strText)
{
    QAction* pAction = SystemMenu()->addAction(QString::fromStdString(strText));
    connect(pAction, &QAction::triggered, this, [this, nCommand] { m_dialog.OnSysCommand(nCommand); });
}

void CQtDialogWindow::Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag)
{
    QCoreApplication::postEvent(this, new CPostedMessage(nMessage, wParam, lParam, nTag));
}

QRect CQtDialogWindow::MapDialogRect(int nX, int nY, int nWidth, int nHeight) const
{
    const auto toX = [this](int n) { return (n * m_nBaseX + 2) / 4; };
    const auto toY = [this](int n) { return (n * m_nBaseY + 4) / 8; };
    return QRect(toX(nX), toY(nY), toX(nWidth), toY(nHeight));
}

bool CQtDialogWindow::event(QEvent* pEvent)
{
    if (pEvent->type() == CPostedMessage::EventType()) {
        const auto* pMessage = static_cast<CPostedMessage*>(pEvent);
        m_dialog.OnMessage(pMessage->Message(), pMessage->WParam(), pMessage->LParam(), pMessage->Tag());
        return true;
    }
    return QDialog::event(pEvent);
}

bool CQtDialogWindow::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::KeyPress && m_enterPressesDefault.count(pWatched) != 0) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) {
            if (pKey->modifiers() & Qt::ControlModifier)
                static_cast<QPlainTextEdit*>(pWatched)->insertPlainText(QStringLiteral("\n"));
            else if (m_pDefaultButton != nullptr)
                m_pDefaultButton->click();
            return true;
        }
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

void CQtDialogWindow::done(int nResult)
{
    if (m_dialog.OnClosing())
        QDialog::done(nResult);
}
