#include "ui/CTovrikDlg.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QShortcut>

#include "app/CDataExchange.h"
#include "app/CIpAddressCtrl.h"
#include "app/CProfileFile.h"
#include "app/CStringTable.h"
#include "app/CTovrikIcon.h"
#include "load/CFileLoader.h"
#include "load/CTextLoader.h"
#include "app/Resource.h"
#include "net/CUDPSocket.h"
#include "send/CSocketSink.h"
#include "send/SendWorker.h"
#include "send/TovrikTexts.h"
#include "ui/CAboutDlg.h"
#include "ui/CDialogNotify.h"
#include "ui/CLoadProgress.h"

namespace {

using Icon = CFrameworkServices::Icon;
using Result = CLoadResult;

const char* const kSendTypes[] = {
    "每秒发送一次", "每十秒发送一次", "每分钟发送一次", "每小时发送一次",
    "每100毫秒发送一次", "模拟实际发送", "每10毫秒发送一次",
};
constexpr int kSendTypeCount = 7;

const char kStart[] = "开始";
const char kStop[] = "停止";
const char kImportFilter[] = "文件(*.txt)|*.txt||";

}  // namespace

CTovrikDlg::CTovrikDlg(CFrameworkServices& services, QWidget* pParent)
    : CDialogFrame(services, 320, 200, 9, pParent),
      m_hIcon(CTovrikIcon::Icon()),
      m_strDeviceInfo(TovrikTexts::kDeviceInfo),
      m_strContent(TovrikTexts::kStatusMessage),
      m_strTargetIp(TovrikTexts::kDefaultTarget),
      m_nTargetPort(TovrikTexts::kDefaultPort),
      m_nProgressDelayMs(CLoadProgress::kDefaultShowDelayMs)
{
    setWindowTitle(QStringLiteral("Velmar模拟定时发送工具"));
    // An application window of its own in the taskbar, with a sizing border.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
}

CTovrikDlg::~CTovrikDlg()
{
    StopWorker();
}

std::string CTovrikDlg::SettingsPath()
{
    return CProfileFile::SettingsPath(kSettingsFile);
}

void CTovrikDlg::CreateControls()
{
    // Added in tab order.
    auto* pPort = AddControl(IDC_EDIT_PORT, new QLineEdit, 145, 14, 40, 14);
    pPort->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), pPort));

    auto* pStart = AddControl(IDC_BUTTON_START, new QPushButton(QString::fromUtf8(kStart)), 257, 7, 50, 14);
    pStart->setDefault(true);
    connect(pStart, &QPushButton::clicked, this, &CTovrikDlg::OnStartStop);

    AddControl(0, new QLabel(QStringLiteral("目标地址:")), 10, 17, 31, 8);

    auto* pContent = AddControl(IDC_EDIT_CONTENT, new QPlainTextEdit, 15, 62, 289, 124);
    pContent->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    pContent->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    pContent->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pContent->setTabChangesFocus(true);
    pContent->installEventFilter(this);

    // The frame stays behind the text box it surrounds.
    AddControl(0, new QGroupBox(QStringLiteral("发送内容")), 7, 49, 306, 144)->lower();

    auto* pClear = AddControl(IDC_BUTTON_CLEAR, new QPushButton(QStringLiteral("清除内容")), 257, 22, 50, 14);
    connect(pClear, &QPushButton::clicked, this, &CTovrikDlg::OnClear);
    auto* pImport = AddControl(IDC_BUTTON_IMPORT, new QPushButton(QStringLiteral("导入文件")), 257, 38, 50, 14);
    connect(pImport, &QPushButton::clicked, this, &CTovrikDlg::OnImport);

    // The height covers the closed box only; the list drops below it.
    auto* pSendType = AddControl(IDC_COMBO_SENDTYPE, new QComboBox, 188, 14, 63, 14);
    pSendType->setMaxVisibleItems(kSendTypeCount);

    AddControl(IDC_IPADDRESS_TARGET, new CIpAddressCtrl, 42, 14, 100, 14);

    AddControl(IDC_CHECK_LOOP, new QCheckBox(QStringLiteral("是否循环发送")), 124, 33, 57, 10);
    AddControl(IDC_CHECK_MODIFYTIME, new QCheckBox(QStringLiteral("是否修改时间")), 190, 33, 57, 10);
    AddControl(IDC_CHECK_HEXMODE, new QCheckBox(QStringLiteral("是否为十六进制模式")), 15, 33, 78, 10);
}

bool CTovrikDlg::OnInitDialog()
{
    CDialogFrame::OnInitDialog();

    // Without a system menu of the platform's, the About entry lives in the
    // window's context menu (and Alt+Space, where the window manager leaves
    // it to the window).
    const std::string strAboutMenu = CStringTable::Load(IDS_ABOUTBOX);
    if (!strAboutMenu.empty()) {
        m_pSystemMenu = new QMenu(this);
        m_pSystemMenu->addSeparator();
        QAction* pAbout = m_pSystemMenu->addAction(QString::fromStdString(strAboutMenu));
        connect(pAbout, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
        setContextMenuPolicy(Qt::CustomContextMenu);
        connect(this, &QWidget::customContextMenuRequested, this,
                [this](const QPoint& pos) { ShowSystemMenu(mapToGlobal(pos)); });
        auto* pShortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
        connect(pShortcut, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
    }

    setWindowIcon(m_hIcon);

    UpdateData(false);

    for (int i = 0; i < kSendTypeCount; ++i)
        m_cbSendType->insertItem(i, QString::fromUtf8(kSendTypes[i]));
    // The closed box keeps its width; its list shows every entry whole.
    QAbstractItemView* pList = m_cbSendType->view();
    pList->setMinimumWidth(pList->sizeHintForColumn(0) + 2 * pList->frameWidth() +
                           pList->verticalScrollBar()->sizeHint().width());

    const int nSendType = CProfileFile::GetInt(kSettingsSection, kSettingsKey, 0, SettingsPath());
    m_cbSendType->setCurrentIndex(nSendType >= 0 && nSendType < kSendTypeCount ? nSendType : -1);
    return true;
}

void CTovrikDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Text(static_cast<QPlainTextEdit*>(GetDlgItem(IDC_EDIT_CONTENT)), m_strContent);
    dx.Text(static_cast<CIpAddressCtrl*>(GetDlgItem(IDC_IPADDRESS_TARGET)), m_strTargetIp);
    dx.Number(static_cast<QLineEdit*>(GetDlgItem(IDC_EDIT_PORT)), m_nTargetPort, 0, 65535);
    dx.Control(static_cast<QComboBox*>(GetDlgItem(IDC_COMBO_SENDTYPE)), m_cbSendType);
    dx.Check(static_cast<QCheckBox*>(GetDlgItem(IDC_CHECK_LOOP)), m_bLoop);
    dx.Check(static_cast<QCheckBox*>(GetDlgItem(IDC_CHECK_MODIFYTIME)), m_bModifyTime);
    dx.Check(static_cast<QCheckBox*>(GetDlgItem(IDC_CHECK_HEXMODE)), m_bHexMode);
}

void CTovrikDlg::OnMessage(int nMessage, uint32_t wParam, intptr_t lParam, uint64_t nTag)
{
    if (nMessage == WM_SEND_END)
        OnSendEnd(wParam, lParam, nTag);
    else if (nMessage == WM_SEND_TICK)
        OnSendTick(wParam, lParam, nTag);
}

void CTovrikDlg::OnSendEnd(uint32_t, intptr_t, uint64_t nRun)
{
    if (nRun == m_nRun && m_pSendThread) {
        // The run ended by itself: its thread is at its very end.
        StopWorker();
    } else if (m_pSendThread) {
        // A later run is on: only the earlier run's notice is due.
        Services().MessageBox(this, TovrikTexts::kSendEnded, TovrikTexts::kNotice, Icon::kInformation);
        return;
    }
    m_bRunning.store(false);
    ShowIdle();
    if (nRun != m_nClosedRun)
        Services().MessageBox(this, TovrikTexts::kSendEnded, TovrikTexts::kNotice, Icon::kInformation);
}

void CTovrikDlg::OnSendTick(uint32_t, intptr_t, uint64_t nRun)
{
    // Shows the values the worker uses; a tick that was still queued when
    // its run stopped has nothing to show.
    if (nRun == m_nRun && m_pSendThread)
        UpdateData(false);
}

void CTovrikDlg::OnStartStop()
{
    if (m_bLoading)
        return;
    const bool bExchanged = UpdateData(true);
    if (m_pSendThread) {
        StopWorker();
        ShowIdle();
        return;
    }
    // A refused value (the port) has been reported: nothing starts.
    if (!bExchanged)
        return;
    if (m_strContent.empty()) {
        Services().MessageBox(this, TovrikTexts::kEmptyData, TovrikTexts::kNotice, Icon::kExclamation);
        return;
    }
    Services().AppMessageBox(TovrikTexts::kPleaseWait);
    if (m_bHexMode && !NormalizeHexText())
        return;
    // Hex digits that were all white space leave nothing to cut.
    if (m_strContent.empty()) {
        Services().MessageBox(this, TovrikTexts::kNoPackets, TovrikTexts::kNotice, Icon::kExclamation);
        return;
    }
    Result result = Load([strContent = m_strContent, bHex = m_bHexMode != 0](const CLoadResult::Progress& progress) {
        return CTextLoader::Load(strContent, bHex, progress);
    }, 1);
    if (!CheckLoad(result))
        return;
    Services().AppMessageBox(CLoadResult::CountMessage(result.pPackets->size()));
    if (!StartWorker(std::move(result.pPackets), nullptr))
        return;
    ShowRunning();
}

bool CTovrikDlg::NormalizeHexText()
{
    UpdateData(true);
    std::string strDigits;
    const CTextLoader::HexStatus nStatus = CTextLoader::NormalizeHexText(m_strContent, strDigits);
    if (nStatus != CTextLoader::HexStatus::kOk) {
        const char* pText =
            nStatus == CTextLoader::HexStatus::kTooLong ? TovrikTexts::kHexTooLong : TovrikTexts::kNotHex;
        Services().MessageBox(this, pText, std::string(), Icon::kNone);
        m_strContent.clear();
        UpdateData(false);
        return false;
    }
    m_strContent = std::move(strDigits);
    UpdateData(false);
    return true;
}

void CTovrikDlg::OnImport()
{
    if (m_bLoading || m_pSendThread)
        return;
    // A refused port is told before a file is chosen and read in vain.
    if (!ValidateData())
        return;
    std::string strPath;
    if (!Services().FileOpenDialog(this, ".txt", kImportFilter, strPath))
        return;
    Services().AppMessageBox(TovrikTexts::kPleaseWait);
    // An import reports each byte twice, once read and once cut.
    Result result = Load([strPath](const CLoadResult::Progress& progress) {
        return CFileLoader::Import(strPath, progress);
    }, 2);
    if (!CheckLoad(result))
        return;
    Services().AppMessageBox(CLoadResult::CountMessage(result.pPackets->size()));
    if (!UpdateData(true))
        return;
    CProfileFile::WriteString(kSettingsSection, kSettingsKey, std::to_string(m_cbSendType->currentIndex()),
                              SettingsPath());
    if (!StartWorker(std::move(result.pPackets), std::move(result.pIndex)))
        return;
    ShowRunning();
}

void CTovrikDlg::OnClear()
{
    m_strContent.clear();
    UpdateData(false);
}

void CTovrikDlg::OnSysCommand(int nId)
{
    if ((nId & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(Services(), this);
        about.DoModal();
    }
}

void CTovrikDlg::done(int nResult)
{
    if (m_bLoading)
        return;
    if (m_pSendThread) {
        m_nClosedRun = m_nRun;
        StopWorker();
        ShowIdle();
    }
    CDialogFrame::done(nResult);
}

bool CTovrikDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // Enter in the text box presses the default button; Ctrl+Enter breaks
    // the line.
    if (pWatched == GetDlgItem(IDC_EDIT_CONTENT) && pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->key() == Qt::Key_Return || pKey->key() == Qt::Key_Enter) {
            if (pKey->modifiers() & Qt::ControlModifier)
                static_cast<QPlainTextEdit*>(pWatched)->insertPlainText(QStringLiteral("\n"));
            else
                static_cast<QPushButton*>(GetDlgItem(IDC_BUTTON_START))->click();
            return true;
        }
    }
    return CDialogFrame::eventFilter(pWatched, pEvent);
}

Result CTovrikDlg::Load(const std::function<Result(const CLoadResult::Progress&)>& job, int nReportsPerByte)
{
    m_bLoading = true;
    Result result = CLoadProgress(Services(), this, m_nProgressDelayMs).Run(job, nReportsPerByte);
    m_bLoading = false;
    return result;
}

bool CTovrikDlg::CheckLoad(const Result& result)
{
    switch (result.nStatus) {
    case Result::kOk:
        return true;
    case Result::kEmptyText:
    case Result::kNoPackets:
        Services().MessageBox(this, TovrikTexts::kNoPackets, TovrikTexts::kNotice, Icon::kExclamation);
        return false;
    case Result::kHexTooLong:
    case Result::kNotHex:
        Services().MessageBox(this, result.Message(), std::string(), Icon::kNone);
        return false;
    case Result::kTooLarge: {
        std::string strText = "数据过大, 无法解析.";
        if (!result.strDetail.empty())
            strText += "\n" + result.strDetail;
        Services().MessageBox(this, strText, TovrikTexts::kNotice, Icon::kExclamation);
        return false;
    }
    case Result::kUnreadable:
        // As for a file that cannot be opened: the wait message was all.
    case Result::kCancelled:
        break;
    }
    return false;
}

bool CTovrikDlg::StartWorker(std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex)
{
    SendSettings settings;
    // No selection (-1) becomes 255, which names no mode.
    settings.nMode = static_cast<uint8_t>(m_cbSendType->currentIndex());
    settings.strDeviceInfo = m_strDeviceInfo;
    settings.strTargetIp = m_strTargetIp;
    settings.nTargetPort = m_nTargetPort;
    settings.bLoop = m_bLoop != 0;
    settings.bModifyTime = m_bModifyTime != 0;

    m_bRunning.store(true);
    ++m_nRun;
    m_pSink = std::make_unique<CSocketSink>(theUDPSocket.Handle());
    m_pNotify = std::make_unique<CDialogNotify>(this, m_nRun);
    m_pWorker = std::make_unique<SendWorker>(std::move(settings), std::move(pPackets), std::move(pIndex), m_bRunning,
                                             m_clock, *m_pSink, *m_pNotify);
    std::string strError;
    m_pSendThread = Services().StartThread([pWorker = m_pWorker.get()] { pWorker->Run(); }, strError);
    if (m_pSendThread)
        return true;
    m_bRunning.store(false);
    m_pWorker.reset();
    m_pNotify.reset();
    m_pSink.reset();
    Services().MessageBox(this, "无法创建发送线程, 发送没有开始.\n" + strError, TovrikTexts::kNotice,
                          Icon::kExclamation);
    return false;
}

void CTovrikDlg::StopWorker()
{
    m_bRunning.store(false);
    if (m_pSendThread) {
        m_pSendThread->join();
        m_pSendThread.reset();
    }
    m_pWorker.reset();
    m_pNotify.reset();
    m_pSink.reset();
}

void CTovrikDlg::ShowRunning()
{
    SetDlgItemText(IDC_BUTTON_START, kStop);
    EnableDlgItem(IDC_BUTTON_IMPORT, false);
    EnableDlgItem(IDC_BUTTON_CLEAR, false);
    EnableDlgItem(IDC_EDIT_CONTENT, false);
}

void CTovrikDlg::ShowIdle()
{
    SetDlgItemText(IDC_BUTTON_START, kStart);
    EnableDlgItem(IDC_BUTTON_IMPORT, true);
    EnableDlgItem(IDC_BUTTON_CLEAR, true);
    EnableDlgItem(IDC_EDIT_CONTENT, true);
}

void CTovrikDlg::ShowSystemMenu(const QPoint& globalPos)
{
    if (m_pSystemMenu != nullptr)
        m_pSystemMenu->exec(globalPos);
}
