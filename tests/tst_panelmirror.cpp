#include "paneltracker.h"
#include "remotecontract.h"

#include <QTest>

namespace Key = RemoteContract::Key;
namespace StateName = RemoteContract::StateName;
namespace Accepts = RemoteContract::Accepts;
using State = PanelSnapshot::State;
using Kind = PanelRequest::Kind;

namespace {

// One outcome handed to the tracker and what it publishes then: a state and a status, or, with
// no status, nothing new. A request tells the methods of its multicall, or is refused unsent;
// its answer gives the verdict.
struct Step
{
    enum Input { Request, Polled, Answered, PollFailed, RequestFailed } input;
    PanelRequest request;
    QVariant answer;
    PanelTracker::Failure failure;
    State state = State::Init;
    QString status;
    QStringList calls;
    // Empty when the request was taken.
    QString verdict;
    bool outOfRange = false;
};

// getState's answer, as the panel gives it.
QVariantMap panel(QLatin1String state, int readBacks = 1, const QString &reason = {})
{
    const bool offersConnect = state == StateName::closed || state == StateName::wakingUp
        || state == StateName::portLost || state == StateName::cannotOpen;
    return { { Key::state, state }, { Key::text, state }, { Key::reason, reason },
        { Key::readBacks, readBacks }, { Key::wavelength, 500.0 + readBacks },
        { Key::position, 20000 + readBacks }, { Key::inSlit, 100 }, { Key::outSlit, 250 },
        { Key::grating, 1 },
        { Key::accepts, QVariantMap { { Accepts::connect, offersConnect } } } };
}

Step request(const PanelRequest &request, const QStringList &calls, const QString &verdict = {})
{
    return { Step::Request, request, {}, {}, {}, {}, calls, verdict };
}
Step polled(const QVariant &answer, State state, const QString &status)
{
    return { Step::Polled, {}, answer, {}, state, status, {}, {} };
}
// A multicall's answers: each result in a list of its own, a fault as a struct.
Step answered(const QVariantList &results, State state, const QString &status,
    const QString &verdict = {}, bool outOfRange = false)
{
    QVariantList list;
    for (const QVariant &result : results)
        list.append(result.toMap().contains("faultCode") ? result : QVariantList { result });
    return { Step::Answered, {}, list, {}, state, status, {}, verdict, outOfRange };
}
Step failed(Step::Input input, const PanelTracker::Failure &failure, const QString &status,
    const QString &verdict = {})
{
    return { input, {}, {}, failure, State::Fault, status, {}, verdict };
}

const QString ready = QStringLiteral("The instrument is ready.");
const QString closed = QStringLiteral("The port is closed; Connect brings the instrument up.");
const QString moving = QStringLiteral("Moving: Wavelength 546.07 nm requested");
const QString reconnect = QStringLiteral(" Connect closes the port and connects again.");
const QString unreachable
    = QStringLiteral("The panel at http://127.0.0.1:8086/ cannot be reached: ");
const PanelRequest wavelength { Kind::Wavelength, 546.07 };
const QStringList wavelengthCalls { "getState", "setWavelength", "getState" };
const QVariantMap busy = panel(StateName::busy);

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

// The device server's decisions step by step. The mirror on its own thread, against the panel,
// is tested with the Tango device.
class TestPanelMirror : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decisions_data();
    void decisions();
};

void TestPanelMirror::decisions_data()
{
    QTest::addColumn<QList<Step>>("steps");
    const QString lost = QStringLiteral("serial port /dev/ttyUSB0 lost: reading from the device");
    const QString started = QStringLiteral("Wavelength 546.07 nm");
    // The panel has taken a move.
    const QList<Step> moveTaken { polled(panel(StateName::ready), State::On, ready),
        request(wavelength, wavelengthCalls),
        answered({ panel(StateName::ready), QString(), busy }, State::Moving,
            moving + "; waiting for the instrument.", "") };

    QTest::newRow("states") << QList<Step> { polled(
                                                 panel(StateName::closed, 0), State::Off, closed),
        polled(panel(StateName::wakingUp, 0), State::Init,
            "The instrument is waking up (about 90 s when it has to start its firmware)."),
        polled(panel(StateName::readingBack), State::Moving,
            "The instrument is ready; its values are being read back."),
        polled(panel(StateName::busy), State::Moving, "The instrument is moving."),
        polled(panel(StateName::portLost, 1, lost), State::Fault,
            "The panel reports \"port lost\": " + lost + reconnect),
        polled(panel(StateName::cannotOpen, 1), State::Fault,
            "The panel reports \"cannot open\"." + reconnect),
        failed(Step::PollFailed, { -32601, "no such method", false },
            unreachable + "it answered getState with no such method (-32601)") };

    // ON only once the read-back after the move has come in; a request the panel refuses
    // meanwhile leaves the move as it is.
    const QString stillMoving = moving + "; waiting for the instrument.";
    QTest::newRow("move") << moveTaken
            + QList<Step> { request({ Kind::Wavelength, 600 }, wavelengthCalls),
                  answered({ busy, "wavelength 600 nm refused: motor busy", busy }, State::Moving,
                      stillMoving,
                      "Wavelength 600 nm was not taken: the panel answered \"wavelength 600 nm "
                      "refused: motor busy\"."),
                  polled(panel(StateName::readingBack), State::Moving,
                      moving + "; waiting for its read-back."),
                  polled(panel(StateName::ready), State::Moving,
                      moving + "; waiting for its read-back."),
                  polled(panel(StateName::ready, 2), State::On, ready) };

    // In the panel's words, told in the status until the next request.
    const QString gratingRefused
        = "Grating 2 was not taken: the panel answered \"grating 2 refused: motor busy\".";
    const QString outside = "MoveRelative 20000 steps was not taken: the panel answered "
                            "\"relative move 20000 steps refused: outside -10000 to 10000 steps, "
                            "a quarter of the range\".";
    const QString badSlit = "EntranceSlit 1500 steps failed: the panel answered bad (-32602).";
    QTest::newRow("refused") << QList<Step> { polled(
                                                  busy, State::Moving, "The instrument is moving."),
        request({ Kind::Grating, 2 }, { "getState", "setGrating", "getState" }),
        answered({ busy, "grating 2 refused: motor busy", busy }, State::Moving,
            "The instrument is moving. " + gratingRefused, gratingRefused),
        polled(panel(StateName::ready), State::On, ready + ' ' + gratingRefused),
        request({ Kind::MoveRelative, 20000 }, { "getState", "moveRelative", "getState" }),
        answered({ panel(StateName::ready),
                     "relative move 20000 steps refused: outside -10000 to 10000 steps, a "
                     "quarter of the range",
                     panel(StateName::ready) },
            State::On, ready + ' ' + outside, outside, true),
        request({ Kind::EntranceSlit, 1500 }, { "getState", "setInSlit", "getState" }),
        answered({ panel(StateName::ready),
                     QVariantMap { { "faultCode", -32602 }, { "faultString", "bad" } },
                     panel(StateName::ready) },
            State::On, ready + ' ' + badSlit, badSlit),
        // Connected already: nothing to do, and no error.
        request({ Kind::Connect }, { "getState", "connect", "getState" }),
        answered({ panel(StateName::ready), 0, panel(StateName::ready) }, State::On, ready, "") };

    // A fault ends the move at the first poll that shows it; Connect then closes first.
    const QString silent
        = "The panel reports \"no answer\": silent " + started + " failed." + reconnect;
    QTest::newRow("fault") << moveTaken
            + QList<Step> { polled(panel(StateName::noAnswer, 1, "silent"), State::Fault, silent),
                  request({ Kind::Connect }, { "getState", "close", "connect", "getState" }),
                  answered({ panel(StateName::noAnswer), 0, 0, panel(StateName::wakingUp) },
                      State::Init,
                      "The instrument is waking up (about 90 s when it has to start its "
                      "firmware).",
                      "") };

    // Close ends a move; a panel gone refuses the next request before it is sent.
    const QString connectFailed = "Connect failed: the panel answered refused (-32300).";
    QTest::newRow("close") << moveTaken
            + QList<Step> { request({ Kind::Close }, { "getState", "close", "getState" }),
                  answered({ busy, 0, panel(StateName::closed) }, State::Off,
                      closed + " Close ended " + started + '.', ""),
                  request({ Kind::Connect }, { "getState", "connect", "getState" }),
                  failed(Step::RequestFailed, { -32300, "refused", true },
                      unreachable + "refused " + connectFailed, connectFailed),
                  request(wavelength, {},
                      "Wavelength 546.07 nm was not sent: the panel at http://127.0.0.1:8086/ "
                      "cannot be reached: refused") };

    QTest::newRow("unreachable") << moveTaken
            + QList<Step> { failed(Step::PollFailed, { -32300, "timed out", true },
                unreachable + "timed out " + started
                    + " was interrupted: the panel could not be reached.") };
}

void TestPanelMirror::decisions()
{
    QFETCH(QList<Step>, steps);
    PanelTracker tracker(QUrl(QStringLiteral("http://127.0.0.1:8086/")));
    PanelRequest sent;
    for (const Step &step : std::as_const(steps)) {
        const PanelSnapshot before = tracker.snapshot();
        QStringList calls;
        std::optional<PanelVerdict> verdict;
        switch (step.input) {
        case Step::Request:
            verdict = tracker.refusalUnsent(step.request);
            if (!verdict) {
                for (const QVariant &call : tracker.callsFor(step.request))
                    calls.append(call.toMap().value("methodName").toString());
            }
            sent = step.request;
            break;
        case Step::Polled:
            tracker.stateAnswered(step.answer);
            break;
        case Step::Answered:
            verdict = tracker.requestAnswered(sent, step.answer);
            break;
        case Step::PollFailed:
            tracker.stateFailed(step.failure);
            break;
        case Step::RequestFailed:
            verdict = tracker.requestFailed(sent, step.failure);
            break;
        }
        const PanelSnapshot now = tracker.snapshot();
        QCOMPARE(calls, step.calls);
        if (verdict) {
            QCOMPARE(verdict->text, step.verdict);
            QCOMPARE(verdict->taken, step.verdict.isEmpty());
            QCOMPARE(verdict->outOfRange, step.outOfRange);
            QCOMPARE(verdict->state, now.state);
        } else {
            QVERIFY(step.verdict.isNull());
        }
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

QTEST_MAIN(TestPanelMirror)
#include "tst_panelmirror.moc"
