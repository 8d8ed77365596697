#include "commandline.h"
#include "debuglog.h"
#include "startup.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceAndPort_data();
    void deviceAndPort();
    void answerGapFromEnvironment_data();
    void answerGapFromEnvironment();
};

void TestCommandLine::deviceAndPort_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("deviceGiven");

    const auto row = [](const char *name, const QStringList &arguments, const char *device,
                         int port, bool deviceGiven) {
        QTest::newRow(name) << QStringList(QStringLiteral("monopanel")) + arguments
                            << QString::fromLatin1(device) << port << deviceGiven;
    };
    row("none", {}, "/dev/ttyS0", 8086, false);
    row("port only", { "9000" }, "/dev/ttyS0", 9000, false);
    row("device only", { "/dev/ttyUSB0" }, "/dev/ttyUSB0", 8086, true);
    row("device, port", { "/dev/ttyUSB0", "9000" }, "/dev/ttyUSB0", 9000, true);
    row("port, device", { "9000", "/dev/ttyUSB0" }, "/dev/ttyUSB0", 9000, true);
    row("two numbers", { "9000", "9001" }, "9000", 9001, true);
    row("two names", { "/dev/a", "/dev/b" }, "/dev/b", 0, true);
    row("third ignored", { "/dev/a", "9000", "7" }, "/dev/a", 9000, true);
    row("hex is not a number", { "0x10" }, "0x10", 8086, true);
    row("negative port", { "-5" }, "/dev/ttyS0", -5, false);
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

void TestCommandLine::answerGapFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("gap");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("milliseconds") << QByteArray(" 25 ") << 25 << QStringList();
    QTest::newRow("empty") << QByteArray() << 0 << QStringList();
    QTest::newRow("off") << QByteArray("0") << 0 << QStringList();
    QTest::newRow("with a unit")
        << QByteArray("25ms") << 0
        << QStringList("serial line: MONOPANEL_ANSWER_GAP \"25ms\" is not a number of "
                       "milliseconds; every answer gets its whole waiting time");
}

void TestCommandLine::answerGapFromEnvironment()
{
    QFETCH(QByteArray, value);
    QFETCH(int, gap);
    QFETCH(QStringList, warnings);

    qputenv("MONOPANEL_ANSWER_GAP", value);
    const DebugLog log;
    QCOMPARE(Startup::answerGapFromEnvironment(), gap);
    QCOMPARE(log.warnings(), warnings);
    qunsetenv("MONOPANEL_ANSWER_GAP");
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
