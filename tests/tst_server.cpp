#include "calloutcome.h"
#include "childprocess.h"
#include "panelprocess.h"
#include "triaxsimulator.h"

#include <QProcess>
#include <QTest>

#include <csignal>

// The program without a window, as the service runs it: started on the simulated instrument
// with no display of any kind, driven through the remote methods, ended by SIGTERM, telling
// on standard error who asked for what.
class TestServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void wavelengthMoveThroughTheRemoteMethods();
};

void TestServer::wavelengthMoveThroughTheRemoteMethods()
{
    TriaxSimulator simulator({});
    QVERIFY2(simulator.isValid(), qPrintable(simulator.errorString()));
    const quint16 port = PanelProcess::freePort();
    QVERIFY(port);

    QProcess server;
    dieWithParent(server);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("MONOPANEL_VERBOSE"), QStringLiteral("1"));
    server.setProcessEnvironment(environment);
    server.start(QStringLiteral(MONOPANEL_SERVER_EXECUTABLE),
        { QString::number(port), simulator.devicePath() });
    QVERIFY(server.waitForStarted(10000));

    KelpXmlRpcClient client(QUrl(QStringLiteral("http://127.0.0.1:%1/RPC2").arg(port)));
    client.setTransferTimeout(20000);
    QVERIFY(QTest::qWaitFor(
        [&] { return callOutcome(client, QStringLiteral("status")) == QVariant(0); }, 10000));
    QCOMPARE(callOutcome(client, QStringLiteral("connect")), QVariant(0));
    QCOMPARE(callOutcome(client, QStringLiteral("waitReady"), { 10 }).toMap().value("state"),
        QStringLiteral("ready"));

    QCOMPARE(callOutcome(client, QStringLiteral("setWavelength"), { 546.07 }),
        QVariant(QLatin1String("")));
    QCOMPARE(callOutcome(client, QStringLiteral("setWavelength"), { 700.0 }),
        QVariant(QStringLiteral("wavelength 700 nm refused: motor busy")));
    const QVariantMap moved = callOutcome(client, QStringLiteral("waitReady"), { 10.0 }).toMap();
    QCOMPARE(moved.value("wavelength"), 546.075);
    QCOMPARE(moved.value("position"), 21843);

    ::kill(pid_t(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    const QByteArray diagnostics = server.readAllStandardError();
    QVERIFY2(diagnostics.contains("tx: \"Z61,0,546.07\" rx: \"o\" elapsed time (ms): "),
        diagnostics.constData());
    QVERIFY(diagnostics.contains("request from 127.0.0.1: setWavelength 546.07 taken\n"));
    QVERIFY(
        diagnostics.contains("request from 127.0.0.1: setWavelength 700 refused: motor busy\n"));
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
