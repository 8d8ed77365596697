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

    const QString program = QStringLiteral("monopanel");
    QTest::newRow("none") << QStringList { program } << "/dev/ttyS0" << 8086;
    QTest::newRow("port only") << QStringList { program, "9000" } << "/dev/ttyS0" << 9000;
    QTest::newRow("device only") << QStringList { program, "/dev/ttyUSB0" } << "/dev/ttyUSB0"
                                 << 8086;
    QTest::newRow("device, port") << QStringList { program, "/dev/ttyUSB0", "9000" }
                                  << "/dev/ttyUSB0" << 9000;
    QTest::newRow("port, device") << QStringList { program, "9000", "/dev/ttyUSB0" }
                                  << "/dev/ttyUSB0" << 9000;
    QTest::newRow("two numbers") << QStringList { program, "9000", "9001" } << "9000" << 9001;
    QTest::newRow("two names") << QStringList { program, "/dev/a", "/dev/b" } << "/dev/b" << 0;
    QTest::newRow("third ignored")
        << QStringList { program, "/dev/a", "9000", "7" } << "/dev/a" << 9000;
    QTest::newRow("hex is not a number") << QStringList { program, "0x10" } << "0x10" << 8086;
    QTest::newRow("negative port") << QStringList { program, "-5" } << "/dev/ttyS0" << -5;
}

void TestCommandLine::deviceAndPort()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, device);
    QFETCH(int, port);

    const CommandLine commandLine = CommandLine::fromArguments(arguments);
    QCOMPARE(commandLine.device, device);
    QCOMPARE(commandLine.port, port);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
