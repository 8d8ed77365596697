#include "debuglog.h"
#include "readback.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"

#include <QMetaEnum>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>
#include <tuple>

Q_DECLARE_METATYPE(TriaxSimulator::Fault)

// The controller against the simulated instrument, over a pseudo-terminal:
// what goes over the wire, the follow-ups, and the faults as every face
// reads them.
class TestDialogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void startUp();
    void startUpOnAnotherGratingSelectsItOnce();
    void slitMovesAreRelativeToTheReadBack();
    void noInstrumentIsNoAnswer();
    void closeDrainsTheQueue();
    void silentInstrumentHandsControlBack();
    void motionIsPolledAndReadBack_data();
    void motionIsPolledAndReadBack();
    void vanishedPortIsNoticed();

private:
    void start(const TriaxSimulator::Options &options, const QString &device = QString(),
        int answerGap = 0);
    bool isFault(TriaxController::State state) const;
    // Waits until the instrument is ready and every queued command answered.
    bool settle(int timeoutMs = 5000);
    QList<QByteArray> wire() const { return simulator->commands(); }

    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<TriaxController> triax;
    // Each state the controller enters, with ready() and the read-backs completed by then.
    QStringList states;
};

namespace {

const QList<QByteArray> startUpReadBack = readBackOnTheLine(TriaxProtocol::ReadBackAfter::WakeUp);
const QList<QByteArray> motionReadBack = readBackOnTheLine(TriaxProtocol::ReadBackAfter::Motion);

} // namespace

void TestDialogue::cleanup()
{
    triax.reset();
    simulator.reset();
}

void TestDialogue::start(
    const TriaxSimulator::Options &options, const QString &device, int answerGap)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    triax = std::make_unique<TriaxController>(device.isEmpty() ? simulator->devicePath() : device);
    triax->setAnswerGap(answerGap);
    states.clear();
    connect(
        triax.get(), &TriaxController::stateChanged, this, [this](TriaxController::State state) {
            states << QStringLiteral("%1 %2 %3")
                          .arg(QLatin1String(
                              QMetaEnum::fromType<TriaxController::State>().valueToKey(int(state))))
                          .arg(triax->ready())
                          .arg(triax->readBacks());
        });
    triax->openPort();
}

// A fault: the state says what went wrong, nothing reaches the instrument,
// and no face is told it is ready.
bool TestDialogue::isFault(TriaxController::State state) const
{
    return triax->state() == state && triax->ready() == 0 && triax->queuedCommands().isEmpty();
}

bool TestDialogue::settle(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] {
            return triax->state() == TriaxController::State::Ready
                && triax->queuedCommands().isEmpty();
        },
        timeoutMs);
}

// Ready as soon as the instrument is, before its values are in.
void TestDialogue::startUp()
{
    TriaxSimulator::Options options;
    options.wavelength = 546.075;
    options.entranceSlit = 250;
    options.exitSlit = 1400;
    start(options);
    QVERIFY(settle());
    QCOMPARE(states, QStringList({ "WakingUp 0 0", "ReadingBack 1 0", "Ready 1 1" }));
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(QStringList({ triax->positionText(), triax->wavelengthText(), triax->inSlitText(),
                 triax->outSlitText() }),
        QStringList({ "21843", "546.07", "250", "1400" }));
    // The window cuts the reading to two decimals; the number is the instrument's whole reading.
    QCOMPARE(triax->wavelength(), 546.075);
    QCOMPARE(triax->grating(), 0);
}

void TestDialogue::startUpOnAnotherGratingSelectsItOnce()
{
    TriaxSimulator::Options options;
    options.grating = 1;
    options.speed = 20000;
    start(options);
    QVERIFY(settle());

    const int polls = int(wire().count("E"));
    QVERIFY(polls >= 1);
    QCOMPARE(wire(),
        QList<QByteArray> { " " } + startUpReadBack + QList<QByteArray> { "Z451,0,0,0,1\r" }
            + QList<QByteArray>(polls, "E") + motionReadBack);
    QCOMPARE(triax->grating(), 1);
    // The start-up's and the grating change's.
    QCOMPARE(triax->readBacks(), 2);
}

void TestDialogue::slitMovesAreRelativeToTheReadBack()
{
    TriaxSimulator::Options options;
    options.entranceSlit = 1000;
    options.speed = 20000;
    start(options);
    QVERIFY(settle());

    // Each slit from its own width.
    for (const auto &[exit, width, command] : { std::tuple { false, 700, "k0,0,-300\r" },
             std::tuple { false, 1400, "k0,0,700\r" }, std::tuple { true, 50, "k0,2,-50\r" } }) {
        simulator->clearCommands();
        QVERIFY((exit ? triax->newOutSlit(width) : triax->newInSlit(width)).isEmpty());
        QVERIFY(settle());
        QCOMPARE(wire().first(), QByteArray(command));
        QCOMPARE(exit ? triax->outSlitSteps() : triax->inSlitSteps(), width);
        QCOMPARE(exit ? simulator->model().exitSlit() : simulator->model().entranceSlit(), width);
    }
}

void TestDialogue::noInstrumentIsNoAnswer()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::NoAnswer, QByteArray() } };
    start(options);

    QTRY_VERIFY_WITH_TIMEOUT(isFault(TriaxController::State::NoAnswer), 2000);
    QCOMPARE(wire(), QList<QByteArray> { " " });
    QCOMPARE(triax->readBacks(), 0);
}

void TestDialogue::closeDrainsTheQueue()
{
    TriaxSimulator::Options options;
    start(options);
    QTRY_COMPARE_WITH_TIMEOUT(triax->state(), TriaxController::State::ReadingBack, 2000);
    QCOMPARE(triax->queuedCommands().size(), 5);

    QStringList lines;
    {
        const DebugLog log;
        triax->setVerbose(true);
        triax->closePort();
        QTRY_VERIFY_WITH_TIMEOUT(triax->queuedCommands().isEmpty(), 2000);
        lines = log.lines();
    }

    // The reception under way ends empty-handed; every later command fails
    // to write and is dispatched at once.
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.at(0).startsWith(QLatin1String("tx: \"H0\" rx: \"RX_ERROR: ")),
        qPrintable(lines.at(0)));
    for (int i = 1; i < 5; ++i)
        QVERIFY2(lines.at(i).contains(QLatin1String("rx: \"TX_ERROR: ")), qPrintable(lines.at(i)));
    // A read-back drained on a closed port is no read-back.
    QCOMPARE(triax->state(), TriaxController::State::Closed);
    QCOMPARE(triax->readBacks(), 0);

    // Connecting again runs the handshake from the start.
    simulator->clearCommands();
    triax->openPort();
    QVERIFY(settle());
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(triax->readBacks(), 1);
}

void TestDialogue::silentInstrumentHandsControlBack()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::NoAnswer, "E" } };
    start(options);
    QVERIFY(settle());
    simulator->clearCommands();

    QStringList lines;
    {
        const DebugLog log;
        triax->newWavelength(546.07);
        QTRY_VERIFY_WITH_TIMEOUT(isFault(TriaxController::State::NoAnswer), 3000);
        lines = log.warnings();
    }
    QCOMPARE(wire(), (QList<QByteArray> { "Z61,0,546.07\r", "E", "E", "E", "E" }));
    QCOMPARE(triax->readBacks(), 1);
    QCOMPARE(lines,
        QStringList("instrument: no answer to \"E\" after 4 tries, last reception "
                    "\"RX_ERROR: empty answer/timeout ?\""));

    // Close and connect wake the instrument afresh.
    triax->closePort();
    triax->openPort();
    QVERIFY(settle());
}

void TestDialogue::vanishedPortIsNoticed()
{
    const QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyTRIAX"));
    TriaxSimulator::Options options;
    options.speed = 2000;
    options.link = device;
    start(options, device);
    QVERIFY(settle());

    triax->newWavelength(546.07);
    QTRY_VERIFY_WITH_TIMEOUT(wire().contains("E"), 2000);
    simulator->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(isFault(TriaxController::State::PortLost), 2000);
    QVERIFY(triax->faultReason().startsWith(QStringLiteral("serial port %1 lost: ").arg(device)));

    // Gone for now: connect says why.
    triax->openPort();
    QCOMPARE(triax->state(), TriaxController::State::OpenFailed);
    QCOMPARE(triax->statusText(), QStringLiteral("file not found: %1").arg(device));
    QCOMPARE(
        triax->faultReason(), QStringLiteral("serial port %1: file not found: %1").arg(device));

    // Back under the same name, where the move took it.
    options.wavelength = 546.07;
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY(simulator->isValid());
    triax->openPort();
    QVERIFY(settle());
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(triax->position(), 21843);
}

// A motion the instrument leaves unacknowledged is followed up all the same; with the answer
// gap the motor is polled and the values read back at the line's pace, lost and split answers
// included. Every answer is understood the first time, into its value.
void TestDialogue::motionIsPolledAndReadBack_data()
{
    QTest::addColumn<int>("answerGap");
    QTest::addColumn<bool>("relativeMove");
    QTest::addColumn<QList<TriaxSimulator::Fault>>("faults");
    QTest::addColumn<double>("speed");
    QTest::addColumn<int>("fewestPolls");
    QTest::addColumn<int>("mostPolls");
    QTest::addColumn<QStringList>("readBack");

    using Fault = TriaxSimulator::Fault;
    const int many = std::numeric_limits<int>::max();
    const QStringList moved { "21843", "546.07" };
    QTest::newRow("wavelength, garbled")
        << 0 << false << QList<Fault> { { Fault::Garbage, "Z61" } } << 2000.0 << 2 << many << moved;
    QTest::newRow("relative move, lost")
        << 0 << true << QList<Fault> { { Fault::NoAnswer, "F" } } << 2000.0 << 2 << many
        << QStringList { "22000", "550.00" };
    // A move of 0.9 s: the fixed waits fit at most six polls into it.
    QTest::newRow("answer gap") << 25 << false << QList<Fault>() << 2000.0 << 7 << many << moved;
    // Done before the first poll.
    QTest::newRow("answer gap, lost poll answer asked again")
        << 25 << false << QList<Fault> { { Fault::NoAnswer, "E", 1 } } << 1e6 << 2 << 2 << moved;
    // The first half has no third decimal, so the reception is not cut at the gap: it waits
    // for the rest.
    QTest::newRow("answer gap, split wavelength joined")
        << 25 << false << QList<Fault> { { Fault::Split, "Z62", 2 } } << 1e6 << 1 << 1 << moved;
}

void TestDialogue::motionIsPolledAndReadBack()
{
    QFETCH(int, answerGap);
    QFETCH(bool, relativeMove);
    QFETCH(QList<TriaxSimulator::Fault>, faults);
    QFETCH(double, speed);
    QFETCH(int, fewestPolls);
    QFETCH(int, mostPolls);
    QFETCH(QStringList, readBack);

    TriaxSimulator::Options options;
    options.speed = speed;
    options.faults = faults;
    if (answerGap > 0) {
        // The instrument's own line speed and a few ms of thought; a late piece comes after
        // the gap but within the whole waiting time.
        options.baud = 19200;
        options.latency = 3;
        options.faultDelay = 100;
    }
    start(options, QString(), answerGap);
    QVERIFY(settle());
    simulator->clearCommands();
    states.clear();

    QVERIFY((relativeMove ? triax->moveRelative(2000) : triax->newWavelength(546.07)).isEmpty());
    QVERIFY(settle());
    // Ready again as soon as the motor has stopped; a relative move leaves the panel open.
    QStringList expected { "Moving 0 1", "Busy 0 1", "ReadingBack 1 1", "Ready 1 2" };
    if (relativeMove)
        expected.removeAt(1);
    QCOMPARE(states, expected);
    const QList<QByteArray> sent = wire();
    const int polls = int(sent.count("E"));
    QVERIFY2(polls >= fewestPolls && polls <= mostPolls, qPrintable(QString::number(polls)));
    QCOMPARE(sent,
        QList<QByteArray> { relativeMove ? "F0,2000\r" : "Z61,0,546.07\r" }
            + QList<QByteArray>(polls, "E") + motionReadBack);
    QCOMPARE(QStringList({ triax->positionText(), triax->wavelengthText() }), readBack);
    QCOMPARE(QList<int>({ triax->inSlitSteps(), triax->outSlitSteps(), triax->grating() }),
        QList<int>({ 100, 100, 0 }));
}

QTEST_MAIN(TestDialogue)
#include "tst_dialogue.moc"
