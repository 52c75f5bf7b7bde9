#include "framework/win32/CWin32DialogWindow.h"

#include <array>
#include <vector>

#include "framework/CDialogFrame.h"
#include "framework/DialogTemplate.h"
#include "text/CDottedQuad.h"
#include "text/CWideText.h"

CWin32DialogWindow::CWin32DialogWindow(CDialogFrame& dialog, const DialogTemplate& dialogTemplate, HWND hOwner)
    : m_dialog(dialog), m_template(dialogTemplate), m_hOwner(hOwner)
{
}

CWin32DialogWindow::~CWin32DialogWindow()
{
    const HWND hWnd = m_hWnd.exchange(nullptr);
    if (hWnd != nullptr) {
        // Nothing reaches the dialog from here on.
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        DestroyWindow(hWnd);
    }
}

void CWin32DialogWindow::Create()
{
    if (m_hWnd != nullptr)
        return;
    // WM_INITDIALOG sets m_hWnd and runs the dialog's initialisation.
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr), static_cast<LPCDLGTEMPLATEW>(m_template.Data()), m_hOwner,
                               DialogProc, reinterpret_cast<LPARAM>(this));
}

int CWin32DialogWindow::DoModal()
{
    Create();
    const HWND hWnd = m_hWnd;
    if (hWnd == nullptr)
        return -1;
    m_bEnded = false;
    m_nResult = 0;
    const bool bDisableOwner = m_hOwner != nullptr && IsWindowEnabled(m_hOwner);
    if (bDisableOwner)
        EnableWindow(m_hOwner, FALSE);
    CenterOnOwner();
    ShowWindow(hWnd, SW_SHOW);
    if (m_bFocusFirst && !IsChild(hWnd, GetFocus())) {
        const HWND hFirst = GetNextDlgTabItem(hWnd, nullptr, FALSE);
        if (hFirst != nullptr)
            SendMessageW(hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hFirst), TRUE);
    }

    m_bInModal = true;
    while (!m_bEnded && PumpMessage(hWnd)) {
    }
    m_bInModal = false;

    // The owner first, so that it gets the activation back.
    if (bDisableOwner)
        EnableWindow(m_hOwner, TRUE);
    ShowWindow(hWnd, SW_HIDE);
    return m_nResult;
}

void CWin32DialogWindow::EndDialog(int nResult)
{
    if (!m_dialog.OnClosing())
        return;
    m_nResult = nResult;
    m_bEnded = true;
    // Wakes the modal loop when called from outside a message.
    if (m_bInModal && m_hWnd != nullptr)
        PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

std::string CWin32DialogWindow::GetItemText(int nId) const
{
    const HWND hControl = GetDlgItem(m_hWnd, nId);
    if (hControl == nullptr)
        return std::string();
    const ControlTemplate* pControl = m_dialog.Template().Control(nId);
    if (pControl != nullptr && pControl->nClass == ControlClass::kIpAddress) {
        // Blank fields read as 0.
        DWORD nAddress = 0;
        SendMessageW(hControl, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&nAddress));
        return std::to_string(FIRST_IPADDRESS(nAddress)) + '.' + std::to_string(SECOND_IPADDRESS(nAddress)) + '.' +
               std::to_string(THIRD_IPADDRESS(nAddress)) + '.' + std::to_string(FOURTH_IPADDRESS(nAddress));
    }
    return WindowText(hControl);
}

void CWin32DialogWindow::SetItemText(int nId, const std::string& strText)
{
    const HWND hControl = GetDlgItem(m_hWnd, nId);
    if (hControl == nullptr || GetItemText(nId) == strText)
        return;
    const ControlTemplate* pControl = m_dialog.Template().Control(nId);
    if (pControl != nullptr && pControl->nClass == ControlClass::kIpAddress) {
        std::array<uint8_t, 4> bytes{};
        if (CDottedQuad::Read(strText, bytes))
            SendMessageW(hControl, IPM_SETADDRESS, 0,
                         static_cast<LPARAM>(MAKEIPADDRESS(bytes[0], bytes[1], bytes[2], bytes[3])));
        else
            SendMessageW(hControl, IPM_CLEARADDRESS, 0, 0);
        return;
    }
    SetWindowTextW(hControl, CWideText::Widen(strText).c_str());
}

bool CWin32DialogWindow::IsItemChecked(int nId) const
{
    return ::IsDlgButtonChecked(m_hWnd, nId) == BST_CHECKED;
}

void CWin32DialogWindow::SetItemCheck(int nId, bool bCheck)
{
    ::CheckDlgButton(m_hWnd, nId, bCheck ? BST_CHECKED : BST_UNCHECKED);
}

void CWin32DialogWindow::EnableItem(int nId, bool bEnable)
{
    const HWND hControl = GetDlgItem(m_hWnd, nId);
    if (hControl != nullptr)
        EnableWindow(hControl, bEnable ? TRUE : FALSE);
}

void CWin32DialogWindow::GotoDlgCtrl(int nId)
{
    const HWND hControl = GetDlgItem(m_hWnd, nId);
    if (hControl != nullptr)
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hControl), TRUE);
}

void CWin32DialogWindow::InsertComboString(int nId, int nIndex, const std::string& strText)
{
    const std::wstring strWide = CWideText::Widen(strText);
    const HWND hCombo = GetDlgItem(m_hWnd, nId);
    SendMessageW(hCombo, CB_INSERTSTRING, static_cast<WPARAM>(nIndex), reinterpret_cast<LPARAM>(strWide.c_str()));
    // The list as wide as its longest entry, with room for its frame and
    // scroll bar; the closed box keeps its width.
    const HDC hDc = GetDC(hCombo);
    const HGDIOBJ hOld = SelectObject(hDc, reinterpret_cast<HGDIOBJ>(SendMessageW(hCombo, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32W(hDc, strWide.c_str(), static_cast<int>(strWide.size()), &size);
    SelectObject(hDc, hOld);
    ReleaseDC(hCombo, hDc);
    const LRESULT nWidth = size.cx + GetSystemMetrics(SM_CXVSCROLL) + 4 * GetSystemMetrics(SM_CXEDGE);
    if (nWidth > SendMessageW(hCombo, CB_GETDROPPEDWIDTH, 0, 0))
        SendMessageW(hCombo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(nWidth), 0);
}

int CWin32DialogWindow::GetComboSelection(int nId) const
{
    return static_cast<int>(SendDlgItemMessageW(m_hWnd, nId, CB_GETCURSEL, 0, 0));
}

void CWin32DialogWindow::SetComboSelection(int nId, int nIndex)
{
    SendDlgItemMessageW(m_hWnd, nId, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

void CWin32DialogWindow::SetIcon(int nIconId)
{
    const HINSTANCE hInstance = GetModuleHandleW(nullptr);
    // Shared icons belong to the module; nobody destroys them.
    m_hIcon = static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(nIconId), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    const auto hSmall = static_cast<HICON>(LoadImageW(hInstance, MAKEINTRESOURCEW(nIconId), IMAGE_ICON,
                                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                                      LR_SHARED));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hSmall));
}

void CWin32DialogWindow::AppendSystemMenuSeparator()
{
    const HMENU hMenu = GetSystemMenu(m_hWnd, FALSE);
    if (hMenu != nullptr)
        AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
}

void CWin32DialogWindow::AppendSystemMenu(int nCommand, const std::string& strText)
{
    const HMENU hMenu = GetSystemMenu(m_hWnd, FALSE);
    if (hMenu == nullptr)
        return;
    AppendMenuW(hMenu, MF_STRING, static_cast<UINT_PTR>(nCommand), CWideText::Widen(strText).c_str());
    m_sysCommands.insert(nCommand);
}

void CWin32DialogWindow::Post(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag)
{
    // Queued and posted under one lock, so that the queue keeps the order of
    // the window messages.
    std::lock_guard<std::mutex> lock(m_postedMutex);
    const HWND hWnd = m_hWnd;
    const LPARAM nSerial = m_nNextSerial++;
    if (hWnd != nullptr && PostMessageW(hWnd, static_cast<UINT>(nMessage), wParam, nSerial))
        m_posted.push_back(Posted{nMessage, wParam, lParam, nTag, nSerial});
}

bool CWin32DialogWindow::PumpMessage(HWND hDialog)
{
    MSG msg;
    const BOOL nGot = GetMessageW(&msg, nullptr, 0, 0);
    if (nGot == 0) {
        // Left for the loop outside, which ends on it too.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (nGot < 0)
        return false;
    if (!IsDialogMessageW(hDialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return true;
}

std::string CWin32DialogWindow::WindowText(HWND hWnd)
{
    const int nLength = GetWindowTextLengthW(hWnd);
    if (nLength <= 0)
        return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 1);
    const int nCopied = GetWindowTextW(hWnd, buffer.data(), nLength + 1);
    return CWideText::Narrow(std::wstring(buffer.data(), static_cast<size_t>(nCopied > 0 ? nCopied : 0)));
}

INT_PTR CALLBACK CWin32DialogWindow::DialogProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage == WM_INITDIALOG) {
        auto* pWindow = reinterpret_cast<CWin32DialogWindow*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pWindow->m_hWnd = hWnd;
    }
    auto* pWindow = reinterpret_cast<CWin32DialogWindow*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    return pWindow != nullptr ? pWindow->HandleMessage(nMessage, wParam, lParam) : FALSE;
}

INT_PTR CWin32DialogWindow::HandleMessage(UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    switch (nMessage) {
    case WM_INITDIALOG:
        LiftTextLimits();
        m_bFocusFirst = m_dialog.OnInitDialog();
        return m_bFocusFirst ? TRUE : FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            m_dialog.OnCommand(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if (m_sysCommands.count(static_cast<int>(wParam & 0xFFF0)) != 0) {
            m_dialog.OnSysCommand(static_cast<int>(wParam & 0xFFF0));
            return TRUE;
        }
        return FALSE;
    case WM_PAINT:
        return PaintIconic() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(m_hIcon);
    default:
        if (nMessage >= WM_USER && nMessage <= 0x7FFF)
            return DeliverPosted(nMessage, lParam) ? TRUE : FALSE;
        return FALSE;
    }
}

bool CWin32DialogWindow::DeliverPosted(UINT nMessage, LPARAM lParam)
{
    Posted posted{};
    {
        std::lock_guard<std::mutex> lock(m_postedMutex);
        auto it = m_posted.begin();
        while (it != m_posted.end() && !(it->nSerial == lParam && it->nMessage == static_cast<int>(nMessage)))
            ++it;
        if (it == m_posted.end())
            return false;
        posted = *it;
        m_posted.erase(it);
    }
    m_dialog.OnMessage(posted.nMessage, posted.wParam, posted.lParam, posted.nTag);
    return true;
}

void CWin32DialogWindow::LiftTextLimits()
{
    const DialogTemplate& dialogTemplate = m_dialog.Template();
    for (size_t i = 0; i < dialogTemplate.nControls; ++i) {
        const ControlTemplate& control = dialogTemplate.pControls[i];
        if (control.nClass == ControlClass::kEdit && (control.nStyle & DialogStyle::kEsMultiline) != 0)
            SendDlgItemMessageW(m_hWnd, control.nId, EM_SETLIMITTEXT, 0, 0);
    }
}

bool CWin32DialogWindow::PaintIconic()
{
    const HWND hWnd = m_hWnd;
    if (!IsIconic(hWnd) || m_hIcon == nullptr)
        return false;
    PAINTSTRUCT paint;
    const HDC hDc = BeginPaint(hWnd, &paint);
    SendMessageW(hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDc), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT client;
    GetClientRect(hWnd, &client);
    const int x = (client.right - client.left - cxIcon + 1) / 2;
    const int y = (client.bottom - client.top - cyIcon + 1) / 2;
    DrawIcon(hDc, x, y, m_hIcon);
    EndPaint(hWnd, &paint);
    return true;
}

void CWin32DialogWindow::CenterOnOwner()
{
    const HWND hWnd = m_hWnd;
    RECT window;
    GetWindowRect(hWnd, &window);
    RECT area;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    RECT centre = area;
    if (m_hOwner != nullptr && IsWindowVisible(m_hOwner) && !IsIconic(m_hOwner))
        GetWindowRect(m_hOwner, &centre);
    const int cx = window.right - window.left;
    const int cy = window.bottom - window.top;
    int x = centre.left + (centre.right - centre.left - cx) / 2;
    int y = centre.top + (centre.bottom - centre.top - cy) / 2;
    // Kept on the work area, its caption first.
    if (x + cx > area.right)
        x = area.right - cx;
    if (y + cy > area.bottom)
        y = area.bottom - cy;
    if (x < area.left)
        x = area.left;
    if (y < area.top)
        y = area.top;
    SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
