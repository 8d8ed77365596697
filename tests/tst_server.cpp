#include "calloutcome.h"
#include "panelprocess.h"
#include "triaxsimulator.h"

#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>

// The program without a window, as the service runs it: started on the
// simulated instrument, driven through the remote methods, ended by SIGTERM.
class TestServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void wavelengthMoveThroughTheRemoteMethods();
    void waitReadyOnASilentInstrument();

private:
    // Starts the program on a simulator with these options and waits until it answers.
    void start(const TriaxSimulator::Options &options);

    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<QProcess> server;
    std::unique_ptr<KelpXmlRpcClient> client;
};

void TestServer::start(const TriaxSimulator::Options &options)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    const quint16 port = PanelProcess::freePort();
    QVERIFY(port);

    server = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No display of any kind: the program must not need one.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(QStringLiteral("MONOPANEL_VERBOSE"), QStringLiteral("1"));
    server->setProcessEnvironment(environment);
    server->start(QStringLiteral(MONOPANEL_SERVER_EXECUTABLE),
        { QString::number(port), simulator->devicePath() });
    QVERIFY(server->waitForStarted(10000));

    client = std::make_unique<KelpXmlRpcClient>(
        QUrl(QStringLiteral("http://127.0.0.1:%1/RPC2").arg(port)));
    client->setTransferTimeout(20000);
    QVERIFY(QTest::qWaitFor(
        [&] { return callOutcome(*client, QStringLiteral("status")) == QVariant(0); }, 10000));
}

void TestServer::cleanup()
{
    client.reset();
    if (server)
        server->kill();
    server.reset();
    simulator.reset();
}

// A program waits for the instrument in one call after each request, and
// learns at once when a request was refused.
void TestServer::wavelengthMoveThroughTheRemoteMethods()
{
    start({});
    QCOMPARE(callOutcome(*client, QStringLiteral("connect")), QVariant(0));
    const QVariantMap awake = callOutcome(*client, QStringLiteral("waitReady"), { 10 }).toMap();
    QCOMPARE(awake.value("state"), QStringLiteral("ready"));
    QCOMPARE(awake.value("accepts"),
        QVariantMap({ { "connect", false }, { "close", true }, { "requests", true } }));

    QCOMPARE(callOutcome(*client, QStringLiteral("setWavelength"), { 546.07 }),
        QVariant(QLatin1String("")));
    QCOMPARE(callOutcome(*client, QStringLiteral("setWavelength"), { 700.0 }),
        QVariant(QStringLiteral("wavelength 700 nm refused: motor busy")));
    QCOMPARE(callOutcome(*client, QStringLiteral("waitReady"), { 0.05 }),
        QVariant(QStringLiteral("2: not ready within 0.05 s")));
    const QVariantMap moved = callOutcome(*client, QStringLiteral("waitReady"), { 10.0 }).toMap();
    QCOMPARE(moved.value("wavelength"), 546.075);
    QCOMPARE(moved.value("position"), 21843);

    ::kill(pid_t(server->processId()), SIGTERM);
    QVERIFY(server->waitForFinished(10000));
    QCOMPARE(server->exitStatus(), QProcess::NormalExit);
    QCOMPARE(server->exitCode(), 0);
    const QByteArray diagnostics = server->readAllStandardError();
    QVERIFY2(diagnostics.contains("tx: \"Z61,0,546.07\" rx: \"o\" elapsed time (ms): "),
        diagnostics.constData());
    // Who asked for what, taken or not.
    QVERIFY(diagnostics.contains("request from 127.0.0.1: setWavelength 546.07 taken\n"));
    QVERIFY(
        diagnostics.contains("request from 127.0.0.1: setWavelength 700 refused: motor busy\n"));
}

void TestServer::waitReadyOnASilentInstrument()
{
    TriaxSimulator::Options silentReadBack;
    silentReadBack.faults = { { TriaxSimulator::Fault::NoAnswer, "Z62", 0 } };
    start(silentReadBack);
    QCOMPARE(callOutcome(*client, QStringLiteral("connect")), QVariant(0));
    const QString failed = callOutcome(*client, QStringLiteral("waitReady"), { 10 }).toString();
    QVERIFY2(failed.startsWith(QLatin1String("1: instrument: no answer to \"Z62,0\"")),
        qPrintable(failed));
}

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
