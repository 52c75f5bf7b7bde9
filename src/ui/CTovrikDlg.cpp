#include "ui/CTovrikDlg.h"

#include <new>

#include "framework/CDataExchange.h"
#include "framework/CDialogWindow.h"
#include "framework/DialogTemplate.h"
#include "load/CFileLoader.h"
#include "schedule/SendModes.h"
#include "send/CSendRun.h"
#include "settings/CProfileFile.h"
#include "text/TovrikTexts.h"
#include "ui/CAboutDlg.h"
#include "ui/CDialogNotify.h"
#include "ui/CStringTable.h"
#include "ui/Resource.h"
#include "ui/TovrikTemplates.h"

namespace {

using Icon = CFrameworkServices::Icon;
using Result = CLoadResult;

const char kImportFilter[] = "文件(*.txt)|*.txt||";

}  // namespace

CTovrikDlg::CTovrikDlg(CFrameworkServices& services, SocketHandle hSocket)
    : CDialogFrame(services, TovrikTemplates::kMainDialog, nullptr),
      m_hIcon(IDR_MAINFRAME),
      m_strDeviceInfo(TovrikTexts::kDeviceInfo),
      m_strContent(TovrikTexts::kStatusMessage),
      m_strTargetIp(TovrikTexts::kDefaultTarget),
      m_nTargetPort(TovrikTexts::kDefaultPort),
      m_nProgressDelayMs(CFrameworkServices::kDefaultLoadShowDelayMs),
      m_hSocket(hSocket)
{
}

CTovrikDlg::~CTovrikDlg()
{
    StopWorker();
}

std::string CTovrikDlg::SettingsPath()
{
    return CProfileFile::SettingsPath(kSettingsFile);
}

bool CTovrikDlg::OnInitDialog()
{
    CDialogFrame::OnInitDialog();

    if (Template().nStyle & DialogStyle::kWsSysMenu) {
        const std::string strAboutMenu = CStringTable::Load(IDS_ABOUTBOX);
        if (!strAboutMenu.empty()) {
            Window().AppendSystemMenuSeparator();
            Window().AppendSystemMenu(IDM_ABOUTBOX, strAboutMenu);
        }
    }

    Window().SetIcon(m_hIcon);

    UpdateData(false);

    for (int i = 0; i < SendModes::kCount; ++i)
        m_cbSendType.InsertString(i, SendModes::kModes[i].pszLabel);

    const int nSendType = CProfileFile::GetInt(kSettingsSection, kSettingsKey, 0, SettingsPath());
    m_cbSendType.SetCurSel(nSendType >= 0 && nSendType < SendModes::kCount ? nSendType : -1);
    return true;
}

void CTovrikDlg::DoDataExchange(CDataExchange& dx)
{
    dx.Text(IDC_EDIT_CONTENT, m_strContent);
    dx.Text(IDC_IPADDRESS_TARGET, m_strTargetIp);
    dx.Number(IDC_EDIT_PORT, m_nTargetPort, 0, 65535);
    dx.Control(IDC_COMBO_SENDTYPE, m_cbSendType);
    dx.Check(IDC_CHECK_LOOP, m_bLoop);
    dx.Check(IDC_CHECK_MODIFYTIME, m_bModifyTime);
    dx.Check(IDC_CHECK_HEXMODE, m_bHexMode);
}

void CTovrikDlg::OnCommand(int nId)
{
    switch (nId) {
    case IDC_BUTTON_START:
        OnStartStop();
        break;
    case IDC_BUTTON_CLEAR:
        OnClear();
        break;
    case IDC_BUTTON_IMPORT:
        OnImport();
        break;
    default:
        CDialogFrame::OnCommand(nId);
        break;
    }
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
        ShowMessageBox(TovrikTexts::kSendEnded, TovrikTexts::kNotice, Icon::kInformation);
        return;
    }
    ShowIdle();
    if (nRun != m_nClosedRun)
        ShowMessageBox(TovrikTexts::kSendEnded, TovrikTexts::kNotice, Icon::kInformation);
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
    CTextLoader::Prepared prepared;
    try {
        prepared = CTextLoader::Prepare(m_strContent, m_bHexMode != 0);
    } catch (const std::bad_alloc&) {
        CheckLoad(Result::Failure(Result::kTooLarge, "text", "not enough memory"));
        return;
    }
    if (prepared.nStatus == Result::kEmptyText) {
        ShowMessageBox(TovrikTexts::kEmptyData, TovrikTexts::kNotice, Icon::kExclamation);
        return;
    }
    Services().AppMessageBox(TovrikTexts::kPleaseWait);
    if (m_bHexMode && !ShowHexText(prepared))
        return;
    Result result = Load([strBytes = std::move(prepared.strBytes)](const CLoadResult::Progress& progress) {
        return CTextLoader::Cut(strBytes, progress);
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
    return ShowHexText(CTextLoader::Prepare(m_strContent, true));
}

bool CTovrikDlg::ShowHexText(const CTextLoader::Prepared& prepared)
{
    const bool bRejected = prepared.nStatus == Result::kHexTooLong || prepared.nStatus == Result::kNotHex;
    if (bRejected)
        ShowMessageBox(Result::WithStatus(prepared.nStatus).Message(), std::string(), Icon::kNone);
    m_strContent = prepared.strText;
    UpdateData(false);
    return !bRejected;
}

void CTovrikDlg::OnImport()
{
    if (m_bLoading || m_pSendThread)
        return;
    // A refused port is told before a file is chosen and read in vain.
    if (!ValidateData())
        return;
    std::string strPath;
    if (!Services().FileOpenDialog(&Window(), ".txt", kImportFilter, strPath))
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
    CProfileFile::WriteString(kSettingsSection, kSettingsKey, std::to_string(m_cbSendType.GetCurSel()),
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

bool CTovrikDlg::OnClosing()
{
    if (m_bLoading)
        return false;
    if (m_pSendThread) {
        m_nClosedRun = m_nRun;
        StopWorker();
        ShowIdle();
    }
    return true;
}

Result CTovrikDlg::Load(const Loader& load, int nReportsPerByte)
{
    auto pResult = std::make_shared<Result>();
    m_bLoading = true;
    const bool bCompleted = Services().RunLoad(
        &Window(), [pResult, load](const CLoadResult::Progress& progress) { *pResult = load(progress); },
        nReportsPerByte, m_nProgressDelayMs);
    m_bLoading = false;
    return bCompleted ? std::move(*pResult) : Result::WithStatus(Result::kCancelled);
}

bool CTovrikDlg::CheckLoad(const Result& result)
{
    switch (result.nStatus) {
    case Result::kOk:
        return true;
    case Result::kEmptyText:
    case Result::kNoPackets:
        ShowMessageBox(TovrikTexts::kNoPackets, TovrikTexts::kNotice, Icon::kExclamation);
        return false;
    case Result::kHexTooLong:
    case Result::kNotHex:
        ShowMessageBox(result.Message(), std::string(), Icon::kNone);
        return false;
    case Result::kTooLarge: {
        std::string strText = CStringTable::Load(IDS_DATA_TOO_LARGE);
        if (!result.strDetail.empty())
            strText += "\n" + result.strDetail;
        ShowMessageBox(strText, TovrikTexts::kNotice, Icon::kExclamation);
        return false;
    }
    case Result::kUnreadable:
        // As for a file that cannot be opened: the wait message was all.
    case Result::kCancelled:
        // The window loads no captures, so it has no capture filter.
    case Result::kBadFilter:
        break;
    }
    return false;
}

bool CTovrikDlg::StartWorker(std::unique_ptr<PacketList> pPackets, std::unique_ptr<TimeIndex> pIndex)
{
    SendSettings settings;
    settings.mode = SendModes::ModeAt(m_cbSendType.GetCurSel());
    settings.strDeviceInfo = m_strDeviceInfo;
    settings.strTargetIp = m_strTargetIp;
    settings.nTargetPort = m_nTargetPort;
    settings.bLoop = m_bLoop != 0;
    settings.bModifyTime = m_bModifyTime != 0;

    ++m_nRun;
    m_pNotify = std::make_unique<CDialogNotify>(Window(), m_nRun);
    CFrameworkServices& services = Services();
    m_pSendThread = std::make_unique<CSendRun>(
        m_hSocket, m_clock,
        [&services](std::function<void()> body, std::unique_ptr<std::thread>& pThread) {
            return services.StartThread(std::move(body), pThread);
        });
    const CStatus started = m_pSendThread->Start(std::move(settings), std::move(pPackets), std::move(pIndex), *m_pNotify);
    if (started.IsOk())
        return true;
    m_pSendThread.reset();
    m_pNotify.reset();
    ShowMessageBox(CStringTable::Load(IDS_NO_SEND_THREAD) + "\n" + started.Message(), TovrikTexts::kNotice,
                   Icon::kExclamation);
    return false;
}

void CTovrikDlg::StopWorker()
{
    if (m_pSendThread) {
        m_pSendThread->Stop();
        m_pSendThread.reset();
    }
    m_pNotify.reset();
}

void CTovrikDlg::ShowRunning()
{
    SetItemText(IDC_BUTTON_START, CStringTable::Load(IDS_STOP));
    EnableItem(IDC_BUTTON_IMPORT, false);
    EnableItem(IDC_BUTTON_CLEAR, false);
    EnableItem(IDC_EDIT_CONTENT, false);
}

void CTovrikDlg::ShowIdle()
{
    SetItemText(IDC_BUTTON_START, CStringTable::Load(IDS_START));
    EnableItem(IDC_BUTTON_IMPORT, true);
    EnableItem(IDC_BUTTON_CLEAR, true);
    EnableItem(IDC_EDIT_CONTENT, true);
}
