#include "calloutcome.h"
#include "triaxsimulator.h"

#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <csignal>

// The program without a window, as the service runs it: started on the
// simulated instrument, driven through the remote methods, ended by SIGTERM.
class TestServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wavelengthMoveThroughTheRemoteMethods();
};

namespace {

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

void TestServer::wavelengthMoveThroughTheRemoteMethods()
{
    TriaxSimulator simulator({});
    QVERIFY2(simulator.isValid(), qPrintable(simulator.errorString()));
    const quint16 port = freePort();
    QVERIFY(port);

    QProcess server;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No display of any kind: the program must not need one.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("MONOPANEL_VERBOSE"), QStringLiteral("1"));
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(MONOPANEL_SERVER_EXECUTABLE),
        { QString::number(port), simulator.devicePath() });
    QVERIFY(server.waitForStarted(10000));

    KelpXmlRpcClient client(QUrl(QStringLiteral("http://127.0.0.1:%1/RPC2").arg(port)));
    client.setTransferTimeout(2000);
    QVERIFY(QTest::qWaitFor(
        [&] { return callOutcome(client, QStringLiteral("status")) == QVariant(0); }, 10000));
    QCOMPARE(callOutcome(client, QStringLiteral("connect")), QVariant(0));
    // The read-back asks for the wavelength second, so it is in once the third
    // command has gone out.
    QVERIFY(QTest::qWaitFor([&] { return simulator.commands().size() >= 4; }, 5000));
    QCOMPARE(callOutcome(client, QStringLiteral("status")), QVariant(1));
    QCOMPARE(callOutcome(client, QStringLiteral("getWavelength")), QVariant(500.0));
    QVERIFY(QTest::qWaitFor([&] { return simulator.commands().size() == 6; }, 2000));
    simulator.clearCommands();

    QCOMPARE(callOutcome(client, QStringLiteral("setWavelength"), { 546.07 }), QVariant(QString()));
    QCOMPARE(callOutcome(client, QStringLiteral("status")), QVariant(0));
    // Every value has been read back once the last command of the read-back
    // has gone out.
    QVERIFY(QTest::qWaitFor([&] { return simulator.commands().endsWith("j0,2\r"); }, 5000));
    const QList<QByteArray> sent = simulator.commands();
    const qsizetype polls = sent.count("E");
    QCOMPARE(sent.first(), QByteArray("Z61,0,546.07\r"));
    QCOMPARE(sent.mid(1 + polls),
        (QList<QByteArray> { "H0\r", "Z62,0\r", "Z452,0,0,0\r", "j0,0\r", "j0,2\r" }));
    QCOMPARE(callOutcome(client, QStringLiteral("status")), QVariant(1));
    QCOMPARE(callOutcome(client, QStringLiteral("getWavelength")), QVariant(546.075));
    QCOMPARE(callOutcome(client, QStringLiteral("getPosition")), QVariant(21843));

    ::kill(pid_t(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    const QByteArray diagnostics = server.readAllStandardError();
    QVERIFY2(diagnostics.contains("tx: \"Z61,0,546.07\" rx: \"o\" elapsed time (ms): "),
        diagnostics.constData());
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
