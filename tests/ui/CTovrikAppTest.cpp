// Start-up: the socket layer's failure box, the endpoint opened before the
// window runs, and the window run modally until closed.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "CTestServices.h"
#include "app/CTovrikApp.h"
#include "net/CUDPSocket.h"
#include "send/TovrikTexts.h"
#include "ui/CTovrikDlg.h"

CUDPSocket theUDPSocket;

class CTovrikAppTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_config;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }

    void socketLayerFailure()
    {
        CTestServices services;
        services.m_bSocketInit = false;
        CTovrikApp app;
        QVERIFY(!app.InitInstance(services));
        QVERIFY(!app.WindowRan());
        QCOMPARE(services.m_boxes.size(), size_t(1));
        QCOMPARE(services.m_boxes[0].strText, std::string(TovrikTexts::kSocketInitFailed));
        QCOMPARE(services.m_boxes[0].strCaption, CFrameworkServices::AppName());
        QVERIFY(services.m_boxes[0].bApplication);
        QCOMPARE(theUDPSocket.Handle(), -1);
        QVERIFY(theUDPSocket.Handler() == nullptr);
    }

    void runsTheWindowOnAnOpenEndpoint()
    {
        CTestServices services;
        CTovrikApp app;
        QString strTitle;
        uint16_t nLocalPort = 0;
        bool bHandler = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            auto* pDlg = qobject_cast<CTovrikDlg*>(QApplication::activeModalWidget());
            if (pDlg == nullptr || !pDlg->isVisible())
                return;
            strTitle = pDlg->windowTitle();
            nLocalPort = theUDPSocket.LocalPort();
            bHandler = theUDPSocket.Handler() != nullptr;
            pDlg->close();
        });
        watch.start(10);
        QVERIFY(!app.InitInstance(services));
        QVERIFY(app.WindowRan());
        QCOMPARE(strTitle, QStringLiteral("Velmar模拟定时发送工具"));
        QVERIFY(nLocalPort != 0);
        QVERIFY(bHandler);
        QVERIFY(services.m_boxes.empty());
        theUDPSocket.Close();
        theUDPSocket.SetHandler(nullptr);
    }
};

QTEST_MAIN(CTovrikAppTest)
#include "CTovrikAppTest.moc"
