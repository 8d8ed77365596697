#include "childprocess.h"
#include "panelprocess.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"
#include "xmlrpcserver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// monopanel-tango, without a Tango database, between the panel on the simulated instrument
// and a control-system client: tango_session.py drives the device with python3-tango and asks
// for the panel to be stopped and started again.
class TestTango : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deviceFollowsThePanel();

private:
    void startPanel(int port);
    bool startServer();

    const QString python = QStringLiteral(TANGO_PYTHON);
    QTemporaryDir directory;
    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<TriaxController> controller;
    std::unique_ptr<ServerXmlRPC> remoteApi;
    QProcess server;
    QString deviceUrl;
};

void TestTango::startPanel(int port)
{
    controller = std::make_unique<TriaxController>(simulator->devicePath());
    remoteApi = std::make_unique<ServerXmlRPC>(controller.get(), port);
}

bool TestTango::startServer()
{
    // The file database gives the device its PanelUrl; clients reach it as without a database.
    QFile database(directory.filePath(QStringLiteral("monopanel.db")));
    if (!database.open(QIODevice::WriteOnly))
        return false;
    database.write(QStringLiteral("monopanel-tango/test/DEVICE/Monochromator: \"lab/mono/1\"\n"
                                  "lab/mono/1->PanelUrl: \"http://127.0.0.1:%1/\"\n")
                       .arg(remoteApi->serverPort())
                       .toUtf8());
    database.close();

    const QString orbPort = QString::number(PanelProcess::freePort());
    deviceUrl = QStringLiteral("tango://127.0.0.1:%1/lab/mono/1#dbase=no").arg(orbPort);
    dieWithParent(server);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(MONOPANEL_TANGO_EXECUTABLE),
        { QStringLiteral("test"), QStringLiteral("-file=") + database.fileName(),
            QStringLiteral("-ORBendPoint"), QStringLiteral("giop:tcp:127.0.0.1:") + orbPort });
    QByteArray output;
    const bool ready = QTest::qWaitFor(
        [&] {
            output += server.readAllStandardOutput();
            return output.contains("Ready to accept request")
                || server.state() == QProcess::NotRunning;
        },
        30000);
    return ready && server.state() == QProcess::Running;
}

void TestTango::deviceFollowsThePanel()
{
    QVERIFY(directory.isValid());
    simulator = std::make_unique<TriaxSimulator>(TriaxSimulator::Options());
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    startPanel(0);
    const quint16 panelPort = remoteApi->serverPort();
    QVERIFY(panelPort != 0);
    QVERIFY(startServer());

    QProcess session;
    dieWithParent(session);
    session.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    session.start(python, { QStringLiteral(TESTS_DIR "/tango_session.py"), deviceUrl });
    QVERIFY2(session.waitForStarted(10000), qPrintable(session.errorString()));
    while (QTest::qWaitFor(
        [&] { return session.canReadLine() || session.state() == QProcess::NotRunning; }, 60000)) {
        if (!session.canReadLine())
            break;
        const QByteArray line = session.readLine().trimmed();
        if (line == "stop panel") {
            remoteApi.reset();
            controller.reset();
        } else if (line == "start panel") {
            startPanel(panelPort);
            QCOMPARE(remoteApi->serverPort(), panelPort);
        } else {
            qInfo("%s", line.constData());
            continue;
        }
        session.write("done\n");
    }
    QCOMPARE(session.state(), QProcess::NotRunning);
    QCOMPARE(session.exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.exitCode(), 0);

    // Under the sanitizers a report ends the server with a failure.
    server.terminate();
    QVERIFY(server.waitForFinished(20000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
}

QTEST_MAIN(TestTango)
#include "tst_tango.moc"
