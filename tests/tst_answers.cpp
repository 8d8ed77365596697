#include "debuglog.h"
#include "pseudoterminal.h"
#include "triaxcontroller.h"
#include "triaxlimits.h"
#include "triaxprotocol.h"

#include <QRegularExpression>
#include <QTest>

#include <list>
#include <tuple>

using Meaning = TriaxProtocol::Reading::Meaning;
Q_DECLARE_METATYPE(Meaning)

namespace {

struct Bench
{
    PseudoTerminal line;
    TriaxController panel { line.devicePath() };
};

// Answers the read-back commands after the first.
void answerReadBack(PseudoTerminal &instrument)
{
    for (const QString &command :
        TriaxProtocol::readBack(TriaxProtocol::ReadBackAfter::WakeUp).mid(1)) {
        const QByteArray wire = TriaxProtocol::kindOf(command).wire;
        QCOMPARE(instrument.read(int(wire.size()), 1000), wire);
        instrument.write(command == QLatin1String("Z62,0") ? "o500.000" : "o0");
    }
}

} // namespace

// The instrument's protocol as a table of answers and what they say,
// including the answers a well-behaved instrument never gives; and the
// controller's own dealings with the line that the simulator cannot provoke.
class TestAnswers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readings_data();
    void readings();
    void framing_data();
    void framing();
    void requestLimits();
    void requestsAreCheckedAndSpelled();
    void statesAreShownAndTakeWhatTheyAccept();
    void verboseTracesWhatItReads();
    void requestsDuringAFlightGoOutOnce();

private:
    // Controllers on pseudo-terminals, woken up together, since each waits out the space's
    // whole waiting time: each reads back, its first read-back command in flight.
    void wakeUp(int count = 1);

    std::list<Bench> benches;
};

void TestAnswers::readings_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<Meaning>("meaning");
    QTest::addColumn<QString>("text"); // the follow-up, or the value recorded
    QTest::addColumn<QString>("complaint");

    const auto row = [](const char *name, const char *command, const QByteArray &received,
                         Meaning meaning, const char *text = "", const char *complaint = "") {
        QTest::newRow(name) << QString::fromLatin1(command) << received << meaning
                            << QString::fromLatin1(text) << QString::fromLatin1(complaint);
    };
    row("space, B", " ", "B", Meaning::Next, "O2000");
    row("space, F", " ", "F", Meaning::Awake);
    row("space, *", " ", "*", Meaning::Next, "\\247");
    row("space, other", " ", "x", Meaning::NotUnderstood);
    row("O2000, *", "O2000", "*", Meaning::Next, "A");
    row("O2000, other", "O2000", "o", Meaning::NotUnderstood);
    row("autobaud, =", "\\247", "=", Meaning::Next, "O2000");
    row("autobaud, other", "\\247", "x", Meaning::NotUnderstood, "",
        "<247> returned <> '=' so... autobaud again (counter++)");
    row("A, o", "A", "o", Meaning::Next, " ");
    row("A, other", "A", "=", Meaning::NotUnderstood, "", "A returned strange result <> 'o' !");
    row("E, finished", "E", "oz", Meaning::MotionEnded);
    row("E, moving", "E", "oq", Meaning::StillMoving);
    row("E, o alone", "E", "o", Meaning::NotUnderstood, "",
        "E returned strange result <> 'o[q,z]' !");
    row("E, other", "E", "x", Meaning::NotUnderstood, "", "E returned strange result <> 'o' !");
    row("F taken", "F0,100", "o", Meaning::QuietMotionTaken);
    row("F refused", "F0,100", "b", Meaning::NotUnderstood, "",
        "F returned strange result <> 'o' !");
    row("Z61 taken", "Z61,0,546.07", "o", Meaning::MotionTaken);
    row("Z61 refused", "Z61,0,546.07", "#", Meaning::NotUnderstood, "",
        "Z61 returned strange result <> 'o' !");
    row("Z451 refused", "Z451,0,0,0,2", "#\r?", Meaning::NotUnderstood, "",
        "Z451 returned strange result <> 'o' !");
    row("k refused", "k0,2,-5", "b", Meaning::NotUnderstood, "",
        "k returned strange result <> 'o' !");
    row("position, five digits kept", "H0", "o123456", Meaning::Position, "12345");
    row("position, no o", "H0", "123", Meaning::NotUnderstood);
    row("position, up to NUL", "H0",
        QByteArray("o1\0"
                   "99",
            5),
        Meaning::Position, "1");
    row("wavelength read whole", "Z62,0", "o546.0799\r", Meaning::Wavelength, "546.0799");
    row("wavelength needs a third decimal", "Z62,0", "o546.07", Meaning::NotUnderstood);
    row("grating", "Z452,0,0,0", "o1", Meaning::Grating, "1");
    row("entrance slit", "j0,0", "o12", Meaning::InSlit, "12");
    row("exit slit", "j0,2", "o0700", Meaning::OutSlit, "0700");
    row("exit slit, no digits", "j0,2", "o", Meaning::NotUnderstood);
    row("slit 1 does not exist", "j0,1", "o0700", Meaning::Other);
    row("typed G", "G1", "o", Meaning::Other);
    row("byte escape", "\\248", "x", Meaning::Other);
}

void TestAnswers::readings()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, received);
    QFETCH(Meaning, meaning);
    QFETCH(QString, text);
    QFETCH(QString, complaint);

    const TriaxProtocol::Reading reading = TriaxProtocol::read(command, received);
    QCOMPARE(reading.meaning, meaning);
    QCOMPARE(reading.text, text);
    QCOMPARE(QString::fromLatin1(reading.complaint), complaint);
    // The answer gap ends a reception where the parser would understand it.
    const CommandKind kind = TriaxProtocol::kindOf(command);
    if (kind.shape)
        QCOMPARE(kind.shape(received), meaning != Meaning::NotUnderstood);
}

void TestAnswers::framing_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("wait");
    QTest::addColumn<bool>("gap");

    QTest::newRow("byte escape 247") << "\\247" << QByteArray("\xf7") << 200 << false;
    QTest::newRow("byte escape 256 wraps") << "\\256" << QByteArray(1, '\0') << 200 << false;
    QTest::newRow("digit 0 is text") << "\\200" << QByteArray("\\200") << 200 << false;
    QTest::newRow("escape then line feed is text") << "\\248\n"
                                                   << QByteArray("\\248\n") << 200 << false;
    QTest::newRow("O2000") << "O2000" << QByteArray::fromHex("4f3230303000") << 500 << false;
    QTest::newRow("O2000 and a space") << "O2000 " << QByteArray("O2000 ") << 200 << false;
    QTest::newRow("letter command") << "H0" << QByteArray("H0\r") << 200 << true;
    QTest::newRow("typed letter command") << "G1" << QByteArray("G1\r") << 200 << false;
    QTest::newRow("slit command") << "k0,2,-5" << QByteArray("k0,2,-5\r") << 200 << true;
    QTest::newRow("lower case from l on") << "lx" << QByteArray("lx") << 200 << false;
    QTest::newRow("upper case not listed") << "Dx" << QByteArray("Dx") << 200 << false;
    QTest::newRow("motor busy query") << "E" << QByteArray("E") << 200 << true;
    QTest::newRow("space") << " " << QByteArray(" ") << 500 << false;
    QTest::newRow("start") << "A" << QByteArray("A") << 90000 << false;
}

void TestAnswers::framing()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, wire);
    QFETCH(int, wait);
    QFETCH(bool, gap);

    const CommandKind kind = TriaxProtocol::kindOf(command);
    QCOMPARE(kind.wire, wire);
    QCOMPARE(kind.waitMs, wait);
    QCOMPARE(kind.shape != nullptr, gap);
}

void TestAnswers::wakeUp(int count)
{
    benches.clear();
    for (int i = 0; i < count; ++i)
        benches.emplace_back().panel.openPort();
    for (Bench &bench : benches) {
        QCOMPARE(bench.line.read(1, 1000), QByteArray(" "));
        bench.line.write("F");
    }
    for (Bench &bench : benches) {
        QTRY_COMPARE_WITH_TIMEOUT(bench.panel.state(), TriaxController::State::ReadingBack, 2000);
        QCOMPARE(bench.line.read(3, 1000), QByteArray("H0\r"));
    }
}

// Each request's limits, the one table every face takes them from: taken at both ends, the
// command spelled without trailing zeros; refused just outside, saying what the range is.
void TestAnswers::requestLimits()
{
    struct Limit
    {
        const char *request;
        const char *command;
        QList<double> taken;
        QList<double> refused;
        const char *range;
    };
    // Nothing has been read back yet: a slit moves from 0.
    const Limit limits[] = {
        { "wavelength", "Z61,0,", { 250, 1300 }, { 249.99, 1300.01, qQNaN() }, "250 to 1300 nm" },
        { "entrance slit", "k0,0,", { 0, 1400 }, { -1, 1401 }, "0 to 1400 steps" },
        { "exit slit", "k0,2,", { 0, 1400 }, { -1, 1401 }, "0 to 1400 steps" },
        { "grating", "Z451,0,0,0,", { 0, 2 }, { -1, 3 }, "0 to 2" },
        { "relative move", "F0,", { -10000, 10000 }, { -10001, 10001 }, "-10000 to 10000 steps" },
    };
    // A taken request leaves its instrument busy: each value has one of its own.
    int count = 0;
    for (const Limit &limit : limits)
        count += int(limit.taken.size() + limit.refused.size());
    wakeUp(count);
    auto bench = benches.begin();
    for (const auto &[request, command, taken, refused, range] : limits) {
        for (const double value : taken + refused) {
            TriaxController &panel = (bench++)->panel;
            const qsizetype readBack = panel.queuedCommands().size();
            const QLatin1String name(request);
            const int steps = int(value);
            const QString verdict = name == QLatin1String("wavelength") ? panel.newWavelength(value)
                : name == QLatin1String("entrance slit")                ? panel.newInSlit(steps)
                : name == QLatin1String("exit slit")                    ? panel.newOutSlit(steps)
                : name == QLatin1String("grating")                      ? panel.changeGrating(steps)
                                                                        : panel.moveRelative(steps);
            const bool isTaken = taken.contains(value);
            const QString row = QStringLiteral("%1 %2: %3").arg(name).arg(value).arg(verdict);
            QVERIFY2(isTaken ? verdict.isEmpty()
                             : verdict.contains(QStringLiteral("refused: outside %1, ").arg(range)),
                qPrintable(row));
            QVERIFY2(panel.queuedCommands().mid(readBack)
                    == (isTaken ? QList<QString> { command + QString::number(value) }
                                : QList<QString>()),
                qPrintable(row));
        }
    }
}

// Every face's request is checked alike, the state before the value, and
// goes out as the operator would type it unless typed otherwise; a refusal
// says why, and a wait after a taken request lasts until it has been read
// back.
void TestAnswers::requestsAreCheckedAndSpelled()
{
    TriaxController closed(QStringLiteral("/dev/null"));
    QCOMPARE(closed.newWavelength(2000),
        QStringLiteral("wavelength 2000 nm refused: not ready, the port is closed"));
    QCOMPARE(closed.settling(), TriaxController::Settling::Failed);
    QCOMPARE(closed.settlingFailure(), QStringLiteral("the port is closed"));

    wakeUp(3);
    TriaxController &triax = benches.front().panel;
    QCOMPARE(triax.settling(), TriaxController::Settling::Pending);
    QCOMPARE(triax.newWavelength(2000),
        QStringLiteral("wavelength 2000 nm refused: outside 250 to 1300 nm, ")
            + QLatin1String(TriaxLimits::wavelength.reason));
    QVERIFY(triax.newWavelength(1234.5678).isEmpty());
    QCOMPARE(triax.queuedCommands().last(), QStringLiteral("Z61,0,1234.57"));
    QCOMPARE(triax.newWavelength(546.07, QStringLiteral("+546.07")),
        QStringLiteral("wavelength +546.07 nm refused: motor busy"));
    QCOMPARE(triax.settling(), TriaxController::Settling::Pending);

    TriaxController &typedZero = std::next(benches.begin())->panel;
    QVERIFY(typedZero.moveRelative(100, QStringLiteral("0100")).isEmpty());
    QCOMPARE(typedZero.queuedCommands().last(), QStringLiteral("F0,0100"));
    // Typed text that says another number is not sent.
    TriaxController &typedOther = benches.back().panel;
    QVERIFY(typedOther.newWavelength(546.07, QStringLiteral("999")).isEmpty());
    QCOMPARE(typedOther.queuedCommands().last(), QStringLiteral("Z61,0,546.07"));
}

// The one table every face shows: the status read-out in each state, and what the instrument
// takes in it.
void TestAnswers::statesAreShownAndTakeWhatTheyAccept()
{
    using State = TriaxController::State;
    const std::tuple<State, const char *, const char *> table[] = {
        { State::Closed, "not ready", "connect" },
        { State::WakingUp, "not ready", "connect" },
        { State::ReadingBack, "ready", "close requests" },
        { State::Ready, "ready", "close requests" },
        { State::Moving, "ready", "close" },
        { State::Busy, "motor busy", "" },
        { State::NoAnswer, "no answer", "close" },
        { State::PortLost, "port lost", "connect" },
        { State::OpenFailed, "not ready", "connect" },
    };
    for (const auto &[state, shown, taken] : table) {
        QCOMPARE(TriaxController::statusText(state), QLatin1String(shown));
        const TriaxController::Accepts accepts = TriaxController::accepts(state);
        QStringList names;
        if (accepts.connect)
            names << QStringLiteral("connect");
        if (accepts.close)
            names << QStringLiteral("close");
        if (accepts.requests)
            names << QStringLiteral("requests");
        QCOMPARE(names.join(u' '), QLatin1String(taken));
    }
}

// What an answer means does not depend on whether it is traced.
void TestAnswers::verboseTracesWhatItReads()
{
    wakeUp();
    PseudoTerminal &instrument = benches.front().line;
    TriaxController &triax = benches.front().panel;
    triax.setVerbose(true);
    QStringList lines;
    {
        const DebugLog log;
        instrument.write("o\r12");
        // Not a position: asked again.
        QCOMPARE(instrument.read(3, 1000), QByteArray("H0\r"));
        lines = log.lines();
    }
    QVERIFY(triax.positionText().isEmpty());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^tx: \"H0\" rx: \"o12\" elapsed time \\(ms\\): \\d+$"))
            .match(lines.at(0))
            .hasMatch(),
        qPrintable(lines.at(0)));

    // A command nothing is known of gets a second line of its own.
    instrument.write("o7");
    QTRY_COMPARE(triax.position(), 7);
    answerReadBack(instrument);
    QTRY_COMPARE(triax.state(), TriaxController::State::Ready);
    {
        const DebugLog log;
        triax.sendCLICommand(QStringLiteral("G1\r"));
        QCOMPARE(instrument.read(4, 1000), QByteArray("G1\r\r"));
        instrument.write("o\r1");
        QTRY_COMPARE_WITH_TIMEOUT(log.lines().size(), 2, 3000);
        lines = log.lines();
    }
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^tx: \"G1\" rx: \"o1\"      elapsed time \\(ms\\): \\d+ $"))
                 .match(lines.at(1))
                 .hasMatch(),
        qPrintable(lines.at(1)));
}

// Requests that come while a command is in flight wait their turn; each goes
// out once, and so does the polling after them.
void TestAnswers::requestsDuringAFlightGoOutOnce()
{
    wakeUp();
    PseudoTerminal &instrument = benches.front().line;
    TriaxController &triax = benches.front().panel;
    QVERIFY(triax.newWavelength(546.07).isEmpty());
    triax.sendCLICommand(QStringLiteral("H0"));
    // The read-back orders, which the other tests take from the protocol: after a wake-up the
    // grating comes last, so that a grating found to differ is changed once all else is in.
    QCOMPARE(triax.queuedCommands(),
        QList<QString>({ "H0", "Z62,0", "j0,0", "j0,2", "Z452,0,0,0", "Z61,0,546.07", "H0" }));
    QCOMPARE(TriaxProtocol::readBack(TriaxProtocol::ReadBackAfter::Motion),
        QList<QString>({ "H0", "Z62,0", "Z452,0,0,0", "j0,0", "j0,2" }));
    instrument.write("o1");
    answerReadBack(instrument);
    QCOMPARE(instrument.read(13, 1000), QByteArray("Z61,0,546.07\r"));
    instrument.write("o");
    QCOMPARE(instrument.read(3, 1000), QByteArray("H0\r"));
    instrument.write("o1");
    QCOMPARE(instrument.readFor(300), QByteArray("E"));
    QCOMPARE(triax.readBacks(), 1);
}

QTEST_MAIN(TestAnswers)
#include "tst_answers.moc"
