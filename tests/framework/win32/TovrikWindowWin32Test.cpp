// The real window under Windows (wine on a virtual display in CI): tovrik.exe
// is started beside this test, found by its caption and driven through its
// controls as an operator would, with a loopback receiver as the target.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dlgs.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "SettingsHome.h"
#include "TempDir.h"
#include "settings/CProfileFile.h"
#include "net/LoopbackPeer.h"
#include "text/TovrikTexts.h"
#include "text/CWideText.h"

namespace {

const wchar_t kCaption[] = L"Velmar模拟定时发送工具";
const char kDeviceInfo[] = "{\"cmd\":\"push_info\",\"IMEI\":\"1234567890\",\"CCID\":\"860319452072615123\","
                           "\"location\":\"0.0,0.0\",\"type\":\"0001\",\"version\":\"1.0.10\"}";
const char kPleaseWait[] = "解析需要一点时间, 请多一点点耐心等待结束...";
// A first start of wine in a fresh prefix takes a while.
constexpr int kStartMs = 60000;
constexpr int kWaitMs = 15000;

bool WaitFor(const std::function<bool()>& condition, int nTimeoutMs)
{
    const ULONGLONG nEnd = GetTickCount64() + static_cast<ULONGLONG>(nTimeoutMs);
    while (!condition()) {
        if (GetTickCount64() >= nEnd)
            return false;
        Sleep(50);
    }
    return true;
}

// Asked of the control itself: GetWindowTextW gives only the caption the
// system keeps for a window of another process.
std::string Text(HWND hWnd)
{
    std::wstring strText(4096, L'\0');
    const LRESULT nLength = SendMessageW(hWnd, WM_GETTEXT, strText.size(), reinterpret_cast<LPARAM>(&strText[0]));
    strText.resize(nLength > 0 ? static_cast<size_t>(nLength) : 0);
    return CWideText::Narrow(strText);
}

std::string ClassName(HWND hWnd)
{
    wchar_t name[256] = {};
    GetClassNameW(hWnd, name, static_cast<int>(std::size(name)));
    return CWideText::Narrow(name);
}

// tovrik.exe started from beside this test (with this process's
// environment, so with its settings folder), and its windows as an operator
// sees them. Closed (and ended, if need be) when it goes.
class TovrikProcess {
public:
    TovrikProcess()
    {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring strExe = self;
        strExe.erase(strExe.find_last_of(L"\\/") + 1);
        strExe += L"tovrik.exe";
        std::wstring strCommand = L"\"" + strExe + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        m_bStarted = CreateProcessW(strExe.c_str(), &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                    &startup, &m_process) != FALSE;
    }
    ~TovrikProcess()
    {
        if (!m_bStarted)
            return;
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) {
            if (m_hMain != nullptr)
                PostMessageW(m_hMain, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(m_process.hProcess, 5000) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 99);
        }
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }

    bool Started() const { return m_bStarted; }

    // The main window, once it is shown.
    HWND WaitForMain()
    {
        WaitFor([this] { return (m_hMain = FindTopLevel(kCaption)) != nullptr; }, kStartMs);
        return m_hMain;
    }

    // A visible top-level window of the process with that caption, other
    // than the main window, or null.
    HWND FindTopLevel(const std::wstring& strCaption, HWND hExcept = nullptr) const
    {
        struct Search {
            const TovrikProcess* pSelf;
            const std::wstring* pCaption;
            HWND hExcept;
            HWND hFound;
        } search{this, &strCaption, hExcept, nullptr};
        EnumWindows(
            [](HWND hWnd, LPARAM lParam) -> BOOL {
                auto* pSearch = reinterpret_cast<Search*>(lParam);
                DWORD nProcess = 0;
                GetWindowThreadProcessId(hWnd, &nProcess);
                if (nProcess != pSearch->pSelf->m_process.dwProcessId || !IsWindowVisible(hWnd) ||
                    hWnd == pSearch->hExcept)
                    return TRUE;
                wchar_t text[512] = {};
                GetWindowTextW(hWnd, text, 512);
                if (*pSearch->pCaption != text)
                    return TRUE;
                pSearch->hFound = hWnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.hFound;
    }

    // Waits for a message box with that caption, checks its text and
    // presses its OK button.
    void AnswerBox(const std::wstring& strCaption, const std::string& strText)
    {
        HWND hBox = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (hBox = FindTopLevel(strCaption, m_hMain)) != nullptr; }, kWaitMs))
            << "no box \"" << CWideText::Narrow(strCaption) << "\" with \"" << strText << "\"";
        EXPECT_EQ(BoxText(hBox), strText);
        PostMessageW(hBox, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(hBox) || !IsWindowVisible(hBox); }, kWaitMs));
    }

    // Ends by closing its window; its exit code, or -1 when it did not end.
    int Close()
    {
        PostMessageW(m_hMain, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_process.hProcess, kWaitMs) != WAIT_OBJECT_0)
            return -1;
        DWORD nCode = 0;
        GetExitCodeProcess(m_process.hProcess, &nCode);
        return static_cast<int>(nCode);
    }

    // The longest text of a box's static controls: its message.
    static std::string BoxText(HWND hBox)
    {
        std::string strText;
        EnumChildWindows(
            hBox,
            [](HWND hChild, LPARAM lParam) -> BOOL {
                auto* pText = reinterpret_cast<std::string*>(lParam);
                if (ClassName(hChild) == "Static") {
                    const std::string strChild = Text(hChild);
                    if (strChild.size() > pText->size())
                        *pText = strChild;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&strText));
        return strText;
    }

private:
    PROCESS_INFORMATION m_process = {};
    bool m_bStarted = false;
    HWND m_hMain = nullptr;
};

HWND Item(HWND hMain, int nId)
{
    return GetDlgItem(hMain, nId);
}

// The width of a text in the dialogs' font ("MS Shell Dlg" 9 pt, as the
// template names it), in pixels; by default the control's own text.
int TextWidth(HWND hControl, const std::wstring& strText)
{
    const HDC hDc = GetDC(hControl);
    const HFONT hFont = CreateFontW(-MulDiv(9, GetDeviceCaps(hDc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                    FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, L"MS Shell Dlg");
    const HGDIOBJ hOld = SelectObject(hDc, hFont);
    SIZE size{};
    GetTextExtentPoint32W(hDc, strText.c_str(), static_cast<int>(strText.size()), &size);
    SelectObject(hDc, hOld);
    DeleteObject(hFont);
    ReleaseDC(hControl, hDc);
    return size.cx;
}

int TextWidth(HWND hControl)
{
    return TextWidth(hControl, CWideText::Widen(Text(hControl)));
}

int ClientWidth(HWND hControl)
{
    RECT client{};
    GetClientRect(hControl, &client);
    return client.right - client.left;
}

LRESULT TextLength(HWND hControl)
{
    return SendMessageW(hControl, WM_GETTEXTLENGTH, 0, 0);
}

// As Ctrl+A, Ctrl+V would: the text through the clipboard, in place of all
// the control holds.
bool Paste(HWND hControl, const std::string& strText)
{
    const std::wstring strWide = CWideText::Widen(strText);
    const size_t nBytes = (strWide.size() + 1) * sizeof(wchar_t);
    const HGLOBAL hData = GlobalAlloc(GMEM_MOVEABLE, nBytes);
    if (hData == nullptr)
        return false;
    std::copy(strWide.c_str(), strWide.c_str() + strWide.size() + 1, static_cast<wchar_t*>(GlobalLock(hData)));
    GlobalUnlock(hData);
    if (!OpenClipboard(nullptr)) {
        GlobalFree(hData);
        return false;
    }
    EmptyClipboard();
    const bool bSet = SetClipboardData(CF_UNICODETEXT, hData) != nullptr;
    CloseClipboard();
    if (!bSet) {
        GlobalFree(hData);
        return false;
    }
    SendMessageW(hControl, EM_SETSEL, 0, -1);
    SendMessageW(hControl, WM_PASTE, 0, 0);
    return true;
}

// Receives the run's datagrams; the first is always the device info message.
std::vector<std::string> ReceiveSome(const LoopbackPeer& receiver, size_t nCount)
{
    std::vector<std::string> datagrams;
    std::string bytes;
    while (datagrams.size() < nCount && receiver.Receive(bytes, kWaitMs))
        datagrams.push_back(bytes);
    return datagrams;
}

// A fresh tovrik.exe for each test, with no settings (so the first send
// mode), and a receiver on 127.0.0.1.
class TovrikWindowWin32Test : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tovrik.Started());
        m_hMain = m_tovrik.WaitForMain();
        ASSERT_NE(m_hMain, nullptr) << "the window did not open";
    }

    // Points the port box at the receiver.
    void TargetReceiver() const
    {
        SendMessageW(Item(m_hMain, 1001), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(std::to_wstring(m_receiver.Port()).c_str()));
    }

    const TempDir m_settingsFolder;
    const SettingsHome m_settingsHome{m_settingsFolder.Path()};
    LoopbackPeer m_receiver;
    // Started with the settings folder above.
    TovrikProcess m_tovrik;
    HWND m_hMain = nullptr;
};

TEST_F(TovrikWindowWin32Test, OpensWithItsControlsSendsAndStops)
{
    const LONG nStyle = GetWindowLongW(m_hMain, GWL_STYLE);
    EXPECT_EQ(nStyle & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME);
    struct Expected {
        int nId;
        const char* pszClass;
        const char* pszText;
    };
    const Expected controls[] = {
        {1000, "SysIPAddress32", "127.0.0.1"}, {1001, "Edit", "51609"},         {1002, "Button", "开始"},
        {1004, "Button", "清除内容"},          {1005, "Button", "导入文件"},    {1006, "ComboBox", "每秒发送一次"},
        {1007, "Button", "是否循环发送"},      {1008, "Button", "是否修改时间"}, {1009, "Button", "是否为十六进制模式"},
    };
    for (const Expected& control : controls) {
        const HWND hControl = Item(m_hMain, control.nId);
        ASSERT_NE(hControl, nullptr) << control.nId;
        EXPECT_EQ(ClassName(hControl), control.pszClass) << control.nId;
        EXPECT_EQ(Text(hControl), control.pszText) << control.nId;
    }
    // Every caption can be read whole: labels from their left edge, check
    // boxes after their box, push buttons inside their frame.
    const int nCheckIndent = GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
    const int nButtonIndent = 4 * GetSystemMetrics(SM_CXEDGE);
    const std::pair<HWND, int> captions[] = {
        {FindWindowExW(m_hMain, nullptr, L"Static", L"目标地址:"), 0}, {Item(m_hMain, 1007), nCheckIndent},
        {Item(m_hMain, 1008), nCheckIndent}, {Item(m_hMain, 1009), nCheckIndent},
        {Item(m_hMain, 1002), nButtonIndent}, {Item(m_hMain, 1004), nButtonIndent},
        {Item(m_hMain, 1005), nButtonIndent},
    };
    for (const auto& caption : captions) {
        ASSERT_NE(caption.first, nullptr);
        EXPECT_LE(caption.second + TextWidth(caption.first), ClientWidth(caption.first)) << Text(caption.first);
    }
    EXPECT_EQ(ClassName(Item(m_hMain, 1003)), "Edit");
    EXPECT_EQ(Text(Item(m_hMain, 1003)).size(), 904u);
    EXPECT_NE(GetWindowLongW(Item(m_hMain, 1001), GWL_STYLE) & ES_NUMBER, 0);
    const LONG nContentStyle = GetWindowLongW(Item(m_hMain, 1003), GWL_STYLE);
    EXPECT_NE(nContentStyle & ES_MULTILINE, 0);
    EXPECT_EQ(nContentStyle & ES_WANTRETURN, 0);
    EXPECT_EQ(GetWindowLongW(Item(m_hMain, 1006), GWL_STYLE) & 0x3, CBS_DROPDOWNLIST);
    EXPECT_EQ(SendMessageW(Item(m_hMain, 1006), CB_GETCOUNT, 0, 0), 7);
    // Its list shows the longest entry whole.
    SendMessageW(Item(m_hMain, 1006), CB_SETCURSEL, 4, 0);
    EXPECT_EQ(Text(Item(m_hMain, 1006)), "每100毫秒发送一次");
    EXPECT_GE(SendMessageW(Item(m_hMain, 1006), CB_GETDROPPEDWIDTH, 0, 0),
              TextWidth(Item(m_hMain, 1006)) + GetSystemMetrics(SM_CXVSCROLL));
    SendMessageW(Item(m_hMain, 1006), CB_SETCURSEL, 0, 0);
    EXPECT_EQ(SendMessageW(Item(m_hMain, 1007), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(Item(m_hMain, 1008), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(Item(m_hMain, 1009), BM_GETCHECK, 0, 0), BST_UNCHECKED);

    // The system menu's About entry.
    PostMessageW(m_hMain, WM_SYSCOMMAND, 0x0010, 0);
    HWND hAbout = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hAbout = m_tovrik.FindTopLevel(L"关于 Tovrik")) != nullptr; }, kWaitMs));
    EXPECT_EQ(TovrikProcess::BoxText(hAbout), "Tovrik，1.0 版");
    PostMessageW(hAbout, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(hAbout); }, kWaitMs));

    // Start, towards the m_receiver.
    TargetReceiver();
    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"tovrik", kPleaseWait);
    m_tovrik.AnswerBox(L"tovrik", "解析完毕,一共解析 1 道下载命令.开始发送.");
    const std::vector<std::string> datagrams = ReceiveSome(m_receiver, 2);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], kDeviceInfo);
    EXPECT_EQ(datagrams[1].rfind("{\"cmd\":\"push_msg\",\"IMEI\":\"1234567890\",", 0), 0u) << datagrams[1];
    EXPECT_NE(datagrams[1].find("\"time\":\""), std::string::npos);
    EXPECT_EQ(Text(Item(m_hMain, 1002)), "停止");
    EXPECT_FALSE(IsWindowEnabled(Item(m_hMain, 1003)));
    EXPECT_FALSE(IsWindowEnabled(Item(m_hMain, 1005)));

    // Stop.
    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"提示", "发送结束");
    EXPECT_EQ(Text(Item(m_hMain, 1002)), "开始");
    EXPECT_TRUE(IsWindowEnabled(Item(m_hMain, 1003)));
    EXPECT_EQ(m_tovrik.Close(), 0);
}

TEST_F(TovrikWindowWin32Test, EnterInTheTextBoxStartsAndTypedTextGoesOutAsUtf8)
{
    TargetReceiver();
    SendMessageW(Item(m_hMain, 1003), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(L"{\"IMEI\":\"设备\",\"note\":\"中文\"}"));
    // Sent as typed, not rewritten.
    PostMessageW(Item(m_hMain, 1008), BM_CLICK, 0, 0);
    // Enter goes through the window's keyboard loop as a key press does.
    PostMessageW(Item(m_hMain, 1003), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(Item(m_hMain, 1003), WM_KEYUP, VK_RETURN, 0xC01C0001);
    m_tovrik.AnswerBox(L"tovrik", kPleaseWait);
    m_tovrik.AnswerBox(L"tovrik", "解析完毕,一共解析 1 道下载命令.开始发送.");
    const std::vector<std::string> datagrams = ReceiveSome(m_receiver, 2);
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_EQ(datagrams[0], kDeviceInfo);
    EXPECT_EQ(datagrams[1], "{\"IMEI\":\"设备\",\"note\":\"中文\"}");
    EXPECT_EQ(Text(Item(m_hMain, 1003)), "{\"IMEI\":\"设备\",\"note\":\"中文\"}");

    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"提示", "发送结束");
    EXPECT_EQ(m_tovrik.Close(), 0);
}

TEST_F(TovrikWindowWin32Test, PastedTextIsKeptWholeForTheLoadToJudge)
{
    TargetReceiver();
    const HWND hContent = Item(m_hMain, 1003);
    // One hex digit more than a hex load takes, 100 a line (wine's edit
    // control takes minutes to wrap one line of 50,000): refused as too
    // long, not cut.
    std::string strDigits;
    for (int i = 0; i < 500; ++i)
        strDigits += std::string(100, '7') + "\r\n";
    strDigits += '7';
    ASSERT_TRUE(Paste(hContent, strDigits));
    EXPECT_EQ(TextLength(hContent), static_cast<LRESULT>(strDigits.size()));
    PostMessageW(Item(m_hMain, 1009), BM_CLICK, 0, 0);
    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"tovrik", kPleaseWait);
    m_tovrik.AnswerBox(L"tovrik", "长度请勿超过5W");
    EXPECT_EQ(TextLength(hContent), 0);

    // 40 status messages, one a line (36,238 characters): all 40 counted.
    PostMessageW(Item(m_hMain, 1009), BM_CLICK, 0, 0);
    std::string strMessages = TovrikTexts::kStatusMessage;
    for (int i = 1; i < 40; ++i)
        strMessages += std::string("\r\n") + TovrikTexts::kStatusMessage;
    ASSERT_TRUE(Paste(hContent, strMessages));
    EXPECT_EQ(TextLength(hContent), static_cast<LRESULT>(strMessages.size()));
    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"tovrik", kPleaseWait);
    m_tovrik.AnswerBox(L"tovrik", "解析完毕,一共解析 40 道下载命令.开始发送.");
    PostMessageW(Item(m_hMain, 1002), BM_CLICK, 0, 0);
    m_tovrik.AnswerBox(L"提示", "发送结束");
    EXPECT_EQ(m_tovrik.Close(), 0);
}

TEST_F(TovrikWindowWin32Test, TheTextBoxShowsEveryCharacterOfItsWrappedLines)
{
    // The status message a member a line: its data members wrap, where no
    // word ends. (The message on one line is more than wine's Uniscribe
    // analyses at once, 255 runs of letters, digits and punctuation; wine's
    // edit control then breaks it by the font's average character width,
    // narrower than these characters, and cuts off the ends of its lines,
    // as wine's notepad does in this font.)
    std::string strText = TovrikTexts::kStatusMessage;
    for (size_t nAt = 0; (nAt = strText.find("\",\"", nAt)) != std::string::npos; nAt += 5)
        strText.replace(nAt, 3, "\",\r\n\"");
    const HWND hContent = Item(m_hMain, 1003);
    ASSERT_TRUE(Paste(hContent, strText));
    const std::wstring strWide = CWideText::Widen(Text(hContent));
    ASSERT_EQ(strWide, CWideText::Widen(strText));

    // Text is drawn in the formatting rectangle, which lies in the client
    // area; the last character of every line ends inside it.
    RECT client{};
    RECT format{};
    GetClientRect(hContent, &client);
    SendMessageW(hContent, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format));
    EXPECT_GE(format.left, client.left);
    EXPECT_LE(format.right, client.right);
    int nWrapped = 0;
    const LRESULT nLines = SendMessageW(hContent, EM_GETLINECOUNT, 0, 0);
    for (LRESULT nLine = 0; nLine < nLines; ++nLine) {
        const auto nFirst = static_cast<size_t>(SendMessageW(hContent, EM_LINEINDEX, nLine, 0));
        const auto nLength = static_cast<size_t>(SendMessageW(hContent, EM_LINELENGTH, nFirst, 0));
        if (nLength == 0)
            continue;
        const size_t nLast = nFirst + nLength - 1;
        const int x = static_cast<short>(LOWORD(SendMessageW(hContent, EM_POSFROMCHAR, nLast, 0)));
        EXPECT_LE(x + TextWidth(hContent, strWide.substr(nLast, 1)), format.right)
            << CWideText::Narrow(strWide.substr(nFirst, nLength));
        if (nLast + 1 < strWide.size() && strWide[nLast + 1] != L'\r')
            ++nWrapped;
    }
    EXPECT_GE(nWrapped, 3) << "the data members wrap";
    EXPECT_EQ(m_tovrik.Close(), 0);
}

TEST_F(TovrikWindowWin32Test, ImportsAFileWithAChineseNameAndStoresTheMode)
{
    TempDir folder;
    const std::string strFolder = folder.Path() + "\\消息";
    ASSERT_TRUE(CreateDirectoryW(CWideText::Widen(strFolder).c_str(), nullptr));
    const std::string strFirst = "{\"cmd\":\"push_msg\",\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22:59\"}";
    const std::string strSecond = "{\"cmd\":\"push_msg\",\"IMEI\":\"2\",\"note\":\"设备\"}";
    const std::string strFile =
        folder.Write("消息/设备消息.txt", strFirst + "\r\n{\"cmd\":\"no_imei\"}\r\n" + strSecond + "\r\n");

    TargetReceiver();
    // Every 100 ms, each packet once with "make_up":1.
    SendMessageW(Item(m_hMain, 1006), CB_SETCURSEL, 4, 0);
    PostMessageW(Item(m_hMain, 1005), BM_CLICK, 0, 0);

    // The file dialog: the file's name typed, then its OK button.
    HWND hDialog = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            hDialog = nullptr;
            EnumWindows(
                [](HWND hWnd, LPARAM lParam) -> BOOL {
                    if (ClassName(hWnd) == "#32770" && IsWindowVisible(hWnd) && GetDlgItem(hWnd, cmb13) != nullptr) {
                        *reinterpret_cast<HWND*>(lParam) = hWnd;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&hDialog));
            return hDialog != nullptr;
        },
        kWaitMs));
    std::wstring strWideFile = CWideText::Widen(strFile);
    std::replace(strWideFile.begin(), strWideFile.end(), L'/', L'\\');
    SendMessageW(GetDlgItem(hDialog, cmb13), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strWideFile.c_str()));
    PostMessageW(hDialog, WM_COMMAND, IDOK, 0);

    m_tovrik.AnswerBox(L"tovrik", kPleaseWait);
    m_tovrik.AnswerBox(L"tovrik", "解析完毕,一共解析 2 道下载命令.开始发送.");
    const std::vector<std::string> datagrams = ReceiveSome(m_receiver, 3);
    ASSERT_EQ(datagrams.size(), 3u);
    EXPECT_EQ(datagrams[0], kDeviceInfo);
    EXPECT_EQ(datagrams[1], "{\"cmd\":\"push_msg\",\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22:59\",\"make_up\":1}");
    // The file's bytes as they are, Chinese included.
    EXPECT_EQ(datagrams[2], "{\"cmd\":\"push_msg\",\"IMEI\":\"2\",\"note\":\"设备\",\"make_up\":1}");
    // The run ends by itself after the last packet.
    m_tovrik.AnswerBox(L"提示", "发送结束");

    const std::string strSettings = TempDir::ReadOrMissing(CProfileFile::SettingsPath("Tovrik.ini"));
    EXPECT_NE(strSettings.find("[INFO]"), std::string::npos) << strSettings;
    EXPECT_NE(strSettings.find("sendtype=4"), std::string::npos) << strSettings;
    EXPECT_EQ(m_tovrik.Close(), 0);
}

}  // namespace
