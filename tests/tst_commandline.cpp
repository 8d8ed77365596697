#include "commandline.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceAndPort_data();
    void deviceAndPort();
};

void TestCommandLine::deviceAndPort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("deviceGiven");

    const QString program = QStringLiteral("monopanel");
    QTest::newRow("none") << QStringList { program } << "/dev/ttyS0" << 8086 << false;
    QTest::newRow("port only") << QStringList { program, "9000" } << "/dev/ttyS0" << 9000 << false;
    QTest::newRow("device only") << QStringList { program, "/dev/ttyUSB0" } << "/dev/ttyUSB0"
                                 << 8086 << true;
    QTest::newRow("device, port") << QStringList { program, "/dev/ttyUSB0", "9000" }
                                  << "/dev/ttyUSB0" << 9000 << true;
    QTest::newRow("port, device") << QStringList { program, "9000", "/dev/ttyUSB0" }
                                  << "/dev/ttyUSB0" << 9000 << true;
    QTest::newRow("two numbers") << QStringList { program, "9000", "9001" } << "9000" << 9001
                                 << true;
    QTest::newRow("two names") << QStringList { program, "/dev/a", "/dev/b" } << "/dev/b" << 0
                               << true;
    QTest::newRow("third ignored")
        << QStringList { program, "/dev/a", "9000", "7" } << "/dev/a" << 9000 << true;
    QTest::newRow("hex is not a number")
        << QStringList { program, "0x10" } << "0x10" << 8086 << true;
    QTest::newRow("negative port") << QStringList { program, "-5" } << "/dev/ttyS0" << -5 << false;
}

void TestCommandLine::deviceAndPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, device);
    QFETCH(int, port);
    QFETCH(bool, deviceGiven);

    const CommandLine commandLine = CommandLine::fromArguments(arguments);
    QCOMPARE(commandLine.device, device);
    QCOMPARE(commandLine.port, port);
    QCOMPARE(commandLine.deviceGiven, deviceGiven);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
