#include "debuglog.h"
#include "listeningaddress.h"
#include "triaxcontroller.h"
#include "triaxlimits.h"
#include "triaxsimulator.h"
#include "widgettriax.h"
#include "xmlrpcserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <tuple>

// Remote clients drive the instrument through Python's own XML-RPC client,
// against the simulated instrument: what a client gets back of each remote
// method.
class TestRemote : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void sessionDrivesThePanel();
    void introspection();
    void stateTellsFaultsFromMoves();
    void refusedRequestsChangeNothing();
    void listeningPort();

private:
    void start(const TriaxSimulator::Options &options = {});
    // One call through the Python client: [type name, result] or
    // ["Fault", code, text].
    QJsonArray call(const QString &method, const QString &arguments = {});
    bool connectInstrument();
    // Waits until the instrument is ready and every queued command answered,
    // so that the getters report the read-back.
    bool settle();

    const QString python = QStringLiteral(PYTHON3_EXECUTABLE);
    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<TriaxController> controller;
    std::unique_ptr<ServerXmlRPC> remoteApi;
    std::unique_ptr<QProcess> client;
};

namespace {

// What a setter answers when it takes the request.
const QJsonArray taken { "str", "" };

QJsonArray integer(int value)
{
    return { "int", value };
}

QJsonArray text(const QString &value)
{
    return { "str", value };
}

} // namespace

void TestRemote::initTestCase()
{
    if (python.isEmpty())
        QSKIP("python3 not found");
}

void TestRemote::cleanup()
{
    if (client) {
        client->closeWriteChannel();
        client->waitForFinished(5000);
    }
    client.reset();
    remoteApi.reset();
    controller.reset();
    simulator.reset();
}

void TestRemote::start(const TriaxSimulator::Options &options)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    controller = std::make_unique<TriaxController>(simulator->devicePath());
    // Port 0: the system chooses a free port, and the operator is told which.
    remoteApi = std::make_unique<ServerXmlRPC>(controller.get(), 0);
    const QString port = ListeningAddress::describe(remoteApi->listening());
    QVERIFY(port != QStringLiteral("0"));
    QCOMPARE(port, QString::number(remoteApi->serverPort()));

    client = std::make_unique<QProcess>();
    client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client->start(python, { QStringLiteral(TESTS_DIR "/remote_driver.py"), port });
    QVERIFY(client->waitForStarted(10000));
}

QJsonArray TestRemote::call(const QString &method, const QString &arguments)
{
    const QString line = arguments.isEmpty() ? method : method + u'\t' + arguments;
    client->write(line.toUtf8() + '\n');
    if (!QTest::qWaitFor([this] { return client->canReadLine(); }, 10000))
        return { "no answer to " + line };
    return QJsonDocument::fromJson(client->readLine()).array();
}

bool TestRemote::connectInstrument()
{
    if (call(QStringLiteral("connect")) != integer(0))
        return false;
    return settle();
}

bool TestRemote::settle()
{
    return QTest::qWaitFor(
        [this] {
            return call(QStringLiteral("status")) == integer(1)
                && controller->queuedCommands().isEmpty();
        },
        10000);
}

void TestRemote::sessionDrivesThePanel()
{
    TriaxSimulator::Options options;
    options.entranceSlit = 250;
    options.exitSlit = 1400;
    start(options);
    // A remote request shows where the operator would have typed it.
    WidgetTriax window(controller.get(), ListeningAddress::describe(remoteApi->listening()));
    QCOMPARE(call("status"), integer(0));
    QCOMPARE(call("checkConnection"), text("0"));
    QCOMPARE(call("getWavelength"), QJsonArray({ "float", 0.0 }));

    QVERIFY(connectInstrument());
    QCOMPARE(call("checkConnection"), text("1"));
    QCOMPARE(call("getInSlit"), integer(250));
    QCOMPARE(call("getOutSlit"), integer(1400));
    QCOMPARE(call("getGrating"), integer(0));
    QCOMPARE(call("setWavelength", "546.07"), taken);
    QCOMPARE(call("status"), integer(0));
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("leWavelength"))->text(),
        QStringLiteral("546.07"));
    QVERIFY(settle());
    QCOMPARE(call("getWavelength"), QJsonArray({ "float", 546.075 }));
    QCOMPARE(call("getPosition"), integer(21843));

    QCOMPARE(call("moveRelative", "-200"), taken);
    QVERIFY(settle());
    QCOMPARE(call("getPosition"), integer(21643));

    QCOMPARE(call("close"), integer(0));
    QCOMPARE(call("status"), integer(0));
    QCOMPARE(call("checkConnection"), text("0"));
    QCOMPARE(controller->state(), TriaxController::State::Closed);

    // The session, as every face shows it: the last events after an id, each once.
    const QJsonArray events = call("getEvents", "0").at(1).toArray();
    const QJsonObject closed = events.last().toObject();
    QCOMPARE(closed.value("origin"), "instrument");
    QCOMPARE(closed.value("text"), "closed");
    QVERIFY(closed.value("time").toString().endsWith(u'Z'));
    const QJsonObject asked = events.at(events.size() - 2).toObject();
    QCOMPARE(asked.value("origin"), "127.0.0.1");
    QCOMPARE(asked.value("text"), "close taken");
    const QString lastButOne = QString::number(asked.value("id").toInt());
    QCOMPARE(call("getEvents", lastButOne), QJsonArray({ "list", QJsonArray { closed } }));
}

void TestRemote::introspection()
{
    start();
    QCOMPARE(call("help"),
        text("\nconnect() returns always 0\nclose() returns always 0\ncheckConnection() returns a "
             "NULL string or the model name\nstatus() returns instrument status \ngetWavelength() "
             "returns wavelength (double)\nsetWavelength(double) \nmoveRelative(int) \n"
             "getInSlit() returns int\nsetInSlit(int) \ngetOutSlit() returns int\nsetOutSlit(int) "
             "\ngetGrating() returns current grating, int\nsetGrating(int)\ngetPosition()\n"
             "getState() returns state, text, reason, readBacks, ready, accepts and the values, "
             "struct\ngetLimits() returns wavelength, slit, grating and relativeMove, each with "
             "its minimum, maximum, decimals, unit and reason, struct\n"
             "waitReady(seconds) returns getState() once the instrument is ready, struct, or a "
             "fault saying why not\ngetEvents(afterId) returns the events after that id, each "
             "with its id, time, origin, text, kind and count, array\n"
             "getVersion() returns the program's build, string\nhelp() this info !\n"));
    const QJsonArray names { "connect", "close", "checkConnection", "status", "help",
        "getWavelength", "setWavelength", "moveRelative", "getInSlit", "setInSlit", "getOutSlit",
        "setOutSlit", "getGrating", "setGrating", "getPosition", "getState", "getLimits",
        "waitReady", "getEvents", "getVersion" };
    QCOMPARE(call("__dir__"), QJsonArray({ "list", names }));

    const QJsonArray listed = call("system.listMethods").at(1).toArray();
    QCOMPARE(listed.size(), 25);
    QVERIFY(listed.contains("__dir__") && listed.contains("system.multicall"));
    QCOMPARE(call("system.methodHelp", "'getGrating'"),
        text("getGrating() returns current grating, int"));
    QCOMPARE(call("system.methodSignature", "'setInSlit'"),
        QJsonArray({ "list", QJsonArray { QJsonArray { "string", "int" } } }));
    QCOMPARE(call("system.methodHelp", "'nothing'").at(1), -32601);

    // Each call of a multicall answers in its own place, a fault as its own struct; a wait
    // answers at once there.
    const QJsonArray answers = call("system.multicall",
        "[{'methodName': 'status', 'params': []}, {'methodName': 'setInSlit', 'params': [1.5]}, "
        "{'methodName': 'getGrating', 'params': []}, {'methodName': 'waitReady', 'params': [5]}]")
                                   .at(1)
                                   .toArray();
    QCOMPARE(answers.at(0), QJsonArray { 0 });
    QCOMPARE(answers.at(1).toObject().value("faultCode"), -32602);
    QCOMPARE(answers.at(2), QJsonArray { 0 });
    QCOMPARE(answers.at(3).toObject().value("faultString"), "the port is closed");
}

// What a client reads of the instrument when it fails: the fault and its
// reason, with the values it last read back.
void TestRemote::stateTellsFaultsFromMoves()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::NoAnswer, "E", 0 } };
    start(options);
    QVERIFY(connectInstrument());

    // Taken at once, and seen as taken by the very next call of the same request.
    const QJsonArray taken = call("system.multicall",
        "[{'methodName': 'setWavelength', 'params': [546.07]}, "
        "{'methodName': 'getState', 'params': []}]")
                                 .at(1)
                                 .toArray();
    QCOMPARE(taken.at(1).toArray().at(0).toObject().value("state"), "busy");
    QJsonObject state;
    QVERIFY(QTest::qWaitFor(
        [&] {
            state = call("getState").at(1).toObject();
            return state.value("state") == QLatin1String("no answer");
        },
        10000));
    QCOMPARE(state.value("text"), "no answer");
    QCOMPARE(state.value("reason"),
        "instrument: no answer to \"E\" after 4 tries, last reception "
        "\"RX_ERROR: empty answer/timeout ?\"");
    QCOMPARE(state.value("ready"), 0);
    QCOMPARE(state.value("readBacks"), 1);
}

// A refusal travels as the controller's text, each setter's in its own words; setGrating
// writes the readiness it found first, as it always has.
void TestRemote::refusedRequestsChangeNothing()
{
    start();
    {
        DebugLog log;
        for (const auto &[setter, value, words] :
            { std::tuple { "setWavelength", "500.0", "wavelength 500 nm" },
                std::tuple { "moveRelative", "10", "relative move 10 steps" },
                std::tuple { "setInSlit", "20", "entrance slit 20 steps" },
                std::tuple { "setOutSlit", "30", "exit slit 30 steps" },
                std::tuple { "setGrating", "1", "grating 1" } }) {
            QCOMPARE(call(setter, value),
                text(QLatin1String(words) + " refused: not ready, the port is closed"));
        }
        QCOMPARE(log.lines(), QStringList { "0" });
    }

    QVERIFY(connectInstrument());
    simulator->clearCommands();
    {
        DebugLog log;
        QCOMPARE(call("setGrating", "3"),
            text(QStringLiteral("grating 3 refused: outside 0 to 2, ")
                + QLatin1String(TriaxLimits::grating.reason)));
        QCOMPARE(log.lines(), QStringList { "1" });
    }
    const QJsonArray wrongType { "Fault", -32602, "server error: invalid method parameters" };
    QCOMPARE(call("setWavelength", "500"), wrongType);
    QCOMPARE(call("setInSlit", "10.0"), wrongType);

    QCOMPARE(call("status"), integer(1));
    QVERIFY(controller->queuedCommands().isEmpty());
    QVERIFY(simulator->commands().isEmpty());
}

// A port in use is reported, and one above 65535 wraps.
void TestRemote::listeningPort()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, 0));
    const quint16 taken = other.serverPort();
    TriaxSimulator simulator({});
    QVERIFY(simulator.isValid());

    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(
            QStringLiteral("^remote control: cannot listen on port %1: \\S.*$").arg(taken)));
    TriaxController controller(simulator.devicePath());
    ServerXmlRPC remoteApi(&controller, taken);
    QCOMPARE(remoteApi.serverPort(), 0);
    // The window says why, though it came after.
    WidgetTriax window(&controller, ListeningAddress::describe(remoteApi.listening()));
    const QString why = QStringLiteral("port %1: The bound address is already in use").arg(taken);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbPortValue"))->text(), why);
    const auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("teLog"));
    QTRY_VERIFY(
        log->toPlainText().endsWith(QStringLiteral("remote control: cannot listen on ") + why));

    // The operator still works the instrument.
    controller.openPort();
    QTRY_COMPARE_WITH_TIMEOUT(controller.statusText(), QStringLiteral("ready"), 5000);

    // 65536 wraps to 0, so the system chooses, and the operator is told its choice.
    const ServerXmlRPC wrapped(&controller, 65536);
    QVERIFY(wrapped.serverPort() != 0);
    QCOMPARE(
        ListeningAddress::describe(wrapped.listening()), QString::number(wrapped.serverPort()));
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
