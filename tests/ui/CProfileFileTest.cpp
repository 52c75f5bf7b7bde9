// The settings file: reading and writing INI text as the profile functions do.
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "app/CProfileFile.h"

namespace {

std::string ReadFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace

class CProfileFileTest : public QObject {
    Q_OBJECT

private:
    std::string Path(const char* pName) const { return (m_dir.path() + "/" + pName).toStdString(); }
    QTemporaryDir m_dir;

private slots:
    void readsIntegers_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << QByteArray("[INFO]\nsendtype=5\n") << 5;
        QTest::newRow("spaces, CRLF, case") << QByteArray("[ info ]\r\n  SENDTYPE =  6 \r\n") << 6;
        QTest::newRow("negative") << QByteArray("[INFO]\nsendtype=-1\n") << -1;
        QTest::newRow("leading digits") << QByteArray("[INFO]\nsendtype=12abc\n") << 12;
        QTest::newRow("no digits") << QByteArray("[INFO]\nsendtype=abc\n") << 0;
        QTest::newRow("quoted") << QByteArray("[INFO]\nsendtype=\"3\"\n") << 3;
        QTest::newRow("empty value") << QByteArray("[INFO]\nsendtype=\n") << 77;
        QTest::newRow("other section") << QByteArray("[OTHER]\nsendtype=4\n") << 77;
        QTest::newRow("comment") << QByteArray("[INFO]\n;sendtype=4\n") << 77;
        QTest::newRow("first of two") << QByteArray("[INFO]\nsendtype=1\nsendtype=2\n") << 1;
        QTest::newRow("section later") << QByteArray("[A]\nx=1\n[INFO]\nsendtype=2\n") << 2;
        QTest::newRow("huge") << QByteArray("[INFO]\nsendtype=99999999999999\n") << INT_MAX;
    }

    void readsIntegers()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, value);
        const std::string strPath = Path("read.ini");
        std::ofstream(strPath, std::ios::binary) << content.toStdString();
        QCOMPARE(CProfileFile::GetInt("INFO", "sendtype", 77, strPath), value);
    }

    void missingFileGivesDefault() { QCOMPARE(CProfileFile::GetInt("INFO", "sendtype", 0, Path("none.ini")), 0); }

    void writesKeepingTheRest_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file") << QByteArray() << QByteArray("[INFO]\nsendtype=3\n");
        QTest::newRow("replaces") << QByteArray("[INFO]\nsendtype=1\nother=x\n")
                                  << QByteArray("[INFO]\nsendtype=3\nother=x\n");
        QTest::newRow("adds the key to its section")
            << QByteArray("[info]\na=1\n\n[B]\nb=2\n") << QByteArray("[info]\na=1\nsendtype=3\n\n[B]\nb=2\n");
        QTest::newRow("adds the section") << QByteArray("; note\n[B]\nb=2\n")
                                          << QByteArray("; note\n[B]\nb=2\n\n[INFO]\nsendtype=3\n");
        QTest::newRow("keeps CRLF") << QByteArray("[INFO]\r\nSendType=1\r\nx=2\r\n")
                                    << QByteArray("[INFO]\r\nsendtype=3\r\nx=2\r\n");
    }

    void writesKeepingTheRest()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        const std::string strPath = Path("write.ini");
        std::remove(strPath.c_str());
        if (!before.isEmpty())
            std::ofstream(strPath, std::ios::binary) << before.toStdString();
        QVERIFY(CProfileFile::WriteString("INFO", "sendtype", "3", strPath));
        QCOMPARE(QByteArray::fromStdString(ReadFile(strPath)), after);
        QCOMPARE(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), 3);
    }

    void createsTheDirectory()
    {
        const std::string strPath = Path("a/b/Tovrik.ini");
        QVERIFY(CProfileFile::WriteString("INFO", "sendtype", "-1", strPath));
        QCOMPARE(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), -1);
    }

    void failedWriteKeepsTheOldFile()
    {
        if (geteuid() == 0)
            QSKIP("permissions do not bind root");
        const std::string strDir = Path("locked");
        QCOMPARE(mkdir(strDir.c_str(), 0700), 0);
        const std::string strPath = strDir + "/Tovrik.ini";
        std::ofstream(strPath) << "[INFO]\nsendtype=2\n";
        QCOMPARE(chmod(strDir.c_str(), 0500), 0);
        QVERIFY(!CProfileFile::WriteString("INFO", "sendtype", "5", strPath));
        chmod(strDir.c_str(), 0700);
        QCOMPARE(CProfileFile::GetInt("INFO", "sendtype", 0, strPath), 2);
    }

    void settingsPathFollowsXdg()
    {
        qputenv("XDG_CONFIG_HOME", "/some/where");
        QCOMPARE(CProfileFile::SettingsPath("Tovrik.ini"), std::string("/some/where/Tovrik.ini"));
        qputenv("HOME", "/home/me");
        qputenv("XDG_CONFIG_HOME", "relative/dir");
        QCOMPARE(CProfileFile::SettingsPath("Tovrik.ini"), std::string("/home/me/.config/Tovrik.ini"));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(CProfileFile::SettingsPath("Tovrik.ini"), std::string("/home/me/.config/Tovrik.ini"));
    }
};

QTEST_MAIN(CProfileFileTest)
#include "CProfileFileTest.moc"
