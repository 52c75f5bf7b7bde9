// Drives the real main window on the Qt backend end to end, on the offscreen
// platform: its widgets, tab order and geometry, keys, menus, the progress
// dialog, the toolkit's boxes and file dialog, and one run against a
// loopback receiver. Boxes are answered and recorded by CTestServices. (The
// window's logic itself is tested on the fake framework.)
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <future>
#include <memory>
#include <thread>

#include "CTestServices.h"
#include "TempDir.h"
#include "framework/CLoadTask.h"
#include "framework/qt/CIpAddressCtrl.h"
#include "framework/qt/CQtDialogWindow.h"
#include "load/CLoadResult.h"
#include "net/CLNHanlder.h"
#include "net/CUDPSocket.h"
#include "net/LoopbackPeer.h"
#include "text/TovrikTexts.h"
#include "ui/CTovrikDlg.h"
#include "ui/Resource.h"

CUDPSocket theUDPSocket;

namespace {

using Icon = CTestServices::Icon;

const char kModes[][32] = {"每秒发送一次", "每十秒发送一次", "每分钟发送一次", "每小时发送一次",
                           "每100毫秒发送一次", "模拟实际发送", "每10毫秒发送一次"};


}  // namespace

class CQtTovrikDlgTest : public QObject {
    Q_OBJECT

private:
    template <class T>
    T* Item(int nId) const
    {
        return static_cast<T*>(Win()->GetDlgItem(nId));
    }
    // The main window's Qt window.
    CQtDialogWindow* Win() const { return dynamic_cast<CQtDialogWindow*>(&m_pDlg->Window()); }

    void Open()
    {
        m_pDlg = std::make_unique<CTovrikDlg>(*m_pServices, theUDPSocket.Handle());
        m_pDlg->Create();
        Win()->show();
        QVERIFY(QTest::qWaitForWindowExposed(Win()));
    }

    void Click(int nId) { QTest::mouseClick(Item<QPushButton>(nId), Qt::LeftButton); }
    void SetContent(const QString& strText) { Item<QPlainTextEdit>(IDC_EDIT_CONTENT)->setPlainText(strText); }
    QString Content() const { return Item<QPlainTextEdit>(IDC_EDIT_CONTENT)->toPlainText(); }
    QString PortText() const { return Item<QLineEdit>(IDC_EDIT_PORT)->text(); }
    void Target(uint16_t nPort, int nMode)
    {
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(QString::number(nPort));
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(nMode);
    }
    bool ShowsIdle() const
    {
        return Item<QPushButton>(IDC_BUTTON_START)->text() == QStringLiteral("开始") &&
               Item<QWidget>(IDC_EDIT_CONTENT)->isEnabled() && Item<QWidget>(IDC_BUTTON_CLEAR)->isEnabled() &&
               Item<QWidget>(IDC_BUTTON_IMPORT)->isEnabled() && !m_pDlg->IsRunning();
    }
    bool ShowsRunning() const
    {
        return Item<QPushButton>(IDC_BUTTON_START)->text() == QStringLiteral("停止") &&
               !Item<QWidget>(IDC_EDIT_CONTENT)->isEnabled() && !Item<QWidget>(IDC_BUTTON_CLEAR)->isEnabled() &&
               !Item<QWidget>(IDC_BUTTON_IMPORT)->isEnabled() && m_pDlg->IsRunning();
    }
    int EndBoxes() const
    {
        int n = 0;
        for (const CTestServices::Box& box : m_pServices->m_boxes) {
            if (box.strText == TovrikTexts::kSendEnded && box.strCaption == TovrikTexts::kNotice &&
                box.nIcon == Icon::kInformation)
                ++n;
        }
        return n;
    }
    void ExpectBox(size_t nIndex, const std::string& strText, const std::string& strCaption, Icon nIcon)
    {
        QVERIFY2(nIndex < m_pServices->m_boxes.size(), "box missing");
        const CTestServices::Box& box = m_pServices->m_boxes[nIndex];
        QCOMPARE(box.strText, strText);
        QCOMPARE(box.strCaption, strCaption);
        QCOMPARE(static_cast<int>(box.nIcon), static_cast<int>(nIcon));
    }
    // A box of fixed size whose title bar offers no minimise or maximise.
    static bool IsFixedBox(const QWidget* pBox)
    {
        return pBox->minimumSize() == pBox->maximumSize() && pBox->size() == pBox->minimumSize() &&
               !(pBox->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    }
    std::string TempFile(const char* pName) const { return (m_files.path() + "/" + pName).toStdString(); }
    std::string AppName() const { return m_pServices->AppName(); }
    // Stops the run and waits for its one end notice.
    void StopAndExpectEnd()
    {
        const int nEnds = EndBoxes();
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsIdle());
        QTRY_COMPARE(EndBoxes(), nEnds + 1);
    }

    QTemporaryDir m_config;
    QTemporaryDir m_files;
    CLNHanlder m_handler;
    std::unique_ptr<CTestServices> m_pServices;
    std::unique_ptr<CTovrikDlg> m_pDlg;

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid() && m_files.isValid());
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        std::signal(SIGPIPE, SIG_IGN);
        theUDPSocket.SetHandler(&m_handler);
        QCOMPARE(theUDPSocket.Create(0), 1);
    }

    void cleanupTestCase() { theUDPSocket.Close(); }

    void init()
    {
        std::remove(CTovrikDlg::SettingsPath().c_str());
        m_pServices = std::make_unique<CTestServices>();
    }

    void cleanup()
    {
        m_pDlg.reset();
        m_pServices.reset();
    }

    void initialWindow()
    {
        Open();
        QCOMPARE(Win()->windowTitle(), QStringLiteral("Velmar模拟定时发送工具"));
        QCOMPARE(Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET)->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(PortText(), QStringLiteral("51609"));
        QCOMPARE(Content().toStdString(), std::string(TovrikTexts::kStatusMessage));
        QCOMPARE(Content().toUtf8().size(), 904);
        QVERIFY(Item<QCheckBox>(IDC_CHECK_LOOP)->isChecked());
        QVERIFY(Item<QCheckBox>(IDC_CHECK_MODIFYTIME)->isChecked());
        QVERIFY(!Item<QCheckBox>(IDC_CHECK_HEXMODE)->isChecked());
        QCOMPARE(Item<QCheckBox>(IDC_CHECK_LOOP)->text(), QStringLiteral("是否循环发送"));
        QCOMPARE(Item<QCheckBox>(IDC_CHECK_MODIFYTIME)->text(), QStringLiteral("是否修改时间"));
        QCOMPARE(Item<QCheckBox>(IDC_CHECK_HEXMODE)->text(), QStringLiteral("是否为十六进制模式"));
        QCOMPARE(Item<QPushButton>(IDC_BUTTON_CLEAR)->text(), QStringLiteral("清除内容"));
        QCOMPARE(Item<QPushButton>(IDC_BUTTON_IMPORT)->text(), QStringLiteral("导入文件"));
        QVERIFY(Item<QPushButton>(IDC_BUTTON_START)->isDefault());
        QVERIFY(ShowsIdle());
        QVERIFY(!Win()->windowIcon().isNull());

        auto* pModes = Item<QComboBox>(IDC_COMBO_SENDTYPE);
        QCOMPARE(pModes->count(), 7);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(pModes->itemText(i), QString::fromUtf8(kModes[i]));
        QCOMPARE(pModes->currentIndex(), 0);

        const auto labels = Win()->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [](QLabel* p) { return p->text() == QStringLiteral("目标地址:"); }));
        QCOMPARE(Win()->findChild<QGroupBox*>()->title(), QStringLiteral("发送内容"));

        // Focus on the port box, then the tab order of the table.
        QCOMPARE(QApplication::focusWidget(), Item<QWidget>(IDC_EDIT_PORT));
        const int order[] = {IDC_EDIT_PORT, IDC_BUTTON_START, IDC_EDIT_CONTENT, IDC_BUTTON_CLEAR,
                             IDC_BUTTON_IMPORT, IDC_COMBO_SENDTYPE, IDC_IPADDRESS_TARGET, IDC_CHECK_LOOP,
                             IDC_CHECK_MODIFYTIME, IDC_CHECK_HEXMODE};
        for (size_t i = 0; i + 1 < std::size(order); ++i) {
            QWidget* pNext = Item<QWidget>(order[i])->nextInFocusChain();
            while (!(pNext->focusPolicy() & Qt::TabFocus))
                pNext = pNext->nextInFocusChain();
            QCOMPARE(pNext, Item<QWidget>(order[i + 1]));
        }
    }

    void controlsFitAndDoNotOverlap()
    {
        Open();
        QList<QWidget*> controls;
        for (QWidget* pChild : Win()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (pChild->isVisible() && !qobject_cast<QGroupBox*>(pChild))
                controls << pChild;
        }
        QCOMPARE(controls.size(), 11);
        // No control can be hidden by making the window smaller.
        const QSize dialogSize = Win()->MapDialogRect(0, 0, 320, 200).size();
        QCOMPARE(Win()->size(), dialogSize);
        Win()->resize(dialogSize / 2);
        QCOMPARE(Win()->size(), dialogSize);
        for (QWidget* pControl : controls) {
            QVERIFY2(Win()->rect().contains(pControl->geometry()), qPrintable(pControl->objectName()));
            // A caption needs its whole text to be legible.
            if (qobject_cast<QAbstractButton*>(pControl) || qobject_cast<QLabel*>(pControl)) {
                QVERIFY2(pControl->sizeHint().width() <= pControl->width(),
                         qPrintable(pControl->property("text").toString()));
                QVERIFY2(pControl->sizeHint().height() <= pControl->height() + 4,
                         qPrintable(pControl->property("text").toString()));
            }
            for (QWidget* pOther : controls) {
                if (pOther != pControl)
                    QVERIFY2(!pControl->geometry().intersects(pOther->geometry()),
                             qPrintable(pControl->property("text").toString() + " / " +
                                        pOther->property("text").toString()));
            }
        }
        // The frame surrounds the text box and stays behind it.
        const auto* pFrame = Win()->findChild<QGroupBox*>();
        QVERIFY(pFrame->geometry().contains(Item<QWidget>(IDC_EDIT_CONTENT)->geometry()));
        QVERIFY(Item<QWidget>(IDC_EDIT_CONTENT)
                    ->isAncestorOf(Win()->childAt(Item<QWidget>(IDC_EDIT_CONTENT)->geometry().center())));
    }

    void startStopAgainstLoopback()
    {
        LoopbackPeer receiver;
        Open();
        Target(receiver.Port(), 0);
        Click(IDC_BUTTON_START);
        ExpectBox(0, TovrikTexts::kPleaseWait, AppName(), Icon::kNone);
        ExpectBox(1, "解析完毕,一共解析 1 道下载命令.开始发送.", AppName(), Icon::kNone);
        QVERIFY(ShowsRunning());
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string(TovrikTexts::kDeviceInfo));
        QVERIFY(receiver.Receive(strDatagram));
        // The stamp step: the old time gone, the tick's local time last.
        QVERIFY(strDatagram.find("2020-07-18 15:22:59") == std::string::npos);
        QVERIFY(QString::fromStdString(strDatagram)
                    .contains(QRegularExpression(
                        QStringLiteral("^\\{\"cmd\":\"push_msg\",\"IMEI\":\"1234567890\",\"packnum\".*"
                                       ",\"time\":\"\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\"\\}$"))));
        StopAndExpectEnd();
        QCOMPARE(m_pServices->m_boxes.size(), size_t(3));
        // Stopped means stopped: nothing more leaves.
        receiver.Collect(50);
        QVERIFY(receiver.Collect(300).empty());
        QCOMPARE(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), std::string("<missing>"));
    }

    void exchangeReadsWholeValues()
    {
        Open();
        Click(IDC_BUTTON_CLEAR);
        auto* pAddress = Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET);
        // Only what makes a dotted quad can be typed.
        pAddress->clear();
        QTest::keyClicks(pAddress, QStringLiteral("10.x0.300.2.5.6"));
        QCOMPARE(pAddress->text(), QStringLiteral("10.0.30.25"));
        pAddress->setText(QStringLiteral("127.000..1"));
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(QStringLiteral("00080"));
        // The start reads the controls in, then refuses the empty text.
        Click(IDC_BUTTON_START);
        QCOMPARE(m_pServices->Texts(), std::vector<std::string>{TovrikTexts::kEmptyData});
        Click(IDC_BUTTON_CLEAR);
        QCOMPARE(pAddress->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(PortText(), QStringLiteral("80"));
    }

    void enterInTextBoxPressesStart()
    {
        Open();
        Click(IDC_BUTTON_CLEAR);
        auto* pContent = Item<QPlainTextEdit>(IDC_EDIT_CONTENT);
        pContent->setFocus();
        QTest::keyClick(pContent, Qt::Key_Return);
        QCOMPARE(m_pServices->Texts(), std::vector<std::string>{TovrikTexts::kEmptyData});
        QCOMPARE(Content(), QString());
        QTest::keyClick(pContent, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(Content(), QStringLiteral("\n"));
        QCOMPARE(m_pServices->m_boxes.size(), size_t(1));
    }

    void aboutBoxFromTheWindowMenu()
    {
        Open();
        auto* pMenu = Win()->findChild<QMenu*>();
        QVERIFY(pMenu != nullptr);
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), QStringLiteral("关于 Tovrik(&A)..."));
        QString strTitle;
        QStringList texts;
        bool bFixed = false;
        QTimer::singleShot(0, this, [&] {
            auto* pAbout = qobject_cast<CQtDialogWindow*>(QApplication::activeModalWidget());
            if (pAbout == nullptr)
                return;
            strTitle = pAbout->windowTitle();
            bFixed = IsFixedBox(pAbout);
            for (QLabel* pLabel : pAbout->findChildren<QLabel*>())
                texts << pLabel->text();
            auto* pOk = pAbout->findChild<QPushButton*>();
            texts << pOk->text();
            pOk->click();
        });
        actions[1]->trigger();
        QCOMPARE(strTitle, QStringLiteral("关于 Tovrik"));
        QVERIFY(texts.contains(QStringLiteral("Tovrik，1.0 版")));
        QVERIFY(texts.contains(QStringLiteral("确定")));
        QVERIFY(bFixed);
    }

    // A paste reaches the load whole: the text box has no length limit.
    void pastedTextIsKeptWhole()
    {
        LoopbackPeer receiver;
        Open();
        auto* pContent = Item<QPlainTextEdit>(IDC_EDIT_CONTENT);
        const auto paste = [pContent](const std::string& strText) {
            QApplication::clipboard()->setText(QString::fromStdString(strText));
            pContent->selectAll();
            pContent->paste();
        };
        paste(std::string(50001, '7'));
        QCOMPARE(Content().size(), 50001);
        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(true);
        Click(IDC_BUTTON_START);
        ExpectBox(1, TovrikTexts::kHexTooLong, AppName(), Icon::kNone);

        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(false);
        std::string strMessages = TovrikTexts::kStatusMessage;
        for (int i = 1; i < 40; ++i)
            strMessages += std::string("\n") + TovrikTexts::kStatusMessage;
        paste(strMessages);
        Target(receiver.Port(), 0);
        Click(IDC_BUTTON_START);
        ExpectBox(3, "解析完毕,一共解析 40 道下载命令.开始发送.", AppName(), Icon::kNone);
        StopAndExpectEnd();
    }

    void sendTypeListShowsWholeEntries()
    {
        Open();
        auto* pModes = Item<QComboBox>(IDC_COMBO_SENDTYPE);
        QCOMPARE(pModes->width(), Win()->MapDialogRect(188, 14, 63, 14).width());
        pModes->showPopup();
        QAbstractItemView* pList = pModes->view();
        QTRY_VERIFY(pList->isVisible());
        for (int i = 0; i < pModes->count(); ++i) {
            const QModelIndex index = pModes->model()->index(i, 0);
            QVERIFY2(pList->visualRect(index).width() >= pList->sizeHintForIndex(index).width(),
                     qPrintable(pModes->itemText(i)));
        }
        pModes->hidePopup();
        QCOMPARE(pModes->width(), Win()->MapDialogRect(188, 14, 63, 14).width());
    }

    void messageBoxIsFixedAndShowsItsCaption()
    {
        Open();
        bool bFixed = false;
        int nWidth = 0;
        QString strTitle;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (pBox == nullptr || !pBox->isVisible())
                return;
            bFixed = IsFixedBox(pBox);
            nWidth = pBox->width();
            strTitle = pBox->windowTitle();
            pBox->buttons().constFirst()->click();
        });
        watch.start(10);
        // The real box, with the application's name as its caption.
        m_pServices->CQtFrameworkServices::WindowMessageBox(Win(), TovrikTexts::kNotHex, std::string(), Icon::kNone);
        QCOMPARE(strTitle.toStdString(), AppName());
        QVERIFY(bFixed);
        // Room for the caption beside the title bar's icon and three buttons.
        QFont titleFont = Win()->font();
        titleFont.setBold(true);
        const QFontMetrics title(titleFont);
        QVERIFY2(nWidth >= title.horizontalAdvance(strTitle) + 4 * title.height(), qPrintable(QString::number(nWidth)));
    }

    void fileDialogStoresNothing()
    {
        const std::string strFile = TempFile("chosen.txt");
        TempDir::WriteFile(strFile, "{\"IMEI\":\"1\"}");
        Open();
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* pDialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (pDialog == nullptr || !pDialog->isVisible())
                return;
            // Typed in as the operator would.
            auto* pName = pDialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (pName != nullptr)
                pName->setText(QString::fromStdString(strFile));
            QMetaObject::invokeMethod(pDialog, pName != nullptr ? "accept" : "reject");
        });
        watch.start(10);
        std::string strPath;
        QVERIFY(m_pServices->CQtFrameworkServices::FileOpenDialog(Win(), ".txt", "文件(*.txt)|*.txt||", strPath));
        QCOMPARE(strPath, strFile);
        QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void progressSizes()
    {
        QCOMPARE(CLoadTask::SizeText(0), std::string("0 字节"));
        QCOMPARE(CLoadTask::SizeText(1023), std::string("1023 字节"));
        QCOMPARE(CLoadTask::SizeText(1024), std::string("1.0 KB"));
        QCOMPARE(CLoadTask::SizeText(1048575), std::string("1.0 MB"));
        QCOMPARE(CLoadTask::SizeText(12897485), std::string("12.3 MB"));
        QCOMPARE(CLoadTask::SizeText(int64_t(5) << 30), std::string("5.0 GB"));
    }

    void slowImportShowsProgressAndCanBeCancelled()
    {
        // A FIFO stands in for a slow file: it gives what the test writes.
        const std::string strFifo = TempFile("slow.txt");
        std::remove(strFifo.c_str());
        QCOMPARE(mkfifo(strFifo.c_str(), 0600), 0);
        std::promise<void> cancelled;
        std::thread writer([&strFifo, future = cancelled.get_future()] {
            const int fd = open(strFifo.c_str(), O_WRONLY);
            const std::string strChunk = std::string(60000, ' ') + "{\"IMEI\":\"1\"}";
            [[maybe_unused]] ssize_t n = write(fd, strChunk.data(), strChunk.size());
            future.wait();
            n = write(fd, strChunk.data(), 16);
            close(fd);
        });
        m_pServices->m_strFileAnswer = strFifo;
        Open();
        m_pDlg->SetProgressDelay(0);
        QString strLabel;
        bool bCancelled = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* pProgress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (bCancelled || pProgress == nullptr || pProgress->value() <= 0)
                return;
            strLabel = pProgress->labelText();
            bCancelled = true;
            auto* pCancel = pProgress->findChild<QPushButton*>();
            QCOMPARE(pCancel->text(), QStringLiteral("取消"));
            pCancel->click();
            cancelled.set_value();
        });
        watch.start(10);
        Click(IDC_BUTTON_IMPORT);
        watch.stop();
        writer.join();
        QVERIFY(bCancelled);
        QVERIFY2(strLabel.contains(QStringLiteral("已处理")), qPrintable(strLabel));
        QVERIFY2(strLabel.contains(QRegularExpression(QStringLiteral("已处理 [0-9.]+ (字节|KB|MB)( / [0-9.]+ (字节|KB|MB))?$"))),
                 qPrintable(strLabel));
        // The wait message came first; the count message never did.
        QCOMPARE(m_pServices->Texts(), std::vector<std::string>{TovrikTexts::kPleaseWait});
        QVERIFY(ShowsIdle());
        QCOMPARE(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), std::string("<missing>"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void slowImportCompletesWithProgress()
    {
        LoopbackPeer receiver;
        const std::string strFifo = TempFile("slow-ok.txt");
        std::remove(strFifo.c_str());
        QCOMPARE(mkfifo(strFifo.c_str(), 0600), 0);
        std::promise<void> seen;
        std::thread writer([&strFifo, future = seen.get_future()] {
            const int fd = open(strFifo.c_str(), O_WRONLY);
            const std::string strMessages = "{\"IMEI\":\"1\"}{\"IMEI\":\"2\"}{\"no\":\"imei\"}";
            [[maybe_unused]] ssize_t n = write(fd, strMessages.data(), strMessages.size());
            future.wait();
            close(fd);
        });
        m_pServices->m_strFileAnswer = strFifo;
        Open();
        Target(receiver.Port(), 4);
        m_pDlg->SetProgressDelay(0);
        bool bSeen = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* pProgress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget());
            if (bSeen || pProgress == nullptr || !pProgress->isVisible())
                return;
            bSeen = true;
            seen.set_value();
        });
        watch.start(10);
        Click(IDC_BUTTON_IMPORT);
        watch.stop();
        writer.join();
        QVERIFY(bSeen);
        QCOMPARE(m_pServices->Texts(),
                 (std::vector<std::string>{TovrikTexts::kPleaseWait, CLoadResult::CountMessage(2)}));
        QCOMPARE(TempDir::ReadOrMissing(CTovrikDlg::SettingsPath()), std::string("[INFO]\nsendtype=4\n"));
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string(TovrikTexts::kDeviceInfo));
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string("{\"IMEI\":\"1\",\"make_up\":1}"));
        QTRY_VERIFY(ShowsIdle());
        QCOMPARE(EndBoxes(), 1);
    }
};

QTEST_MAIN(CQtTovrikDlgTest)
#include "CQtTovrikDlgTest.moc"
