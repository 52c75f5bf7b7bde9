#include "framework/win32/CWin32FrameworkServices.h"

#include <vector>

#include "base/CThreadStarter.h"
#include "framework/win32/CWin32DialogWindow.h"
#include "framework/win32/CWin32LoadProgress.h"
#include "framework/win32/Win32Api.h"
#include "net/CSocketLibrary.h"
#include "text/CWideText.h"

namespace {

HWND OwnerWindow(CDialogWindow* pOwner)
{
    auto* pWindow = dynamic_cast<CWin32DialogWindow*>(pOwner);
    return pWindow != nullptr ? pWindow->Handle() : GetActiveWindow();
}

}  // namespace

CWin32FrameworkServices::CWin32FrameworkServices()
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
}

CWin32FrameworkServices::~CWin32FrameworkServices() = default;

bool CWin32FrameworkServices::SocketInit()
{
    if (!m_pSockets)
        m_pSockets = std::make_unique<CSocketLibrary>();
    return m_pSockets->IsStarted();
}

std::unique_ptr<CDialogWindow> CWin32FrameworkServices::CreateDialogWindow(CDialogFrame& dialog,
                                                                           const DialogTemplate& dialogTemplate,
                                                                           CDialogWindow* pParent)
{
    auto* pParentWindow = dynamic_cast<CWin32DialogWindow*>(pParent);
    return std::make_unique<CWin32DialogWindow>(dialog, dialogTemplate,
                                                pParentWindow != nullptr ? pParentWindow->Handle() : nullptr);
}

void CWin32FrameworkServices::WindowMessageBox(CDialogWindow* pOwner, const std::string& strText,
                                               const std::string& strCaption, Icon nIcon)
{
    UINT nType = MB_OK;
    switch (nIcon) {
    case Icon::kNone:
        break;
    case Icon::kExclamation:
        nType |= MB_ICONEXCLAMATION;
        break;
    case Icon::kInformation:
        nType |= MB_ICONINFORMATION;
        break;
    }
    MessageBoxW(OwnerWindow(pOwner), CWideText::Widen(strText).c_str(),
                CWideText::Widen(strCaption.empty() ? AppName() : strCaption).c_str(), nType);
}

void CWin32FrameworkServices::AppMessageBox(const std::string& strText, Icon nIcon)
{
    // Owned by the active window, so that it stays in front of it.
    WindowMessageBox(nullptr, strText, AppName(), nIcon);
}

bool CWin32FrameworkServices::FileOpenDialog(CDialogWindow* pOwner, const std::string& strDefaultExt,
                                             const std::string& strFilter, std::string& strPath)
{
    const std::wstring strWideFilter = FileDialogFilter(strFilter);
    std::wstring strExt = CWideText::Widen(strDefaultExt);
    if (!strExt.empty() && strExt.front() == L'.')
        strExt.erase(0, 1);
    // Room for the longest paths the system takes.
    std::vector<wchar_t> file(32768, L'\0');
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = OwnerWindow(pOwner);
    dialog.lpstrFilter = strWideFilter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrDefExt = strExt.empty() ? nullptr : strExt.c_str();
    // NOCHANGEDIR: the working folder stays where it was.
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog))
        return false;
    strPath = CWideText::Narrow(file.data());
    return true;
}

CStatus CWin32FrameworkServices::StartThread(std::function<void()> body, std::unique_ptr<std::thread>& pThread)
{
    return CThreadStarter::Start(std::move(body), pThread);
}

bool CWin32FrameworkServices::RunLoad(CDialogWindow* pOwner, const LoadJob& job, int nReportsPerByte,
                                             int nShowDelayMs)
{
    return CWin32LoadProgress(*this, OwnerWindow(pOwner), nShowDelayMs).Run(job, nReportsPerByte);
}

std::string CWin32FrameworkServices::AppName() const
{
    std::vector<wchar_t> path(MAX_PATH);
    DWORD nLength = 0;
    while ((nLength = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
        path.resize(path.size() * 2);
    std::wstring strName(path.data(), nLength);
    const size_t nSlash = strName.find_last_of(L"\\/");
    if (nSlash != std::wstring::npos)
        strName.erase(0, nSlash + 1);
    const size_t nDot = strName.find_last_of(L'.');
    if (nDot != std::wstring::npos && nDot > 0)
        strName.erase(nDot);
    return CWideText::Narrow(strName);
}

std::wstring CWin32FrameworkServices::FileDialogFilter(const std::string& strFilter)
{
    std::wstring strWide = CWideText::Widen(strFilter);
    // "a|b||" ends in the two nulls of "a\0b\0\0" once every bar is one.
    while (!strWide.empty() && strWide.back() == L'|')
        strWide.pop_back();
    for (wchar_t& c : strWide) {
        if (c == L'|')
            c = L'\0';
    }
    strWide.push_back(L'\0');
    strWide.push_back(L'\0');
    return strWide;
}
