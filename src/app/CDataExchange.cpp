#include "app/CDataExchange.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/CIpAddressCtrl.h"

CDataExchange::CDataExchange(CFrameworkServices& services, bool bSaveAndValidate, bool bValidateOnly)
    : m_services(services), m_bSaveAndValidate(bSaveAndValidate), m_bValidateOnly(bValidateOnly)
{
}

void CDataExchange::Text(QPlainTextEdit* pControl, std::string& strValue)
{
    if (m_bFailed)
        return;
    if (m_bSaveAndValidate) {
        if (Writes())
            strValue = pControl->toPlainText().toStdString();
        return;
    }
    // Showing the same text again would cost a relayout of a long text and
    // lose the caret and the scroll position, at every tick of a run; the
    // control remembers what it was last given and whether it was edited.
    const char* const kShown = "tovrikShownText";
    if (!pControl->document()->isModified()) {
        const QByteArray shown = pControl->property(kShown).toByteArray();
        if (!shown.isNull() && static_cast<size_t>(shown.size()) == strValue.size() &&
            std::memcmp(shown.constData(), strValue.data(), strValue.size()) == 0)
            return;
    }
    pControl->setPlainText(QString::fromStdString(strValue));
    pControl->document()->setModified(false);
    pControl->setProperty(kShown, QByteArray(strValue.data(), static_cast<qsizetype>(strValue.size())));
}

void CDataExchange::Text(CIpAddressCtrl* pControl, std::string& strValue)
{
    if (m_bFailed)
        return;
    if (m_bSaveAndValidate) {
        if (Writes())
            strValue = pControl->Address();
        return;
    }
    pControl->SetAddress(strValue);
}

void CDataExchange::Number(QLineEdit* pControl, int32_t& nValue, int32_t nMin, int32_t nMax)
{
    if (m_bFailed)
        return;
    if (!m_bSaveAndValidate) {
        const QString strText = QString::number(nValue);
        if (pControl->text() != strText)
            pControl->setText(strText);
        return;
    }
    int64_t nRead = 0;
    const bool bNumber = ParseNumber(pControl->text().toStdString(), nRead);
    if (!bNumber || nRead < nMin || nRead > nMax) {
        Fail(pControl, NumberMessage(bNumber, nMin, nMax));
        return;
    }
    if (Writes())
        nValue = static_cast<int32_t>(nRead);
}

void CDataExchange::Control(QComboBox* pControl, QComboBox*& pMember)
{
    if (m_bFailed)
        return;
    if (pMember == nullptr && !m_bValidateOnly)
        pMember = pControl;
}

void CDataExchange::Check(QCheckBox* pControl, int& nValue)
{
    if (m_bFailed)
        return;
    if (m_bSaveAndValidate) {
        if (Writes())
            nValue = pControl->isChecked() ? 1 : 0;
        return;
    }
    pControl->setChecked(nValue != 0);
}

std::string CDataExchange::NumberMessage(bool bNumber, int32_t nMin, int32_t nMax)
{
    if (!bNumber)
        return "请输入一个整数。";
    return "请输入一个介于 " + std::to_string(nMin) + " 和 " + std::to_string(nMax) + " 之间的整数。";
}

bool CDataExchange::ParseNumber(const std::string& strText, int64_t& nValue)
{
    const char* pBegin = strText.c_str();
    while (std::isspace(static_cast<unsigned char>(*pBegin)))
        ++pBegin;
    if (*pBegin == '\0')
        return false;
    char* pEnd = nullptr;
    errno = 0;
    const long long nRead = std::strtoll(pBegin, &pEnd, 10);
    if (pEnd == pBegin || errno == ERANGE)
        return false;
    while (std::isspace(static_cast<unsigned char>(*pEnd)))
        ++pEnd;
    if (*pEnd != '\0')
        return false;
    nValue = nRead;
    return true;
}

void CDataExchange::Fail(QWidget* pControl, const std::string& strMessage)
{
    m_bFailed = true;
    m_services.AppMessageBox(strMessage, CFrameworkServices::Icon::kExclamation);
    pControl->setFocus(Qt::OtherFocusReason);
    if (auto* pEdit = qobject_cast<QLineEdit*>(pControl))
        pEdit->selectAll();
}
