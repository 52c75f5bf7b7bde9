#include "CTestServices.h"

#include "app/CTovrikIcon.h"
#include "ui/Resource.h"

CTestServices::CTestServices()
{
    SetIconResource(IDR_MAINFRAME, CTovrikIcon::Icon());
}

void CTestServices::WindowMessageBox(CDialogWindow*, const std::string& strText, const std::string& strCaption,
                                     Icon nIcon)
{
    m_boxes.push_back({strText, strCaption.empty() ? AppName() : strCaption, nIcon, false});
}

void CTestServices::AppMessageBox(const std::string& strText, Icon nIcon)
{
    m_boxes.push_back({strText, AppName(), nIcon, true});
}

bool CTestServices::FileOpenDialog(CDialogWindow*, const std::string&, const std::string& strFilter,
                                   std::string& strPath)
{
    m_strLastFilter = strFilter;
    if (!m_strFileAnswer)
        return false;
    strPath = *m_strFileAnswer;
    return true;
}

std::vector<std::string> CTestServices::Texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : m_boxes)
        texts.push_back(box.strText);
    return texts;
}
