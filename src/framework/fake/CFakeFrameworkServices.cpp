#include "framework/fake/CFakeFrameworkServices.h"

#include "base/CThreadStarter.h"
#include "framework/fake/CFakeDialogWindow.h"

std::unique_ptr<CDialogWindow> CFakeFrameworkServices::CreateDialogWindow(CDialogFrame& dialog,
                                                                          const DialogTemplate& dialogTemplate,
                                                                          CDialogWindow*)
{
    return std::make_unique<CFakeDialogWindow>(*this, dialog, dialogTemplate);
}

void CFakeFrameworkServices::WindowMessageBox(CDialogWindow*, const std::string& strText,
                                              const std::string& strCaption, Icon nIcon)
{
    m_boxes.push_back({strText, strCaption.empty() ? AppName() : strCaption, nIcon, false});
}

void CFakeFrameworkServices::AppMessageBox(const std::string& strText, Icon nIcon)
{
    m_boxes.push_back({strText, AppName(), nIcon, true});
}

bool CFakeFrameworkServices::FileOpenDialog(CDialogWindow*, const std::string& strDefaultExt,
                                            const std::string& strFilter, std::string& strPath)
{
    m_strLastDefaultExt = strDefaultExt;
    m_strLastFilter = strFilter;
    if (!m_strFileAnswer)
        return false;
    strPath = *m_strFileAnswer;
    return true;
}

CStatus CFakeFrameworkServices::StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread)
{
    if (m_bFailThreads)
        return CStatus::Error("Resource temporarily unavailable");
    return CThreadStarter::Start(std::move(body), pThread);
}

bool CFakeFrameworkServices::RunLoad(CDialogWindow*, const LoadJob& job, int, int)
{
    job([](int64_t, int64_t) { return true; });
    return true;
}

std::vector<std::string> CFakeFrameworkServices::Texts() const
{
    std::vector<std::string> texts;
    for (const Box& box : m_boxes)
        texts.push_back(box.strText);
    return texts;
}
