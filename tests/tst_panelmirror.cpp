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

#include <mutex>
#include <thread>

namespace Key = RemoteContract::Key;
namespace StateName = RemoteContract::StateName;
using State = PanelSnapshot::State;
using Kind = PanelRequest::Kind;

namespace {

// One outcome handed to the tracker and what it must publish then; for a request taken, the
// methods of its multicall.
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

// A multicall's answers: each result in a list of its own, a fault as a struct.
QVariantList answers(const QVariantList &results)
{
    QVariantList list;
    for (const QVariant &result : results)
        list.append(
            result.typeId() == QMetaType::QVariantMap && result.toMap().contains("faultCode")
                ? result
                : QVariant(QVariantList { result }));
    return list;
}

Step take(const PanelRequest &request, State state, const QString &status, const QStringList &calls)
{
    return { Step::Take, request, {}, {}, state, status, calls };
}
Step polled(const QVariant &answer, State state, const QString &status)
{
    return { Step::Polled, {}, answer, {}, state, status, {} };
}
Step answered(const QVariantList &results, State state, const QString &status)
{
    return { Step::Answered, {}, answers(results), {}, state, status, {} };
}

const QString ready = QStringLiteral("The instrument is ready.");
const QString moving = QStringLiteral("Moving: Wavelength 546.07 nm requested");
const QString waitingForIt = moving + QStringLiteral("; waiting for the instrument.");
const QString reconnect = QStringLiteral(" Connect closes the port and connects again.");
const QString unreachable
    = QStringLiteral("The panel at http://127.0.0.1:8086/ cannot be reached: ");
const QStringList move { "getState", "setWavelength", "getState" };
const PanelRequest wavelength { Kind::Wavelength, 546.07 };

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
    const QVariantMap taken = panel(StateName::busy, 1, 0);
    const QString lost
        = QStringLiteral("serial port /dev/ttyUSB0 lost: reading from the device failed");

    QTest::newRow("states") << QList<Step> {
        polled(panel(StateName::closed, 0), State::Off,
            "The port is closed; Connect brings the instrument up."),
        polled(panel(StateName::wakingUp, 0), State::Init,
            "The instrument is waking up (about 90 s when it has to start its firmware)."),
        polled(panel(StateName::readingBack), State::Moving,
            "The instrument is ready; its values are being read back."),
        polled(panel(StateName::busy), State::Moving, "The instrument is moving."),
        polled(panel(StateName::portLost, 1, 0, lost), State::Fault,
            "The panel reports \"port lost\": " + lost + reconnect),
        polled(panel(StateName::cannotOpen, 1, 0), State::Fault,
            "The panel reports \"cannot open\"." + reconnect),
        polled(5, State::Fault, unreachable + "it answered getState with int")
    };

    // ON only once the read-back after the move has come in.
    QTest::newRow("move") << QList<Step> { polled(panel(StateName::ready), State::On, ready),
        take(wavelength, State::Moving, moving + '.', move),
        take({ Kind::Wavelength, 600 }, State::Moving, moving + '.', {}),
        take({ Kind::Connect }, State::Moving, moving + '.', {}),
        answered({ panel(StateName::ready), QString(), taken }, State::Moving, waitingForIt),
        polled(
            panel(StateName::readingBack), State::Moving, moving + "; waiting for its read-back."),
        polled(panel(StateName::ready), State::Moving, moving + "; waiting for its read-back."),
        polled(panel(StateName::ready, 2), State::On, ready) };

    QTest::newRow("busy, refused") << QList<Step> {
        polled(panel(StateName::ready), State::On, ready),
        take({ Kind::Grating, 2 }, State::Moving, "Moving: Grating 2 requested.",
            { "getState", "setGrating", "getState" }),
        answered({ taken, QString(), taken }, State::Moving,
            "The instrument is moving. Grating 2 was not taken: the panel was busy."),
        take({ Kind::EntranceSlit, 1500 }, State::Moving,
            "The instrument is moving. Grating 2 was not taken: the panel was busy.", {}),
        polled(panel(StateName::ready), State::On,
            ready + " Grating 2 was not taken: the panel was busy."),
        take({ Kind::EntranceSlit, 1500 }, State::Moving,
            "Moving: EntranceSlit 1500 steps requested.", { "getState", "setInSlit", "getState" }),
        answered({ panel(StateName::ready),
                     QVariantMap { { "faultCode", -32602 }, { "faultString", "bad arguments" } },
                     panel(StateName::ready) },
            State::On,
            ready + " EntranceSlit 1500 steps failed: the panel answered bad arguments (-32602).")
    };

    // A fault ends the move at the first poll that shows it; Connect then closes first.
    QTest::newRow("fault, connect") << QList<Step> { polled(
                                                         panel(StateName::ready), State::On, ready),
        take(wavelength, State::Moving, moving + '.', move),
        answered({ panel(StateName::ready), QString(), taken }, State::Moving, waitingForIt),
        polled(panel(StateName::noAnswer, 1, 0, "silent"), State::Fault,
            "The panel reports \"no answer\": silent Wavelength 546.07 nm failed." + reconnect),
        take({ Kind::Connect }, State::Fault,
            "The panel reports \"no answer\": silent Wavelength 546.07 nm failed." + reconnect,
            { "close", "connect", "getState" }),
        answered({ 0, 0, panel(StateName::wakingUp) }, State::Init,
            "The instrument is waking up (about 90 s when it has to start its firmware).") };

    // A move that Close has ended before it went out stays unsent.
    QTest::newRow("close") << QList<Step> { polled(panel(StateName::ready), State::On, ready),
        take(wavelength, State::Moving, moving + '.', move),
        take({ Kind::Close }, State::Moving, moving + '.', { "close", "getState" }),
        { Step::Send, {}, {}, {}, State::Moving, moving + '.', {} },
        answered({ 0, panel(StateName::closed) }, State::Off,
            "The port is closed; Connect brings the instrument up. Close ended Wavelength 546.07 "
            "nm."),
        // A request clears what became of the last one only once the panel answers again.
        take({ Kind::Connect }, State::Off,
            "The port is closed; Connect brings the instrument up. Close ended Wavelength 546.07 "
            "nm.",
            { "connect", "getState" }) };

    QTest::newRow("unreachable") << QList<Step> { polled(panel(StateName::ready), State::On, ready),
        take(wavelength, State::Moving, moving + '.', move),
        answered({ panel(StateName::ready), QString(), taken }, State::Moving, waitingForIt),
        { Step::PollFailed, {}, {}, { -32300, "timed out", true }, State::Fault,
            unreachable
                + "timed out Wavelength 546.07 nm was interrupted: the panel could not be reached.",
            {} },
        { Step::PollFailed, {}, {}, { -32601, "no such method", false }, State::Fault,
            unreachable
                + "it answered getState with no such method (-32601) Wavelength 546.07 nm was "
                  "interrupted: the panel could not be reached.",
            {} },
        take({ Kind::Connect }, State::Fault,
            unreachable
                + "it answered getState with no such method (-32601) Wavelength 546.07 nm was "
                  "interrupted: the panel could not be reached.",
            { "close", "connect", "getState" }),
        { Step::RequestFailed, {}, {}, { -32300, "refused", true }, State::Fault,
            unreachable + "refused Connect failed: the panel answered refused (-32300).", {} } };
}

void TestPanelMirror::decisions()
{
    QFETCH(QList<Step>, steps);
    PanelTracker tracker(QUrl(QStringLiteral("http://127.0.0.1:8086/")));
    QList<QPair<PanelRequest, quint64>> taken;
    for (const Step &step : std::as_const(steps)) {
        const PanelSnapshot before = tracker.snapshot();
        QStringList calls;
        switch (step.input) {
        case Step::Take:
            if (const std::optional<quint64> id = tracker.take(step.request)) {
                taken.append({ step.request, *id });
                for (const QVariant &call : tracker.callsFor(step.request, *id))
                    calls.append(call.toMap().value("methodName").toString());
            } else {
                QCOMPARE(tracker.snapshot().generation, before.generation);
            }
            break;
        case Step::Send:
            QVERIFY(tracker.callsFor(taken.first().first, taken.first().second).isEmpty());
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
        QCOMPARE(now.state, step.state);
        QCOMPARE(now.status, step.status);
        QCOMPARE(calls, step.calls);
        // The values are always the panel's last word.
        const QVariant last = step.input == Step::Answered
            ? step.answer.toList().last().toList().value(0)
            : step.answer;
        if (last.typeId() == QMetaType::QVariantMap) {
            const QVariantMap values = last.toMap();
            QCOMPARE(now.wavelength, values.value(Key::wavelength).toDouble());
            QCOMPARE(now.position, values.value(Key::position).toInt());
            QCOMPARE(now.readBack, values.value(Key::readBacks).toInt() > 0);
            QCOMPARE(QList<int>({ now.entranceSlit, now.exitSlit, now.grating }),
                QList<int>({ 100, 250, 1 }));
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

    // On a thread of its own, as the device server runs it; another reads every snapshot.
    QThread thread;
    auto *mirror
        = new PanelMirror(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(remoteApi.serverPort())));
    mirror->moveToThread(&thread);
    connect(&thread, &QThread::started, mirror, &PanelMirror::start);
    connect(&thread, &QThread::finished, mirror, &QObject::deleteLater);
    std::mutex seenMutex;
    QList<PanelSnapshot> seen;
    std::thread watcher([&] {
        quint64 generation = 0;
        while (const std::optional<PanelSnapshot> now = mirror->waitForChange(generation)) {
            generation = now->generation;
            const std::lock_guard<std::mutex> lock(seenMutex);
            seen.append(*now);
        }
    });
    thread.start();
    const auto stop = qScopeGuard([&] {
        mirror->stopWaiting();
        watcher.join();
        thread.quit();
        thread.wait();
    });
    PanelSnapshot refusal;
    QTRY_COMPARE(mirror->snapshot().state, State::Off);
    QVERIFY(mirror->request({ Kind::Connect }, &refusal));
    QTRY_COMPARE_WITH_TIMEOUT(mirror->snapshot().state, State::On, 10000);

    QVERIFY(mirror->request(wavelength, &refusal));
    QCOMPARE(mirror->snapshot().state, State::Moving);
    QTRY_COMPARE_WITH_TIMEOUT(mirror->snapshot().state, State::On, 10000);
    QCOMPARE(mirror->snapshot().wavelength, 546.07);
    QCOMPARE(mirror->snapshot().position, 21843);
    {
        const std::lock_guard<std::mutex> lock(seenMutex);
        const auto movingAt = std::find_if(seen.cbegin(), seen.cend(),
            [](const PanelSnapshot &snapshot) { return snapshot.status.startsWith(moving); });
        QVERIFY(movingAt != seen.cend());
        for (auto it = movingAt; it != seen.cend(); ++it)
            QVERIFY(it->state != State::On || it->wavelength == 546.07);
    }

    QVERIFY(mirror->request({ Kind::MoveRelative, 20000 }, &refusal));
    QTRY_COMPARE(controller.ready(), 0);
    simulator.hangUp();
    QTRY_COMPARE(mirror->snapshot().state, State::Fault);
    QVERIFY2(mirror->snapshot().status.startsWith(
                 QStringLiteral("The panel reports \"port lost\": serial port %1 lost: ")
                     .arg(simulator.devicePath())),
        qPrintable(mirror->snapshot().status));
    QVERIFY(mirror->snapshot().status.endsWith(QLatin1String(
        "MoveRelative 20000 steps failed. Connect closes the port and connects again.")));
}

QTEST_MAIN(TestPanelMirror)
#include "tst_panelmirror.moc"
