#include "CTestServices.h"

void CTestServices::MessageBox(QWidget*, const std::string& strText, const std::string& strCaption, Icon nIcon)
{
    m_boxes.push_back({strText, strCaption.empty() ? AppName() : strCaption, nIcon, false});
}

void CTestServices::AppMessageBox(const std::string& strText, Icon nIcon)
{
    m_boxes.push_back({strText, AppName(), nIcon, true});
}

bool CTestServices::FileOpenDialog(QWidget*, const std::string& strDefaultExt, const std::string& strFilter,
                                   std::string& strPath)
{
    m_strLastDefaultExt = strDefaultExt;
    m_strLastFilter = strFilter;
    if (!m_strFileAnswer)
        return false;
    strPath = *m_strFileAnswer;
    return true;
}

std::unique_ptr<std::thread> CTestServices::StartThread(std::function<void()> body, std::string& strError)
{
    if (m_bFailThreads) {
        strError = "Resource temporarily unavailable";
        return nullptr;
    }
    return CFrameworkServices::StartThread(std::move(body), strError);
}

std::vector<std::string> CTestServices::Texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : m_boxes)
        texts.push_back(box.strText);
    return texts;
}
