#include "app/CDialogFrame.h"

#include <QFontMetrics>

#include "app/CDataExchange.h"
#include "app/CPostedMessage.h"

CDialogFrame::CDialogFrame(CFrameworkServices& services, int nWidthDu, int nHeightDu, int nPointSize,
                           QWidget* pParent)
    : QDialog(pParent), m_services(services), m_nWidthDu(nWidthDu), m_nHeightDu(nHeightDu)
{
    QFont font = this->font();
    font.setPointSize(nPointSize);
    setFont(font);
    // Base units as the Windows dialog manager takes them from its font: the
    // average width of the Latin letters and the line height.
    const QFontMetrics metrics(font);
    const int nLetters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = (nLetters / 26 + 1) / 2;
    m_nBaseY = metrics.height();
}

void CDialogFrame::Create()
{
    if (m_bCreated)
        return;
    m_bCreated = true;
    const QRect client = MapDialogRect(0, 0, m_nWidthDu, m_nHeightDu);
    resize(client.size());
    // The controls keep their places: a smaller window would hide some.
    setMinimumSize(client.size());
    CreateControls();
    if (OnInitDialog() && m_pFirstTabStop != nullptr)
        m_pFirstTabStop->setFocus(Qt::OtherFocusReason);
}

int CDialogFrame::DoModal()
{
    Create();
    return exec();
}

bool CDialogFrame::UpdateData(bool bSaveAndValidate)
{
    CDataExchange dx(m_services, bSaveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

bool CDialogFrame::ValidateData()
{
    CDataExchange dx(m_services, true, true);
    DoDataExchange(dx);
    return !dx.Failed();
}

QWidget* CDialogFrame::GetDlgItem(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDialogFrame::SetDlgItemText(int nId, const std::string& strText)
{
    QWidget* pControl = GetDlgItem(nId);
    if (pControl != nullptr)
        pControl->setProperty("text", QString::fromStdString(strText));
}

void CDialogFrame::EnableDlgItem(int nId, bool bEnable)
{
    QWidget* pControl = GetDlgItem(nId);
    if (pControl != nullptr)
        pControl->setEnabled(bEnable);
}

QRect CDialogFrame::MapDialogRect(int nX, int nY, int nWidth, int nHeight) const
{
    const auto toX = [this](int n) { return (n * m_nBaseX + 2) / 4; };
    const auto toY = [this](int n) { return (n * m_nBaseY + 4) / 8; };
    return QRect(toX(nX), toY(nY), toX(nWidth), toY(nHeight));
}

bool CDialogFrame::OnInitDialog()
{
    return true;
}

void CDialogFrame::DoDataExchange(CDataExchange&)
{
}

void CDialogFrame::OnMessage(int, uint32_t, intptr_t, uint64_t)
{
}

bool CDialogFrame::event(QEvent* pEvent)
{
    if (pEvent->type() == CPostedMessage::EventType()) {
        const auto* pMessage = static_cast<CPostedMessage*>(pEvent);
        OnMessage(pMessage->Message(), pMessage->WParam(), pMessage->LParam(), pMessage->Tag());
        return true;
    }
    return QDialog::event(pEvent);
}

void CDialogFrame::PlaceControl(int nId, QWidget* pControl, int nX, int nY, int nWidth, int nHeight)
{
    pControl->setParent(this);
    pControl->setGeometry(MapDialogRect(nX, nY, nWidth, nHeight));
    if (nId != 0)
        m_controls[nId] = pControl;
    if (pControl->focusPolicy() & Qt::TabFocus) {
        if (m_pLastTabStop != nullptr)
            setTabOrder(m_pLastTabStop, pControl);
        else
            m_pFirstTabStop = pControl;
        m_pLastTabStop = pControl;
    }
}
