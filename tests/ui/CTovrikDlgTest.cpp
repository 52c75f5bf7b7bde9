// The main window's logic on the fake framework: boxes, captions, enabling
// and the posted notices are the fake's records; runs send to a loopback
// receiver through the real endpoint.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <ostream>
#include <thread>

#include "SettingsHome.h"
#include "TempDir.h"
#include "framework/fake/CFakeDialogWindow.h"
#include "framework/fake/CFakeFrameworkServices.h"
#include "load/CLoadResult.h"
#include "net/CLNHanlder.h"
#include "net/CUDPSocket.h"
#include "net/LoopbackPeer.h"
#include "schedule/SendModes.h"
#include "text/TovrikTexts.h"
#include "ui/CTovrikDlg.h"
#include "ui/Resource.h"

namespace {

using Icon = CFrameworkServices::Icon;
using Box = CFakeFrameworkServices::Box;

constexpr int kEndWaitMs = 5000;


std::string Repeated(const std::string& strText, int nTimes)
{
    std::string strAll;
    for (int i = 0; i < nTimes; ++i)
        strAll += strText;
    return strAll;
}

void Sleep(int nMilliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(nMilliseconds));
}

class CTovrikDlgTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
#ifdef SIGPIPE
        std::signal(SIGPIPE, SIG_IGN);
#endif
        theUDPSocket.SetHandler(&s_handler);
        ASSERT_EQ(theUDPSocket.Create(0), 1);
    }

    static void TearDownTestSuite()
    {
        theUDPSocket.Close();
        theUDPSocket.SetHandler(nullptr);
    }


    void Open()
    {
        m_pDlg = std::make_unique<CTovrikDlg>(m_services, theUDPSocket.Handle());
        m_pDlg->Create();
    }

    CFakeDialogWindow& Window() const { return static_cast<CFakeDialogWindow&>(m_pDlg->Window()); }
    CFakeDialogWindow::Control& Item(int nId) const { return Window().Item(nId); }
    void Click(int nId) const { Window().Click(nId); }
    void SetContent(const std::string& strText) const { Item(IDC_EDIT_CONTENT).strText = strText; }
    const std::string& Content() const { return Item(IDC_EDIT_CONTENT).strText; }
    const std::string& PortText() const { return Item(IDC_EDIT_PORT).strText; }
    void Target(uint16_t nPort, int nMode) const
    {
        Item(IDC_EDIT_PORT).strText = std::to_string(nPort);
        Item(IDC_COMBO_SENDTYPE).nSelection = nMode;
    }
    bool ShowsIdle() const
    {
        return Item(IDC_BUTTON_START).strText == "开始" && Item(IDC_EDIT_CONTENT).bEnabled &&
               Item(IDC_BUTTON_CLEAR).bEnabled && Item(IDC_BUTTON_IMPORT).bEnabled && !m_pDlg->IsRunning();
    }
    bool ShowsRunning() const
    {
        return Item(IDC_BUTTON_START).strText == "停止" && !Item(IDC_EDIT_CONTENT).bEnabled &&
               !Item(IDC_BUTTON_CLEAR).bEnabled && !Item(IDC_BUTTON_IMPORT).bEnabled && m_pDlg->IsRunning();
    }
    int EndBoxes() const
    {
        int n = 0;
        for (const Box& box : m_services.m_boxes) {
            if (box.strText == TovrikTexts::kSendEnded && box.strCaption == TovrikTexts::kNotice &&
                box.nIcon == Icon::kInformation)
                ++n;
        }
        return n;
    }
    void ExpectBox(size_t nIndex, const std::string& strText, const std::string& strCaption, Icon nIcon) const
    {
        ASSERT_LT(nIndex, m_services.m_boxes.size()) << "box missing";
        const Box& box = m_services.m_boxes[nIndex];
        EXPECT_EQ(box.strText, strText);
        EXPECT_EQ(box.strCaption, strCaption);
        EXPECT_EQ(box.nIcon, nIcon);
    }
    std::string TempFile(const char* pszName) const { return m_files.Path() + "/" + pszName; }
    std::string AppName() const { return m_services.AppName(); }
    // Waits for a run's end notice and hands it, with all before it, to the
    // window.
    bool DeliverEnd() const
    {
        if (!Window().WaitForPosted(WM_SEND_END, kEndWaitMs))
            return false;
        Window().DeliverPosted();
        return true;
    }
    // Stops the run and delivers its one end notice.
    void StopAndExpectEnd() const
    {
        const int nEnds = EndBoxes();
        Click(IDC_BUTTON_START);
        EXPECT_TRUE(ShowsIdle());
        ASSERT_TRUE(DeliverEnd());
        EXPECT_EQ(EndBoxes(), nEnds + 1);
    }

    static CLNHanlder s_handler;
    TempDir m_config;
    const SettingsHome m_settingsHome{m_config.Path()};
    TempDir m_files;
    CFakeFrameworkServices m_services;
    std::unique_ptr<CTovrikDlg> m_pDlg;
};

CLNHanlder CTovrikDlgTest::s_handler;

TEST_F(CTovrikDlgTest, InitialWindow)
{
    Open();
    EXPECT_EQ(Window().Caption(), "Velmar模拟定时发送工具");
    EXPECT_EQ(Item(IDC_IPADDRESS_TARGET).strText, "127.0.0.1");
    EXPECT_EQ(PortText(), "51609");
    EXPECT_EQ(Content(), TovrikTexts::kStatusMessage);
    EXPECT_EQ(Content().size(), 904u);
    EXPECT_TRUE(Item(IDC_CHECK_LOOP).bChecked);
    EXPECT_TRUE(Item(IDC_CHECK_MODIFYTIME).bChecked);
    EXPECT_FALSE(Item(IDC_CHECK_HEXMODE).bChecked);
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(Window().Icon(), IDR_MAINFRAME);
    EXPECT_EQ(Window().Focus(), IDC_EDIT_PORT);
    const std::vector<std::string> modes = {"每秒发送一次", "每十秒发送一次", "每分钟发送一次", "每小时发送一次",
                                            "每100毫秒发送一次", "模拟实际发送", "每10毫秒发送一次"};
    EXPECT_EQ(Item(IDC_COMBO_SENDTYPE).items, modes);
    EXPECT_EQ(Item(IDC_COMBO_SENDTYPE).nSelection, 0);
    EXPECT_TRUE(m_services.m_boxes.empty());
}

struct StoredCase {
    const char* pszName;
    const char* pszContent;
    int nIndex;
};

// Test names and failures show the case by its name.
void PrintTo(const StoredCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CTovrikDlgStoredSendType : public CTovrikDlgTest, public testing::WithParamInterface<StoredCase> {};

TEST_P(CTovrikDlgStoredSendType, SelectsTheStoredMode)
{
    if (GetParam().pszContent != nullptr)
        TempDir::WriteFile(CTovrikDlg::SettingsPath(), GetParam().pszContent);
    Open();
    EXPECT_EQ(Item(IDC_COMBO_SENDTYPE).nSelection, GetParam().nIndex);
    EXPECT_TRUE(m_services.m_boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Values, CTovrikDlgStoredSendType,
    testing::Values(StoredCase{"no_file", nullptr, 0}, StoredCase{"replay", "[INFO]\nsendtype=5\n", 5},
                    StoredCase{"out_of_range", "[INFO]\nsendtype=9\n", -1},
                    StoredCase{"none_selected_at_import", "[INFO]\nsendtype=-1\n", -1},
                    StoredCase{"other_case_crlf", "[other]\r\nsendtype=4\r\n[info]\r\nSendType = 2\r\n", 2},
                    StoredCase{"key_missing", "[INFO]\nother=3\n", 0}),
    [](const testing::TestParamInfo<StoredCase>& info) { return std::string(info.param.pszName); });

TEST_F(CTovrikDlgTest, EmptyText)
{
    Open();
    Click(IDC_BUTTON_CLEAR);
    EXPECT_EQ(Content(), "");
    Click(IDC_BUTTON_START);
    ASSERT_EQ(m_services.m_boxes.size(), 1u);
    ExpectBox(0, TovrikTexts::kEmptyData, TovrikTexts::kNotice, Icon::kExclamation);
    EXPECT_TRUE(ShowsIdle());
}

struct RejectedCase {
    const char* pszName;
    bool bHex;
    std::string strText;
    std::string strMessage;
    bool bAppCaption;
    std::string strLeft;
};

void PrintTo(const RejectedCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CTovrikDlgTextRejected : public CTovrikDlgTest, public testing::WithParamInterface<RejectedCase> {};

TEST_P(CTovrikDlgTextRejected, TellsAndStaysIdle)
{
    const RejectedCase& param = GetParam();
    Open();
    Item(IDC_CHECK_HEXMODE).bChecked = param.bHex;
    SetContent(param.strText);
    Click(IDC_BUTTON_START);
    ASSERT_EQ(m_services.m_boxes.size(), 2u);
    ExpectBox(0, TovrikTexts::kPleaseWait, AppName(), Icon::kNone);
    EXPECT_TRUE(m_services.m_boxes[0].bApplication);
    if (param.bAppCaption)
        ExpectBox(1, param.strMessage, AppName(), Icon::kNone);
    else
        ExpectBox(1, param.strMessage, TovrikTexts::kNotice, Icon::kExclamation);
    EXPECT_EQ(Content(), param.strLeft);
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), "<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Values, CTovrikDlgTextRejected,
    testing::Values(
        RejectedCase{"hex_with_a_tab", true, "7b\t7d", TovrikTexts::kNotHex, true, ""},
        RejectedCase{"hex_with_a_comma", true, "7b,22", TovrikTexts::kNotHex, true, ""},
        RejectedCase{"hex_50001_bytes", true, std::string(50001, '0'), TovrikTexts::kHexTooLong, true, ""},
        RejectedCase{"hex_50000_bytes_no_braces", true, std::string(50000, '0'), TovrikTexts::kNoPackets, false,
                     std::string(50000, '0')},
        RejectedCase{"hex_odd_digit_dropped", true, "7B7D7", TovrikTexts::kNoPackets, false, "7B7D"},
        RejectedCase{"hex_white_space_only", true, " \r\n ", TovrikTexts::kNoPackets, false, ""},
        RejectedCase{"text_without_packets", false, "hello {abc", TovrikTexts::kNoPackets, false, "hello {abc"},
        RejectedCase{"text_cut_at_a_nested_object", false, "{\"a\":{\"b\":1}}", TovrikTexts::kNoPackets, false,
                     "{\"a\":{\"b\":1}}"}),
    [](const testing::TestParamInfo<RejectedCase>& info) { return std::string(info.param.pszName); });

TEST_F(CTovrikDlgTest, NormalizeHexTextLeavesTheDigitsCompact)
{
    Open();
    SetContent("7b 22\r\n7D 0");
    EXPECT_TRUE(m_pDlg->NormalizeHexText());
    EXPECT_EQ(Content(), "7b227D");
    SetContent("7b;");
    EXPECT_FALSE(m_pDlg->NormalizeHexText());
    EXPECT_EQ(Content(), "");
    EXPECT_EQ(m_services.Texts(), std::vector<std::string>{TovrikTexts::kNotHex});
}

TEST_F(CTovrikDlgTest, HexStartsAndStops)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 4);
    Item(IDC_CHECK_HEXMODE).bChecked = true;
    SetContent("7b 22 61\r\n22 3a 31\n7d");
    Click(IDC_BUTTON_START);
    EXPECT_EQ(Content(), "7b2261223a317d");
    EXPECT_EQ(m_services.Texts(),
              (std::vector<std::string>{TovrikTexts::kPleaseWait, CLoadResult::CountMessage(1)}));
    ExpectBox(1, CLoadResult::CountMessage(1), AppName(), Icon::kNone);
    EXPECT_TRUE(ShowsRunning());
    std::string strDatagram;
    ASSERT_TRUE(receiver.Receive(strDatagram));
    EXPECT_EQ(strDatagram, TovrikTexts::kDeviceInfo);
    ASSERT_TRUE(receiver.Receive(strDatagram));
    EXPECT_EQ(strDatagram, "{\"a\":1,\"make_up\":1}");
    // One packet in a fast mode: the run ends by itself.
    ASSERT_TRUE(DeliverEnd());
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(EndBoxes(), 1);
    EXPECT_EQ(m_services.m_boxes.size(), 3u);
    Sleep(150);
    Window().DeliverPosted();
    EXPECT_EQ(EndBoxes(), 1);
}

TEST_F(CTovrikDlgTest, RunEndsByItself)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 6);
    SetContent("{\"a\":1}{\"b\":2}");
    Click(IDC_BUTTON_START);
    ExpectBox(1, CLoadResult::CountMessage(2), AppName(), Icon::kNone);
    std::string strDatagram;
    ASSERT_TRUE(receiver.Receive(strDatagram));
    ASSERT_TRUE(receiver.Receive(strDatagram));
    EXPECT_EQ(strDatagram, "{\"a\":1,\"make_up\":1}");
    ASSERT_TRUE(receiver.Receive(strDatagram));
    EXPECT_EQ(strDatagram, "{\"b\":2,\"make_up\":1}");
    ASSERT_TRUE(DeliverEnd());
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(EndBoxes(), 1);
    // The window takes a new run afterwards.
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    ASSERT_TRUE(DeliverEnd());
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(EndBoxes(), 2);
}

TEST_F(CTovrikDlgTest, EditsUndoneAtNextTick)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 0);
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    Item(IDC_EDIT_PORT).strText = "1";
    Item(IDC_IPADDRESS_TARGET).strText = "10.1.2.3";
    Item(IDC_CHECK_LOOP).bChecked = false;
    Item(IDC_CHECK_HEXMODE).bChecked = true;
    Item(IDC_COMBO_SENDTYPE).nSelection = 3;
    ASSERT_TRUE(Window().WaitForPosted(WM_SEND_TICK, kEndWaitMs));
    Window().DeliverPosted();
    EXPECT_EQ(PortText(), std::to_string(receiver.Port()));
    EXPECT_EQ(Item(IDC_IPADDRESS_TARGET).strText, "127.0.0.1");
    EXPECT_TRUE(Item(IDC_CHECK_LOOP).bChecked);
    EXPECT_FALSE(Item(IDC_CHECK_HEXMODE).bChecked);
    // The selector is not exchanged: the change stays on screen.
    EXPECT_EQ(Item(IDC_COMBO_SENDTYPE).nSelection, 3);
    StopAndExpectEnd();
}

TEST_F(CTovrikDlgTest, ClearPutsBackUnsavedEdits)
{
    Open();
    Item(IDC_COMBO_SENDTYPE).nSelection = 2;
    Item(IDC_EDIT_PORT).strText = "123";
    Item(IDC_IPADDRESS_TARGET).strText = "192.168.1";
    Item(IDC_CHECK_MODIFYTIME).bChecked = false;
    Item(IDC_CHECK_HEXMODE).bChecked = true;
    Click(IDC_BUTTON_CLEAR);
    EXPECT_EQ(Content(), "");
    EXPECT_EQ(PortText(), "51609");
    EXPECT_EQ(Item(IDC_IPADDRESS_TARGET).strText, "127.0.0.1");
    EXPECT_TRUE(Item(IDC_CHECK_MODIFYTIME).bChecked);
    EXPECT_FALSE(Item(IDC_CHECK_HEXMODE).bChecked);
    EXPECT_EQ(Item(IDC_COMBO_SENDTYPE).nSelection, 2);
    EXPECT_TRUE(m_services.m_boxes.empty());
}

struct PortCase {
    const char* pszName;
    const char* pszPort;
    const char* pszMessage;
};

void PrintTo(const PortCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CTovrikDlgPortRefused : public CTovrikDlgTest, public testing::WithParamInterface<PortCase> {};

TEST_P(CTovrikDlgPortRefused, NothingStarts)
{
    const std::string strMessage = GetParam().pszMessage;
    LoopbackPeer receiver;
    Open();
    Item(IDC_EDIT_PORT).strText = GetParam().pszPort;
    Click(IDC_BUTTON_START);
    ASSERT_EQ(m_services.m_boxes.size(), 1u);
    ExpectBox(0, strMessage, AppName(), Icon::kExclamation);
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(PortText(), GetParam().pszPort);
    EXPECT_EQ(Window().Focus(), IDC_EDIT_PORT);

    // The import refuses it before a file is chosen.
    m_services.m_strFileAnswer = TempFile("never-read.txt");
    Click(IDC_BUTTON_IMPORT);
    ASSERT_EQ(m_services.m_boxes.size(), 2u);
    ExpectBox(1, strMessage, AppName(), Icon::kExclamation);
    EXPECT_TRUE(m_services.m_strLastFilter.empty());
    EXPECT_TRUE(ShowsIdle());

    // 65535 itself is a port.
    Item(IDC_EDIT_PORT).strText = "65535";
    Item(IDC_COMBO_SENDTYPE).nSelection = -1;
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    StopAndExpectEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Values, CTovrikDlgPortRefused,
    testing::Values(PortCase{"above_65535", "70000", "请输入一个介于 0 和 65535 之间的整数。"},
                    PortCase{"far_above", "99999999999999999999", "请输入一个整数。"},
                    PortCase{"empty", "", "请输入一个整数。"}),
    [](const testing::TestParamInfo<PortCase>& info) { return std::string(info.param.pszName); });

class CTovrikDlgImport : public CTovrikDlgTest, public testing::WithParamInterface<int> {};

TEST_P(CTovrikDlgImport, StartsAndStoresMode)
{
    const int nMode = GetParam();
    const std::string strFile = TempFile("messages.txt");
    TempDir::WriteFile(strFile,
              "{\"cmd\":\"push_msg\",\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22:59\"}\n"
              "{\"cmd\":\"push_msg\",\"time\":\"2020-07-18 15:23:00\"}\n"
              "{\"cmd\":\"push_msg\",\"IMEI\":\"2\",\"time\":\"2020-07-18 15:22\"}\n");
    TempDir::WriteFile(CTovrikDlg::SettingsPath(), "; kept\n[other]\nkey=1\n");
    m_services.m_strFileAnswer = strFile;
    Open();
    Item(IDC_COMBO_SENDTYPE).nSelection = nMode;
    Click(IDC_BUTTON_IMPORT);
    EXPECT_EQ(m_services.m_strLastFilter, "文件(*.txt)|*.txt||");
    EXPECT_EQ(m_services.m_strLastDefaultExt, ".txt");
    ASSERT_EQ(m_services.m_boxes.size(), 2u);
    ExpectBox(0, TovrikTexts::kPleaseWait, AppName(), Icon::kNone);
    ExpectBox(1, "解析完毕,一共解析 2 道下载命令.开始发送.", AppName(), Icon::kNone);
    EXPECT_TRUE(ShowsRunning());
    // The other lines kept; Windows' profile functions end each line with
    // CR LF and put no blank line before a new section.
#ifdef _WIN32
    EXPECT_EQ(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()),
              "; kept\r\n[other]\r\nkey=1\r\n[INFO]\r\nsendtype=" + std::to_string(nMode) + "\r\n");
#else
    EXPECT_EQ(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()),
              "; kept\n[other]\nkey=1\n\n[INFO]\nsendtype=" + std::to_string(nMode) + "\n");
#endif
    StopAndExpectEnd();
}

// Every minute, replay, nothing selected.
INSTANTIATE_TEST_SUITE_P(Modes, CTovrikDlgImport, testing::Values(2, 5, -1));

struct ImportFailureCase {
    const char* pszName;
    // The file chosen; null: the dialog is cancelled.
    const char* pszFile;
    // The start of the second box's text; empty: the wait message alone.
    std::string strMessage;
};

void PrintTo(const ImportFailureCase& param, std::ostream* pOut)
{
    *pOut << param.pszName;
}

class CTovrikDlgImportFailure : public CTovrikDlgTest, public testing::WithParamInterface<ImportFailureCase> {};

TEST_P(CTovrikDlgImportFailure, NothingStarts)
{
    const ImportFailureCase& param = GetParam();
    TempDir::WriteFile(TempFile("no-imei.txt"), "{\"cmd\":\"a\"}{\"cmd\":\"b\",\"imei\":\"1\"}not json{x}");
    // A sparse file beyond the 32-bit lengths costs no disk.
    const std::string strHuge = TempFile("huge.txt");
    TempDir::WriteFile(strHuge, "");
    std::error_code error;
    std::filesystem::resize_file(std::filesystem::u8path(strHuge), 3LL << 30, error);
    ASSERT_FALSE(error) << error.message();
    if (param.pszFile != nullptr)
        m_services.m_strFileAnswer = TempFile(param.pszFile);
    Open();
    Item(IDC_COMBO_SENDTYPE).nSelection = 5;
    Click(IDC_BUTTON_IMPORT);
    std::vector<std::string> expected;
    if (param.pszFile != nullptr)
        expected.push_back(TovrikTexts::kPleaseWait);
    if (!param.strMessage.empty()) {
        ASSERT_EQ(m_services.m_boxes.size(), 2u);
        EXPECT_EQ(m_services.m_boxes[1].strText.rfind(param.strMessage, 0), 0u) << m_services.m_boxes[1].strText;
        EXPECT_EQ(m_services.m_boxes[1].strCaption, TovrikTexts::kNotice);
        EXPECT_EQ(m_services.m_boxes[1].nIcon, Icon::kExclamation);
    } else {
        EXPECT_EQ(m_services.Texts(), expected);
    }
    EXPECT_TRUE(ShowsIdle());
    EXPECT_EQ(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), "<missing>");
}

INSTANTIATE_TEST_SUITE_P(
    Values, CTovrikDlgImportFailure,
    testing::Values(ImportFailureCase{"no_message_with_imei", "no-imei.txt", TovrikTexts::kNoPackets},
                    ImportFailureCase{"cannot_be_opened", "missing.txt", ""},
                    ImportFailureCase{"dialog_cancelled", nullptr, ""},
                    ImportFailureCase{"too_large", "huge.txt", "数据过大, 无法解析."}),
    [](const testing::TestParamInfo<ImportFailureCase>& info) { return std::string(info.param.pszName); });

TEST_F(CTovrikDlgTest, StartFromTextLeavesSettings)
{
    LoopbackPeer receiver;
    TempDir::WriteFile(CTovrikDlg::SettingsPath(), "[INFO]\r\nsendtype=3\r\n");
    Open();
    Target(receiver.Port(), 1);
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    StopAndExpectEnd();
    EXPECT_EQ(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), "[INFO]\r\nsendtype=3\r\n");
}

TEST_F(CTovrikDlgTest, ClosingDuringRunStopsTheWorker)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 4);
    SetContent(Repeated("{\"a\":1}", 500));
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    std::string strDatagram;
    ASSERT_TRUE(receiver.Receive(strDatagram));
    EXPECT_TRUE(Window().Close());
    EXPECT_FALSE(m_pDlg->IsRunning());
    EXPECT_TRUE(Window().Ended());
    receiver.Collect(50);
    EXPECT_TRUE(receiver.Collect(300).empty());
    // The run ended with the window: no notice pops up over nothing.
    Window().DeliverPosted();
    EXPECT_EQ(EndBoxes(), 0);
}

TEST_F(CTovrikDlgTest, DestroyingDuringRunStopsTheWorker)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 6);
    SetContent(Repeated("{\"a\":1}", 1000));
    Click(IDC_BUTTON_START);
    std::string strDatagram;
    ASSERT_TRUE(receiver.Receive(strDatagram));
    m_pDlg.reset();
    receiver.Collect(50);
    EXPECT_TRUE(receiver.Collect(300).empty());
}

TEST_F(CTovrikDlgTest, LateEndNoticeOfAnEarlierRun)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 0);
    m_pDlg->OnStartStop();
    EXPECT_TRUE(ShowsRunning());
    // Stop and start again; the first run's end notice is held back until
    // the second run is on.
    m_pDlg->OnStartStop();
    m_pDlg->OnStartStop();
    EXPECT_TRUE(ShowsRunning());
    ASSERT_TRUE(Window().WaitForPosted(WM_SEND_END, kEndWaitMs));
    Window().DeliverPosted();
    EXPECT_EQ(EndBoxes(), 1);
    EXPECT_TRUE(ShowsRunning());
    Sleep(250);
    Window().DeliverPosted();
    EXPECT_TRUE(ShowsRunning());
    StopAndExpectEnd();
    EXPECT_EQ(EndBoxes(), 2);
}

TEST_F(CTovrikDlgTest, ThreadCannotBeCreated)
{
    LoopbackPeer receiver;
    Open();
    Target(receiver.Port(), 0);
    m_services.m_bFailThreads = true;
    Click(IDC_BUTTON_START);
    ASSERT_EQ(m_services.m_boxes.size(), 3u);
    ExpectBox(1, CLoadResult::CountMessage(1), AppName(), Icon::kNone);
    EXPECT_EQ(m_services.m_boxes[2].strText.rfind("无法创建发送线程", 0), 0u) << m_services.m_boxes[2].strText;
    EXPECT_EQ(m_services.m_boxes[2].strCaption, TovrikTexts::kNotice);
    EXPECT_EQ(m_services.m_boxes[2].nIcon, Icon::kExclamation);
    EXPECT_TRUE(ShowsIdle());
    EXPECT_TRUE(receiver.Collect(200).empty());
    // Once threads can be had again, the window works.
    m_services.m_bFailThreads = false;
    Click(IDC_BUTTON_START);
    EXPECT_TRUE(ShowsRunning());
    StopAndExpectEnd();
}

TEST_F(CTovrikDlgTest, SystemMenuOpensTheAboutBox)
{
    Open();
    const std::vector<std::pair<int, std::string>> menu = {{0, ""}, {IDM_ABOUTBOX, "关于 Tovrik(&A)..."}};
    EXPECT_EQ(Window().SystemMenu(), menu);
    bool bClosedByOk = false;
    m_services.m_onModal = [&](CFakeDialogWindow& about) {
        about.Click(DialogId::kOk);
        bClosedByOk = about.Ended();
    };
    // The low four bits of a system command are the system's own.
    m_pDlg->OnSysCommand(IDM_ABOUTBOX | 0x3);
    ASSERT_EQ(m_services.m_modals.size(), 1u);
    EXPECT_EQ(m_services.m_modals[0].strCaption, "关于 Tovrik");
    EXPECT_EQ(m_services.m_modals[0].texts, (std::vector<std::string>{"", "Tovrik，1.0 版", "确定"}));
    EXPECT_TRUE(bClosedByOk);
    // Other system commands are not the window's.
    m_pDlg->OnSysCommand(0xF060);
    EXPECT_EQ(m_services.m_modals.size(), 1u);
    EXPECT_TRUE(m_services.m_boxes.empty());
}

}  // namespace
