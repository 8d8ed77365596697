#include "panelmirror.h"
#include "paneltracker.h"
#include "remoteaccess.h"
#include "remotecontract.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"
#include "xmlrpcserver.h"

#include <QScopeGuard>
#include <QTest>
#include <QThread>

namespace Key = RemoteContract::Key;
namespace StateName = RemoteContract::StateName;
using State = PanelSnapshot::State;
using Kind = PanelRequest::Kind;

namespace {

// One outcome handed to the tracker and what it publishes then: a state and a status, or, with
// no status, nothing new. A request taken tells the methods of its multicall.
struct Step
{
    enum Input { Take, Send, Polled, Answered, PollFailed, RequestFailed } input;
    PanelRequest request;
    QVariant answer;
    PanelTracker::Failure failure;
    State state = State::Init;
    QString status;
    QStringList calls;
};

// getState's answer, as the panel gives it.
QVariantMap panel(QLatin1String state, int readBacks = 1, int ready = 1, const QString &reason = {})
{
    return { { Key::state, state }, { Key::text, state }, { Key::reason, reason },
        { Key::readBacks, readBacks }, { Key::ready, ready },
        { Key::wavelength, 500.0 + readBacks }, { Key::position, 20000 + readBacks },
        { Key::inSlit, 100 }, { Key::outSlit, 250 }, { Key::grating, 1 } };
}

Step take(const PanelRequest &request, const QStringList &calls = {}, State state = State::Moving,
    const QString &status = {})
{
    return { Step::Take, request, {}, {}, state, status, calls };
}
Step polled(const QVariant &answer, State state, const QString &status)
{
    return { Step::Polled, {}, answer, {}, state, status, {} };
}
// A multicall's answers: each result in a list of its own, a fault as a struct.
Step answered(const QVariantList &results, State state, const QString &status)
{
    QVariantList list;
    for (const QVariant &result : results)
        list.append(result.toMap().contains("faultCode") ? result : QVariantList { result });
    return { Step::Answered, {}, list, {}, state, status, {} };
}
Step failed(Step::Input input, const PanelTracker::Failure &failure, const QString &status)
{
    return { input, {}, {}, failure, State::Fault, status, {} };
}

const QString ready = QStringLiteral("The instrument is ready.");
const QString closed = QStringLiteral("The port is closed; Connect brings the instrument up.");
const QString moving = QStringLiteral("Moving: Wavelength 546.07 nm requested");
const QString reconnect = QStringLiteral(" Connect closes the port and connects again.");
const QString unreachable
    = QStringLiteral("The panel at http://127.0.0.1:8086/ cannot be reached: ");
const PanelRequest wavelength { Kind::Wavelength, 546.07 };
const QStringList wavelengthCalls { "getState", "setWavelength", "getState" };
const QVariantMap taken = panel(StateName::busy, 1, 0);

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

// PanelMirror's decisions step by step, and PanelMirror on its own thread against the remote
// methods on the simulated instrument.
class TestPanelMirror : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decisions_data();
    void decisions();
    void followsThePanel();
};

void TestPanelMirror::decisions_data()
{
    QTest::addColumn<QList<Step>>("steps");
    const QString lost = QStringLiteral("serial port /dev/ttyUSB0 lost: reading from the device");
    const QString started = QStringLiteral("Wavelength 546.07 nm");
    // The panel has taken a move.
    const QList<Step> moveTaken { polled(panel(StateName::ready), State::On, ready),
        take(wavelength, wavelengthCalls, State::Moving, moving + '.'),
        answered({ panel(StateName::ready), QString(), taken }, State::Moving,
            moving + "; waiting for the instrument.") };

    QTest::newRow("states") << QList<Step> { polled(
                                                 panel(StateName::closed, 0), State::Off, closed),
        polled(panel(StateName::wakingUp, 0), State::Init,
            "The instrument is waking up (about 90 s when it has to start its firmware)."),
        polled(panel(StateName::readingBack), State::Moving,
            "The instrument is ready; its values are being read back."),
        polled(panel(StateName::busy), State::Moving, "The instrument is moving."),
        polled(panel(StateName::portLost, 1, 0, lost), State::Fault,
            "The panel reports \"port lost\": " + lost + reconnect),
        polled(panel(StateName::cannotOpen, 1, 0), State::Fault,
            "The panel reports \"cannot open\"." + reconnect),
        failed(Step::PollFailed, { -32601, "no such method", false },
            unreachable + "it answered getState with no such method (-32601)") };

    // ON only once the read-back after the move has come in; meanwhile nothing but Close.
    QTest::newRow("move") << moveTaken
            + QList<Step> { take({ Kind::Wavelength, 600 }), take({ Kind::Connect }),
                  polled(panel(StateName::readingBack), State::Moving,
                      moving + "; waiting for its read-back."),
                  polled(panel(StateName::ready), State::Moving,
                      moving + "; waiting for its read-back."),
                  polled(panel(StateName::ready, 2), State::On, ready) };

    QTest::newRow("not taken") << QList<Step> { polled(panel(StateName::ready), State::On, ready),
        take({ Kind::Grating, 2 }, { "getState", "setGrating", "getState" }, State::Moving,
            "Moving: Grating 2 requested."),
        answered({ taken, QString(), taken }, State::Moving,
            "The instrument is moving. Grating 2 was not taken: the panel was busy."),
        polled(panel(StateName::ready), State::On,
            ready + " Grating 2 was not taken: the panel was busy."),
        take({ Kind::EntranceSlit, 1500 }, { "getState", "setInSlit", "getState" }, State::Moving,
            "Moving: EntranceSlit 1500 steps requested."),
        answered({ panel(StateName::ready),
                     QVariantMap { { "faultCode", -32602 }, { "faultString", "bad" } },
                     panel(StateName::ready) },
            State::On,
            ready + " EntranceSlit 1500 steps failed: the panel answered bad (-32602).") };

    // A fault ends the move at the first poll that shows it; Connect then closes first.
    const QString silent
        = "The panel reports \"no answer\": silent " + started + " failed." + reconnect;
    QTest::newRow("fault") << moveTaken
            + QList<Step> { polled(
                                panel(StateName::noAnswer, 1, 0, "silent"), State::Fault, silent),
                  take({ Kind::Connect }, { "close", "connect", "getState" }),
                  answered({ 0, 0, panel(StateName::wakingUp) }, State::Init,
                      "The instrument is waking up (about 90 s when it has to start its "
                      "firmware).") };

    // A move that Close has ended before it went out stays unsent.
    QTest::newRow("close") << QList<Step> { polled(panel(StateName::ready), State::On, ready),
        take(wavelength, wavelengthCalls, State::Moving, moving + '.'),
        take({ Kind::Close }, { "close", "getState" }), { Step::Send, {}, {}, {}, {}, {}, {} },
        answered(
            { 0, panel(StateName::closed) }, State::Off, closed + " Close ended " + started + '.'),
        // What became of the last request is told until the panel answers the next.
        take({ Kind::Connect }, { "connect", "getState" }),
        failed(Step::RequestFailed, { -32300, "refused", true },
            unreachable + "refused Connect failed: the panel answered refused (-32300).") };

    QTest::newRow("unreachable") << moveTaken
            + QList<Step> { failed(Step::PollFailed, { -32300, "timed out", true },
                unreachable + "timed out " + started
                    + " was interrupted: the panel could not be reached.") };
}

void TestPanelMirror::decisions()
{
    QFETCH(QList<Step>, steps);
    PanelTracker tracker(QUrl(QStringLiteral("http://127.0.0.1:8086/")));
    QList<QPair<PanelRequest, quint64>> taken;
    const auto methodsFor = [&](const QPair<PanelRequest, quint64> &request) {
        QStringList methods;
        for (const QVariant &call : tracker.callsFor(request.first, request.second))
            methods.append(call.toMap().value("methodName").toString());
        return methods;
    };
    for (const Step &step : std::as_const(steps)) {
        const PanelSnapshot before = tracker.snapshot();
        QStringList calls;
        switch (step.input) {
        case Step::Take:
            if (const std::optional<quint64> id = tracker.take(step.request)) {
                taken.append({ step.request, *id });
                calls = methodsFor(taken.last());
            }
            break;
        case Step::Send:
            calls = methodsFor(taken.first());
            break;
        case Step::Polled:
            tracker.stateAnswered(step.answer);
            break;
        case Step::Answered:
            tracker.requestAnswered(taken.last().first, taken.last().second, step.answer);
            break;
        case Step::PollFailed:
            tracker.stateFailed(step.failure);
            break;
        case Step::RequestFailed:
            tracker.requestFailed(taken.last().first, step.failure);
            break;
        }
        const PanelSnapshot now = tracker.snapshot();
        QCOMPARE(calls, step.calls);
        if (step.status.isNull()) {
            QCOMPARE(now.generation, before.generation);
            continue;
        }
        QCOMPARE(now.state, step.state);
        QCOMPARE(now.status, step.status);
        // The values are always the panel's last word.
        const QVariantMap values = step.input == Step::Answered
            ? step.answer.toList().constLast().toList().value(0).toMap()
            : step.answer.toMap();
        if (!values.isEmpty()) {
            QCOMPARE(QVariantList({ now.wavelength, now.position, now.readBack, now.entranceSlit,
                         now.exitSlit, now.grating }),
                QVariantList({ values.value(Key::wavelength), values.value(Key::position),
                    values.value(Key::readBacks).toInt() > 0, 100, 250, 1 }));
        }
    }
}

// Connect, a move that ends ON with its own read-back, and a fault during the next.
void TestPanelMirror::followsThePanel()
{
    TriaxSimulator simulator({});
    QVERIFY2(simulator.isValid(), qPrintable(simulator.errorString()));
    TriaxController controller(simulator.devicePath());
    RemoteAccess loopback;
    loopback.address = QHostAddress(QHostAddress::LocalHost);
    ServerXmlRPC remoteApi(&controller, 0, loopback);
    QVERIFY(remoteApi.serverPort() != 0);

    // On a thread of its own, as the device server runs it.
    QThread thread;
    auto *mirror
        = new PanelMirror(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(remoteApi.serverPort())));
    mirror->moveToThread(&thread);
    connect(&thread, &QThread::started, mirror, &PanelMirror::start);
    connect(&thread, &QThread::finished, mirror, &QObject::deleteLater);
    thread.start();
    const auto stop = qScopeGuard([&] {
        thread.quit();
        thread.wait();
    });
    PanelSnapshot refusal;
    QTRY_COMPARE(mirror->snapshot().state, State::Off);
    QVERIFY(mirror->request({ Kind::Connect }, &refusal));
    QTRY_COMPARE_WITH_TIMEOUT(mirror->snapshot().state, State::On, 10000);

    QVERIFY(mirror->request(wavelength, &refusal));
    QCOMPARE(mirror->snapshot().state, State::Moving);
    // ON comes with the read-back after the move, never before it.
    QTRY_COMPARE_WITH_TIMEOUT(mirror->snapshot().state, State::On, 10000);
    QCOMPARE(mirror->snapshot().wavelength, 546.075);
    QCOMPARE(mirror->snapshot().position, 21843);

    QVERIFY(mirror->request({ Kind::MoveRelative, 8000 }, &refusal));
    QTRY_COMPARE(controller.ready(), 0);
    simulator.hangUp();
    QTRY_COMPARE(mirror->snapshot().state, State::Fault);
    const QString status = mirror->snapshot().status;
    QVERIFY2(
        status.startsWith(QStringLiteral("The panel reports \"port lost\": serial port %1 lost: ")
                              .arg(simulator.devicePath()))
            && status.endsWith("MoveRelative 8000 steps failed." + reconnect),
        qPrintable(status));
}

QTEST_MAIN(TestPanelMirror)
#include "tst_panelmirror.moc"
