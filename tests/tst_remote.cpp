#include "calloutcome.h"
#include "debuglog.h"
#include "listeningaddress.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"
#include "widgettriax.h"
#include "xmlrpcserver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <tuple>

// What a client gets back of each remote method, on the simulated instrument.
class TestRemote : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void sessionDrivesThePanel();
    void introspection();
    void stateTellsFaultsFromMoves();
    void refusedRequestsChangeNothing();
    void listeningPort();

private:
    void start(const TriaxSimulator::Options &options = {});
    QVariant call(const QString &method, const QVariantList &args = {});
    // Each call's answer in its own place: a list of the result, or the fault as a struct.
    QVariantList multicall(const QList<std::pair<QString, QVariantList>> &calls);
    // Connects and waits until the instrument is ready with nothing queued.
    bool connectInstrument();

    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<TriaxController> controller;
    std::unique_ptr<ServerXmlRPC> remoteApi;
    std::unique_ptr<KelpXmlRpcClient> client;
};

namespace {

// The result as "type value", so that an answer of another XML-RPC type does not compare
// equal.
QString typed(const QVariant &result)
{
    return QLatin1String(result.typeName()) + u' ' + result.toString();
}

} // namespace

void TestRemote::cleanup()
{
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
    remoteApi = std::make_unique<ServerXmlRPC>(controller.get(), 0);
    QVERIFY(remoteApi->serverPort() != 0);
    client = std::make_unique<KelpXmlRpcClient>(
        QUrl(QStringLiteral("http://127.0.0.1:%1/RPC2").arg(remoteApi->serverPort())));
}

QVariant TestRemote::call(const QString &method, const QVariantList &args)
{
    return callOutcome(*client, method, args);
}

QVariantList TestRemote::multicall(const QList<std::pair<QString, QVariantList>> &calls)
{
    QVariantList structs;
    for (const auto &[method, params] : calls)
        structs.append(QVariantMap { { "methodName", method }, { "params", params } });
    return call(QStringLiteral("system.multicall"), { QVariant(structs) }).toList();
}

bool TestRemote::connectInstrument()
{
    return call(QStringLiteral("connect")) == QVariant(0)
        && call(QStringLiteral("waitReady"), { 10 }).toMap().value("state")
        == QLatin1String("ready");
}

// The session every client runs: a move seen as taken by the very next call of the same
// request, a wait for its read-back, the values in their XML-RPC types, and the events.
void TestRemote::sessionDrivesThePanel()
{
    start();
    // A remote request shows where the operator would have typed it.
    WidgetTriax window(controller.get(), ListeningAddress::describe(remoteApi->listening()));
    QCOMPARE(typed(call("status")), "int 0");
    QCOMPARE(typed(call("checkConnection")), "QString 0");

    QVERIFY(connectInstrument());
    QCOMPARE(typed(call("checkConnection")), "QString 1");
    const QVariantList taken = multicall({ { "setWavelength", { 546.07 } }, { "getState", {} } });
    QCOMPARE(taken.value(0), QVariantList { "" });
    QCOMPARE(taken.value(1).toList().value(0).toMap().value("state"), "busy");
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("leWavelength"))->text(),
        QStringLiteral("546.07"));
    QCOMPARE(call("waitReady", { 10 }).toMap().value("state"), "ready");
    QCOMPARE(typed(call("getWavelength")), "double 546.075");
    QCOMPARE(typed(call("getPosition")), "int 21843");

    QCOMPARE(call("close"), 0);
    QCOMPARE(call("status"), 0);

    // The last events after an id, each once.
    const QVariantList events = call("getEvents", { 0 }).toList();
    QVERIFY(events.size() >= 2);
    const QVariantMap closed = events.constLast().toMap();
    QCOMPARE(closed.value("origin"), "instrument");
    QCOMPARE(closed.value("text"), "closed");
    QVERIFY(closed.value("time").toString().endsWith(u'Z'));
    const QVariantMap asked = events.at(events.size() - 2).toMap();
    QCOMPARE(asked.value("origin"), "127.0.0.1");
    QCOMPARE(asked.value("text"), "close taken");
    QCOMPARE(call("getEvents", { asked.value("id") }), QVariantList { closed });
}

void TestRemote::introspection()
{
    start();
    QCOMPARE(call("help"),
        "\nconnect() returns always 0\nclose() returns always 0\ncheckConnection() returns a "
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
        "getVersion() returns the program's build, string\nhelp() this info !\n");
    const QStringList names { "connect", "close", "checkConnection", "status", "help",
        "getWavelength", "setWavelength", "moveRelative", "getInSlit", "setInSlit", "getOutSlit",
        "setOutSlit", "getGrating", "setGrating", "getPosition", "getState", "getLimits",
        "waitReady", "getEvents", "getVersion" };
    QCOMPARE(call("__dir__").toStringList(), names);

    const QStringList listed = call("system.listMethods").toStringList();
    QCOMPARE(listed.size(), 25);
    QVERIFY(listed.contains("__dir__") && listed.contains("system.multicall"));
    QCOMPARE(
        call("system.methodHelp", { "getGrating" }), "getGrating() returns current grating, int");
    QCOMPARE(call("system.methodSignature", { "setInSlit" }),
        QVariantList({ QVariantList { "string", "int" } }));
    QVERIFY(call("system.methodHelp", { "nothing" }).toString().startsWith("-32601: "));

    // Each call of a multicall answers in its own place, a fault as its own struct; a wait
    // answers at once there.
    const QVariantList answers
        = multicall({ { "status", {} }, { "setInSlit", { 1.5 } }, { "waitReady", { 5 } } });
    QCOMPARE(answers.value(0), QVariantList { 0 });
    QCOMPARE(answers.value(1).toMap().value("faultCode"), -32602);
    QCOMPARE(answers.value(2).toMap().value("faultString"), "the port is closed");
}

// waitReady's faults, each with its own code, and what getState then tells of the failure.
void TestRemote::stateTellsFaultsFromMoves()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::NoAnswer, "E", 0 } };
    start(options);
    QVERIFY(connectInstrument());

    QCOMPARE(call("setWavelength", { 546.07 }), "");
    QCOMPARE(call("waitReady", { 0.05 }), "2: not ready within 0.05 s");
    const QString failed = call("waitReady", { 10 }).toString();
    const QVariantMap state = call("getState").toMap();
    QCOMPARE(state.value("state"), "no answer");
    const QString reason = state.value("reason").toString();
    QVERIFY2(reason.startsWith("instrument: no answer to \"E\""), qPrintable(reason));
    QCOMPARE(failed, "1: " + reason);
    QCOMPARE(state.value("ready"), 0);
}

// A refusal travels as the controller's text, each setter's in its own words; setGrating
// writes the readiness it found first, as it always has.
void TestRemote::refusedRequestsChangeNothing()
{
    start();
    {
        DebugLog log;
        for (const auto &[setter, value, words] :
            { std::tuple { "setWavelength", QVariant(500.0), "wavelength 500 nm" },
                std::tuple { "moveRelative", QVariant(10), "relative move 10 steps" },
                std::tuple { "setInSlit", QVariant(20), "entrance slit 20 steps" },
                std::tuple { "setOutSlit", QVariant(30), "exit slit 30 steps" },
                std::tuple { "setGrating", QVariant(1), "grating 1" } }) {
            QCOMPARE(call(setter, { value }),
                QLatin1String(words) + " refused: not ready, the port is closed");
        }
        QCOMPARE(log.lines(), QStringList { "0" });
    }

    QVERIFY(connectInstrument());
    simulator->clearCommands();
    {
        DebugLog log;
        QVERIFY(call("setGrating", { 3 }).toString().startsWith("grating 3 refused: outside"));
        QCOMPARE(log.lines(), QStringList { "1" });
    }
    QCOMPARE(call("status"), 1);
    QVERIFY(controller->queuedCommands().isEmpty());
    QVERIFY(simulator->commands().isEmpty());
}

// A port in use is reported, and one above 65535 wraps.
void TestRemote::listeningPort()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::AnyIPv4, 0));
    const quint16 taken = other.serverPort();
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(
            QStringLiteral("^remote control: cannot listen on port %1: \\S.*$").arg(taken)));
    TriaxController controller(QStringLiteral("/nonexistent/tty"));
    ServerXmlRPC remoteApi(&controller, taken);
    QCOMPARE(remoteApi.serverPort(), 0);
    // The window says why, though it came after.
    WidgetTriax window(&controller, ListeningAddress::describe(remoteApi.listening()));
    const QString why = QStringLiteral("port %1: The bound address is already in use").arg(taken);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbPortValue"))->text(), why);
    const auto *log = window.findChild<QPlainTextEdit *>(QStringLiteral("teLog"));
    QTRY_VERIFY(
        log->toPlainText().endsWith(QStringLiteral("remote control: cannot listen on ") + why));

    // 65536 wraps to 0, so the system chooses a free port, and the operator is told its choice.
    const ServerXmlRPC wrapped(&controller, 65536);
    QVERIFY(wrapped.serverPort() != 0);
    QCOMPARE(
        ListeningAddress::describe(wrapped.listening()), QString::number(wrapped.serverPort()));
}

QTEST_MAIN(TestRemote)
#include "tst_remote.moc"
