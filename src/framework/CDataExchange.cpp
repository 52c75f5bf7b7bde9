#include "framework/CDataExchange.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "framework/CComboBox.h"
#include "framework/CDialogWindow.h"

CDataExchange::CDataExchange(CFrameworkServices& services, CDialogWindow& window, bool bSaveAndValidate,
                             bool bValidateOnly)
    : m_services(services), m_window(window), m_bSaveAndValidate(bSaveAndValidate), m_bValidateOnly(bValidateOnly)
{
}

void CDataExchange::Text(int nId, std::string& strValue)
{
    if (m_bFailed)
        return;
    if (!m_bSaveAndValidate)
        m_window.SetItemText(nId, strValue);
    else if (Writes())
        strValue = m_window.GetItemText(nId);
}

void CDataExchange::Number(int nId, int32_t& nValue, int32_t nMin, int32_t nMax)
{
    if (m_bFailed)
        return;
    if (!m_bSaveAndValidate) {
        m_window.SetItemText(nId, std::to_string(nValue));
        return;
    }
    int64_t nRead = 0;
    const bool bNumber = ParseNumber(m_window.GetItemText(nId), nRead);
    if (!bNumber || nRead < nMin || nRead > nMax) {
        Fail(nId, NumberMessage(bNumber, nMin, nMax));
        return;
    }
    if (Writes())
        nValue = static_cast<int32_t>(nRead);
}

void CDataExchange::Control(int nId, CComboBox& member)
{
    if (m_bFailed)
        return;
    if (!member.IsAttached() && !m_bValidateOnly)
        member.Attach(m_window, nId);
}

void CDataExchange::Check(int nId, int& nValue)
{
    if (m_bFailed)
        return;
    if (!m_bSaveAndValidate)
        m_window.SetItemCheck(nId, nValue != 0);
    else if (Writes())
        nValue = m_window.IsItemChecked(nId) ? 1 : 0;
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

void CDataExchange::Fail(int nId, const std::string& strMessage)
{
    m_bFailed = true;
    m_services.AppMessageBox(strMessage, CFrameworkServices::Icon::kExclamation);
    m_window.GotoDlgCtrl(nId);
}
