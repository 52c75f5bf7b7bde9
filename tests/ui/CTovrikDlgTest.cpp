// Drives the real main window on the offscreen platform: boxes are answered
// and recorded by CTestServices, datagrams go to a loopback receiver.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
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
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <thread>

#include "CLoopbackReceiver.h"
#include "CTestServices.h"
#include "app/CIpAddressCtrl.h"
#include "app/Resource.h"
#include "net/CLNHanlder.h"
#include "net/CUDPSocket.h"
#include "load/CLoadResult.h"
#include "send/TovrikTexts.h"
#include "ui/CAboutDlg.h"
#include "ui/CLoadProgress.h"
#include "ui/CTovrikDlg.h"

CUDPSocket theUDPSocket;

namespace {

using Icon = CFrameworkServices::Icon;

const char kModes[][32] = {"每秒发送一次", "每十秒发送一次", "每分钟发送一次", "每小时发送一次",
                           "每100毫秒发送一次", "模拟实际发送", "每10毫秒发送一次"};

std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    if (!file)
        return "<missing>";
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string& strPath, const std::string& strContent)
{
    std::ofstream(strPath, std::ios::binary) << strContent;
}

}  // namespace

class CTovrikDlgTest : public QObject {
    Q_OBJECT

private:
    template <class T>
    T* Item(int nId) const
    {
        return static_cast<T*>(m_pDlg->GetDlgItem(nId));
    }

    void Open()
    {
        m_pDlg = std::make_unique<CTovrikDlg>(*m_pServices);
        m_pDlg->Create();
        m_pDlg->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pDlg.get()));
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
    std::string AppName() const { return CFrameworkServices::AppName(); }
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
        QCOMPARE(m_pDlg->windowTitle(), QStringLiteral("Velmar模拟定时发送工具"));
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
        QVERIFY(!m_pDlg->windowIcon().isNull());

        auto* pModes = Item<QComboBox>(IDC_COMBO_SENDTYPE);
        QCOMPARE(pModes->count(), 7);
        for (int i = 0; i < 7; ++i)
            QCOMPARE(pModes->itemText(i), QString::fromUtf8(kModes[i]));
        QCOMPARE(pModes->currentIndex(), 0);

        const auto labels = m_pDlg->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(),
                            [](QLabel* p) { return p->text() == QStringLiteral("目标地址:"); }));
        QCOMPARE(m_pDlg->findChild<QGroupBox*>()->title(), QStringLiteral("发送内容"));

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
        for (QWidget* pChild : m_pDlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (pChild->isVisible() && !qobject_cast<QGroupBox*>(pChild))
                controls << pChild;
        }
        QCOMPARE(controls.size(), 11);
        // No control can be hidden by making the window smaller.
        const QSize dialogSize = m_pDlg->MapDialogRect(0, 0, 320, 200).size();
        QCOMPARE(m_pDlg->size(), dialogSize);
        m_pDlg->resize(dialogSize / 2);
        QCOMPARE(m_pDlg->size(), dialogSize);
        for (QWidget* pControl : controls) {
            QVERIFY2(m_pDlg->rect().contains(pControl->geometry()), qPrintable(pControl->objectName()));
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
        const auto* pFrame = m_pDlg->findChild<QGroupBox*>();
        QVERIFY(pFrame->geometry().contains(Item<QWidget>(IDC_EDIT_CONTENT)->geometry()));
        QVERIFY(Item<QWidget>(IDC_EDIT_CONTENT)
                    ->isAncestorOf(m_pDlg->childAt(Item<QWidget>(IDC_EDIT_CONTENT)->geometry().center())));
    }

    void storedSendType_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<int>("index");
        QTest::newRow("no file") << QString() << 0;
        QTest::newRow("replay") << "[INFO]\nsendtype=5\n" << 5;
        QTest::newRow("out of range") << "[INFO]\nsendtype=9\n" << -1;
        QTest::newRow("none selected at import") << "[INFO]\nsendtype=-1\n" << -1;
        QTest::newRow("other case, CRLF") << "[other]\r\nsendtype=4\r\n[info]\r\nSendType = 2\r\n" << 2;
        QTest::newRow("key missing") << "[INFO]\nother=3\n" << 0;
    }

    void storedSendType()
    {
        QFETCH(QString, content);
        QFETCH(int, index);
        if (!content.isNull())
            WriteFile(CTovrikDlg::SettingsPath(), content.toStdString());
        Open();
        QCOMPARE(Item<QComboBox>(IDC_COMBO_SENDTYPE)->currentIndex(), index);
        QVERIFY(m_pServices->m_boxes.empty());
    }

    void emptyText()
    {
        Open();
        Click(IDC_BUTTON_CLEAR);
        QCOMPARE(Content(), QString());
        Click(IDC_BUTTON_START);
        QCOMPARE(m_pServices->m_boxes.size(), size_t(1));
        ExpectBox(0, TovrikTexts::kEmptyData, TovrikTexts::kNotice, Icon::kExclamation);
        QVERIFY(ShowsIdle());
    }

    void textRejectedOrEmpty_data()
    {
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("appCaption");
        QTest::addColumn<QString>("left");
        QTest::newRow("hex with a tab") << true << "7b\t7d" << TovrikTexts::kNotHex << true << QString();
        QTest::newRow("hex with a comma") << true << "7b,22" << TovrikTexts::kNotHex << true << QString();
        QTest::newRow("hex 50001 bytes") << true << QString(50001, QLatin1Char('0')) << TovrikTexts::kHexTooLong
                                         << true << QString();
        QTest::newRow("hex 50000 bytes, no braces")
            << true << QString(50000, QLatin1Char('0')) << TovrikTexts::kNoPackets << false
            << QString(50000, QLatin1Char('0'));
        QTest::newRow("hex odd digit dropped") << true << "7B7D7" << TovrikTexts::kNoPackets << false << "7B7D";
        QTest::newRow("hex white space only") << true << " \r\n " << TovrikTexts::kNoPackets << false << QString();
        QTest::newRow("text without packets") << false << "hello {abc" << TovrikTexts::kNoPackets << false
                                              << "hello {abc";
        QTest::newRow("text cut at a nested object")
            << false << "{\"a\":{\"b\":1}}" << TovrikTexts::kNoPackets << false << "{\"a\":{\"b\":1}}";
    }

    void textRejectedOrEmpty()
    {
        QFETCH(bool, hex);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(bool, appCaption);
        QFETCH(QString, left);
        Open();
        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(hex);
        SetContent(text);
        Click(IDC_BUTTON_START);
        QCOMPARE(m_pServices->m_boxes.size(), size_t(2));
        ExpectBox(0, TovrikTexts::kPleaseWait, AppName(), Icon::kNone);
        QVERIFY(m_pServices->m_boxes[0].bApplication);
        if (appCaption)
            ExpectBox(1, message.toStdString(), AppName(), Icon::kNone);
        else
            ExpectBox(1, message.toStdString(), TovrikTexts::kNotice, Icon::kExclamation);
        QCOMPARE(Content(), left);
        QVERIFY(ShowsIdle());
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("<missing>"));
    }

    void hexStartsAndStops()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 4);
        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(true);
        SetContent(QStringLiteral("7b 22 61\r\n22 3a 31\n7d"));
        Click(IDC_BUTTON_START);
        QCOMPARE(Content(), QStringLiteral("7b2261223a317d"));
        QCOMPARE(m_pServices->Texts(),
                 (std::vector<std::string>{TovrikTexts::kPleaseWait, CLoadResult::CountMessage(1)}));
        ExpectBox(1, CLoadResult::CountMessage(1), AppName(), Icon::kNone);
        QVERIFY(ShowsRunning());
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string(TovrikTexts::kDeviceInfo));
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string("{\"a\":1,\"make_up\":1}"));
        // One packet in a fast mode: the run ends by itself.
        QTRY_VERIFY(ShowsIdle());
        QCOMPARE(EndBoxes(), 1);
        QCOMPARE(m_pServices->m_boxes.size(), size_t(3));
        QTest::qWait(150);
        QCOMPARE(EndBoxes(), 1);
    }

    void startStopAgainstLoopback()
    {
        CLoopbackReceiver receiver;
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
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("<missing>"));
    }

    void runEndsByItself()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 6);
        SetContent(QStringLiteral("{\"a\":1}{\"b\":2}"));
        Click(IDC_BUTTON_START);
        ExpectBox(1, CLoadResult::CountMessage(2), AppName(), Icon::kNone);
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string("{\"a\":1,\"make_up\":1}"));
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string("{\"b\":2,\"make_up\":1}"));
        QTRY_VERIFY(ShowsIdle());
        QCOMPARE(EndBoxes(), 1);
        // The window takes a new run afterwards.
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        QTRY_VERIFY(ShowsIdle());
        QCOMPARE(EndBoxes(), 2);
    }

    void editsUndoneAtNextTick()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 0);
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(QStringLiteral("1"));
        Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET)->setText(QStringLiteral("10.1.2.3"));
        Item<QCheckBox>(IDC_CHECK_LOOP)->setChecked(false);
        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(true);
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(3);
        QTRY_COMPARE(PortText(), QString::number(receiver.Port()));
        QCOMPARE(Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET)->text(), QStringLiteral("127.0.0.1"));
        QVERIFY(Item<QCheckBox>(IDC_CHECK_LOOP)->isChecked());
        QVERIFY(!Item<QCheckBox>(IDC_CHECK_HEXMODE)->isChecked());
        // The selector is not exchanged: the change stays on screen.
        QCOMPARE(Item<QComboBox>(IDC_COMBO_SENDTYPE)->currentIndex(), 3);
        StopAndExpectEnd();
    }

    void clearPutsBackUnsavedEdits()
    {
        Open();
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(2);
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(QStringLiteral("123"));
        Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET)->setText(QStringLiteral("192.168.1"));
        Item<QCheckBox>(IDC_CHECK_MODIFYTIME)->setChecked(false);
        Item<QCheckBox>(IDC_CHECK_HEXMODE)->setChecked(true);
        Click(IDC_BUTTON_CLEAR);
        QCOMPARE(Content(), QString());
        QCOMPARE(PortText(), QStringLiteral("51609"));
        QCOMPARE(Item<CIpAddressCtrl>(IDC_IPADDRESS_TARGET)->text(), QStringLiteral("127.0.0.1"));
        QVERIFY(Item<QCheckBox>(IDC_CHECK_MODIFYTIME)->isChecked());
        QVERIFY(!Item<QCheckBox>(IDC_CHECK_HEXMODE)->isChecked());
        QCOMPARE(Item<QComboBox>(IDC_COMBO_SENDTYPE)->currentIndex(), 2);
        QVERIFY(m_pServices->m_boxes.empty());
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

    void portRefused_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("message");
        QTest::newRow("above 65535") << "70000" << "请输入一个介于 0 和 65535 之间的整数。";
        QTest::newRow("far above") << "99999999999999999999" << "请输入一个整数。";
        QTest::newRow("empty") << "" << "请输入一个整数。";
    }

    void portRefused()
    {
        QFETCH(QString, port);
        QFETCH(QString, message);
        CLoopbackReceiver receiver;
        Open();
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(port);
        Click(IDC_BUTTON_START);
        QCOMPARE(m_pServices->m_boxes.size(), size_t(1));
        ExpectBox(0, message.toStdString(), AppName(), Icon::kExclamation);
        QVERIFY(ShowsIdle());
        QCOMPARE(PortText(), port);
        QCOMPARE(QApplication::focusWidget(), Item<QWidget>(IDC_EDIT_PORT));

        // The import refuses it before a file is chosen.
        m_pServices->m_strFileAnswer = TempFile("never-read.txt");
        Click(IDC_BUTTON_IMPORT);
        QCOMPARE(m_pServices->m_boxes.size(), size_t(2));
        ExpectBox(1, message.toStdString(), AppName(), Icon::kExclamation);
        QVERIFY(m_pServices->m_strLastFilter.empty());
        QVERIFY(ShowsIdle());

        // 65535 itself is a port.
        Item<QLineEdit>(IDC_EDIT_PORT)->setText(QStringLiteral("65535"));
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(-1);
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        StopAndExpectEnd();
    }

    void importStartsAndStoresMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("every minute") << 2;
        QTest::newRow("replay") << 5;
        QTest::newRow("nothing selected") << -1;
    }

    void importStartsAndStoresMode()
    {
        QFETCH(int, mode);
        const std::string strFile = TempFile("messages.txt");
        WriteFile(strFile,
                  "{\"cmd\":\"push_msg\",\"IMEI\":\"1\",\"time\":\"2020-07-18 15:22:59\"}\n"
                  "{\"cmd\":\"push_msg\",\"time\":\"2020-07-18 15:23:00\"}\n"
                  "{\"cmd\":\"push_msg\",\"IMEI\":\"2\",\"time\":\"2020-07-18 15:22\"}\n");
        WriteFile(CTovrikDlg::SettingsPath(), "; kept\n[other]\nkey=1\n");
        m_pServices->m_strFileAnswer = strFile;
        Open();
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(mode);
        Click(IDC_BUTTON_IMPORT);
        QCOMPARE(m_pServices->m_strLastFilter, std::string("文件(*.txt)|*.txt||"));
        QCOMPARE(m_pServices->m_strLastDefaultExt, std::string(".txt"));
        QCOMPARE(m_pServices->m_boxes.size(), size_t(2));
        ExpectBox(0, TovrikTexts::kPleaseWait, AppName(), Icon::kNone);
        ExpectBox(1, "解析完毕,一共解析 2 道下载命令.开始发送.", AppName(), Icon::kNone);
        QVERIFY(ShowsRunning());
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()),
                 "; kept\n[other]\nkey=1\n\n[INFO]\nsendtype=" + std::to_string(mode) + "\n");
        StopAndExpectEnd();
    }

    void importFailures_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("message");
        QTest::newRow("no message with IMEI") << "no-imei.txt" << TovrikTexts::kNoPackets;
        QTest::newRow("cannot be opened") << "missing.txt" << QString();
        QTest::newRow("dialog cancelled") << QString() << QString();
        QTest::newRow("too large") << "huge.txt" << "数据过大, 无法解析.";
    }

    void importFailures()
    {
        QFETCH(QString, file);
        QFETCH(QString, message);
        WriteFile(TempFile("no-imei.txt"), "{\"cmd\":\"a\"}{\"cmd\":\"b\",\"imei\":\"1\"}not json{x}");
        // A sparse file beyond the 32-bit lengths costs no disk.
        const std::string strHuge = TempFile("huge.txt");
        WriteFile(strHuge, "");
        QCOMPARE(truncate(strHuge.c_str(), 3LL << 30), 0);
        if (!file.isNull())
            m_pServices->m_strFileAnswer = TempFile(file.toUtf8().constData());
        Open();
        Item<QComboBox>(IDC_COMBO_SENDTYPE)->setCurrentIndex(5);
        Click(IDC_BUTTON_IMPORT);
        std::vector<std::string> expected;
        if (!file.isNull())
            expected.push_back(TovrikTexts::kPleaseWait);
        if (!message.isEmpty()) {
            QVERIFY(m_pServices->m_boxes.size() == 2);
            QVERIFY(QString::fromStdString(m_pServices->m_boxes[1].strText).startsWith(message));
            QCOMPARE(m_pServices->m_boxes[1].strCaption, std::string(TovrikTexts::kNotice));
            QCOMPARE(static_cast<int>(m_pServices->m_boxes[1].nIcon), static_cast<int>(Icon::kExclamation));
        } else {
            QCOMPARE(m_pServices->Texts(), expected);
        }
        QVERIFY(ShowsIdle());
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("<missing>"));
    }

    void startFromTextLeavesSettings()
    {
        CLoopbackReceiver receiver;
        WriteFile(CTovrikDlg::SettingsPath(), "[INFO]\r\nsendtype=3\r\n");
        Open();
        Target(receiver.Port(), 1);
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        StopAndExpectEnd();
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("[INFO]\r\nsendtype=3\r\n"));
    }

    void closingDuringRunStopsTheWorker()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 4);
        SetContent(QStringLiteral("{\"a\":1}").repeated(500));
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QVERIFY(m_pDlg->close());
        QVERIFY(!m_pDlg->IsRunning());
        QVERIFY(!m_pDlg->isVisible());
        receiver.Collect(50);
        QVERIFY(receiver.Collect(300).empty());
        // The run ended with the window: no notice pops up over nothing.
        QTest::qWait(100);
        QCOMPARE(EndBoxes(), 0);
    }

    void destroyingDuringRunStopsTheWorker()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 6);
        SetContent(QStringLiteral("{\"a\":1}").repeated(1000));
        Click(IDC_BUTTON_START);
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        m_pDlg.reset();
        receiver.Collect(50);
        QVERIFY(receiver.Collect(300).empty());
        QTest::qWait(50);
    }

    void lateEndNoticeOfAnEarlierRun()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 0);
        m_pDlg->OnStartStop();
        QVERIFY(ShowsRunning());
        // Stop and start again before the first run's end notice is handled.
        m_pDlg->OnStartStop();
        m_pDlg->OnStartStop();
        QVERIFY(ShowsRunning());
        QTRY_COMPARE(EndBoxes(), 1);
        QVERIFY(ShowsRunning());
        QTest::qWait(250);
        QVERIFY(ShowsRunning());
        StopAndExpectEnd();
        QCOMPARE(EndBoxes(), 2);
    }

    void threadCannotBeCreated()
    {
        CLoopbackReceiver receiver;
        Open();
        Target(receiver.Port(), 0);
        m_pServices->m_bFailThreads = true;
        Click(IDC_BUTTON_START);
        // The load itself runs on the window's thread then.
        QCOMPARE(m_pServices->m_boxes.size(), size_t(3));
        ExpectBox(1, CLoadResult::CountMessage(1), AppName(), Icon::kNone);
        QVERIFY(QString::fromStdString(m_pServices->m_boxes[2].strText).startsWith(QStringLiteral("无法创建发送线程")));
        QCOMPARE(m_pServices->m_boxes[2].strCaption, std::string(TovrikTexts::kNotice));
        QCOMPARE(static_cast<int>(m_pServices->m_boxes[2].nIcon), static_cast<int>(Icon::kExclamation));
        QVERIFY(ShowsIdle());
        QVERIFY(receiver.Collect(200).empty());
        // Once threads can be had again, the window works.
        m_pServices->m_bFailThreads = false;
        Click(IDC_BUTTON_START);
        QVERIFY(ShowsRunning());
        StopAndExpectEnd();
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
        auto* pMenu = m_pDlg->findChild<QMenu*>();
        QVERIFY(pMenu != nullptr);
        const QList<QAction*> actions = pMenu->actions();
        QCOMPARE(actions.size(), 2);
        QVERIFY(actions[0]->isSeparator());
        QCOMPARE(actions[1]->text(), QStringLiteral("关于 Tovrik(&A)..."));
        QString strTitle;
        QStringList texts;
        bool bFixed = false;
        QTimer::singleShot(0, this, [&] {
            auto* pAbout = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
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

    void sendTypeListShowsWholeEntries()
    {
        Open();
        auto* pModes = Item<QComboBox>(IDC_COMBO_SENDTYPE);
        QCOMPARE(pModes->width(), m_pDlg->MapDialogRect(188, 14, 63, 14).width());
        pModes->showPopup();
        QAbstractItemView* pList = pModes->view();
        QTRY_VERIFY(pList->isVisible());
        for (int i = 0; i < pModes->count(); ++i) {
            const QModelIndex index = pModes->model()->index(i, 0);
            QVERIFY2(pList->visualRect(index).width() >= pList->sizeHintForIndex(index).width(),
                     qPrintable(pModes->itemText(i)));
        }
        pModes->hidePopup();
        QCOMPARE(pModes->width(), m_pDlg->MapDialogRect(188, 14, 63, 14).width());
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
        m_pServices->CFrameworkServices::MessageBox(m_pDlg.get(), TovrikTexts::kNotHex, std::string(), Icon::kNone);
        QCOMPARE(strTitle.toStdString(), AppName());
        QVERIFY(bFixed);
        // Room for the caption beside the title bar's icon and three buttons.
        QFont titleFont = m_pDlg->font();
        titleFont.setBold(true);
        const QFontMetrics title(titleFont);
        QVERIFY2(nWidth >= title.horizontalAdvance(strTitle) + 4 * title.height(), qPrintable(QString::number(nWidth)));
    }

    void fileDialogStoresNothing()
    {
        const std::string strFile = TempFile("chosen.txt");
        WriteFile(strFile, "{\"IMEI\":\"1\"}");
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
        QVERIFY(m_pServices->CFrameworkServices::FileOpenDialog(m_pDlg.get(), ".txt", "文件(*.txt)|*.txt||", strPath));
        QCOMPARE(strPath, strFile);
        QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void progressSizes()
    {
        QCOMPARE(CLoadProgress::SizeText(0), std::string("0 字节"));
        QCOMPARE(CLoadProgress::SizeText(1023), std::string("1023 字节"));
        QCOMPARE(CLoadProgress::SizeText(1024), std::string("1.0 KB"));
        QCOMPARE(CLoadProgress::SizeText(1048575), std::string("1.0 MB"));
        QCOMPARE(CLoadProgress::SizeText(12897485), std::string("12.3 MB"));
        QCOMPARE(CLoadProgress::SizeText(int64_t(5) << 30), std::string("5.0 GB"));
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
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("<missing>"));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

    void slowImportCompletesWithProgress()
    {
        CLoopbackReceiver receiver;
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
        QCOMPARE(ReadFile(CTovrikDlg::SettingsPath()), std::string("[INFO]\nsendtype=4\n"));
        std::string strDatagram;
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string(TovrikTexts::kDeviceInfo));
        QVERIFY(receiver.Receive(strDatagram));
        QCOMPARE(strDatagram, std::string("{\"IMEI\":\"1\",\"make_up\":1}"));
        QTRY_VERIFY(ShowsIdle());
        QCOMPARE(EndBoxes(), 1);
    }
};

QTEST_MAIN(CTovrikDlgTest)
#include "CTovrikDlgTest.moc"
