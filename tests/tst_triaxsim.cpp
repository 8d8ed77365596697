#include "serialconnection.h"
#include "triaxsimulator.h"

#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <memory>

Q_DECLARE_METATYPE(TriaxSimulator::Fault)

namespace {

const QByteArray noAnswer("RX_ERROR: empty answer/timeout ?");
const QByteArray wakeUp("O2000\0", 6);

// One command as the panel sends it: whatever has arrived when the waiting
// time ends is the answer.
QByteArray exchange(SerialConnection &link, const QByteArray &bytes, int wait = 200)
{
    QSignalSpy received(&link, &SerialConnection::endReception);
    link.transmitMsg(bytes.constData(), int(bytes.size()), wait);
    if (received.isEmpty() && !received.wait(wait + 5000))
        return QByteArrayLiteral("no reception");
    return link.rxMsg;
}

} // namespace

class TestTriaxSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void startUp();
    void refusedCommandsChangeNothing_data();
    void refusedCommandsChangeNothing();
    void framingAcrossWritesAndGaps();
    void faultsAsTheLinkSeesThem_data();
    void faultsAsTheLinkSeesThem();
    void closeAndReopen();

private:
    bool start(const TriaxSimulator::Options &options);

    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<SerialConnection> link;
};

void TestTriaxSim::cleanup()
{
    link.reset();
    simulator.reset();
}

bool TestTriaxSim::start(const TriaxSimulator::Options &options)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    if (!simulator->isValid()) {
        qWarning("%s", qPrintable(simulator->errorString()));
        return false;
    }
    link = std::make_unique<SerialConnection>(simulator->devicePath(), 19200, 8, 0, 0, 0, 0);
    return link->openPort() == 1;
}

// The longest way up: nothing but the space and the autobaud byte is answered until the
// autobaud, nothing but the space and the start commands until the start.
void TestTriaxSim::startUp()
{
    TriaxSimulator::Options options;
    options.state = TriaxModel::State::NeedsAutobaud;
    QVERIFY(start(options));
    const QList<QByteArray> sent { " ", "A", "\xf8", "\xf7", "H0\r", " ", wakeUp, "A", " ",
        "H0\r" };
    const QList<QByteArray> answers { "*", noAnswer, noAnswer, "=", noAnswer, "B", "*", "o", "F",
        "o20000" };
    for (qsizetype i = 0; i < sent.size(); ++i)
        QCOMPARE(exchange(*link, sent.at(i)), answers.at(i));
    QCOMPARE(simulator->commands(), sent);
}

void TestTriaxSim::refusedCommandsChangeNothing_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("wavelength not a number") << QByteArray("Z61,0,abc") << QByteArray("b");
    QTest::newRow("wavelength NaN") << QByteArray("Z61,0,nan") << QByteArray("b");
    QTest::newRow("wavelength negative") << QByteArray("Z61,0,-1") << QByteArray("b");
    QTest::newRow("wavelength too long") << QByteArray("Z61,0,1500.1") << QByteArray("b");
    QTest::newRow("move below zero") << QByteArray("F0,-20001") << QByteArray("b");
    QTest::newRow("move overflowing") << QByteArray("F0,9999999999999") << QByteArray("b");
    QTest::newRow("move empty") << QByteArray("F0,") << QByteArray("b");
    QTest::newRow("slit below zero") << QByteArray("k0,0,-101") << QByteArray("b");
    QTest::newRow("slit too wide") << QByteArray("k0,2,1301") << QByteArray("b");
    QTest::newRow("grating 3") << QByteArray("Z451,0,0,0,3") << QByteArray("b");
    QTest::newRow("unknown slit") << QByteArray("k0,1,5") << QByteArray();
    QTest::newRow("unknown command") << QByteArray("H1") << QByteArray();
}

void TestTriaxSim::refusedCommandsChangeNothing()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);

    TriaxModel model;
    model.setWavelength(500);
    QCOMPARE(model.answer(command), answer);
    QVERIFY(!model.isMoving());
    QCOMPARE(model.drivePosition(), 20000);
    QCOMPARE(model.entranceSlit(), 100);
    QCOMPARE(model.exitSlit(), 100);
    QCOMPARE(model.grating(), 0);
}

void TestTriaxSim::framingAcrossWritesAndGaps()
{
    QVERIFY(start({}));
    QSignalSpy framed(simulator.get(), &TriaxSimulator::commandReceived);

    // Pauses shorter than the end-of-command gap do not cut the command.
    link->transmitMsg("Z6", 2, 0);
    QTest::qWait(5);
    link->transmitMsg("2,", 2, 0);
    QTest::qWait(5);
    QCOMPARE(exchange(*link, "0\r"), QByteArray("o500.000"));
    QCOMPARE(framed.size(), 1);

    // A letter command without its carriage return ends at the gap,
    // unanswered, and leaves the next command intact.
    QCOMPARE(exchange(*link, "H0"), noAnswer);
    QCOMPARE(exchange(*link, "H0\r"), QByteArray("o20000"));
    QCOMPARE(simulator->commands(), (QList<QByteArray> { "Z62,0\r", "H0", "H0\r" }));
    QCOMPARE(framed.size(), 3);
}

void TestTriaxSim::faultsAsTheLinkSeesThem_data()
{
    QTest::addColumn<TriaxSimulator::Fault>("fault");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");

    using Fault = TriaxSimulator::Fault;
    QTest::newRow("no answer") << Fault { Fault::NoAnswer, {} } << noAnswer << noAnswer;
    QTest::newRow("no answer to another command")
        << Fault { Fault::NoAnswer, " " } << QByteArray("o20000") << noAnswer;
    QTest::newRow("garbage") << Fault { Fault::Garbage, "H" } << QByteArray("#?") << noAnswer;
    QTest::newRow("split") << Fault { Fault::Split, "H0" } << QByteArray("o20")
                           << QByteArray("000");
    QTest::newRow("late") << Fault { Fault::Late, {} } << noAnswer << QByteArray("o20000");
}

void TestTriaxSim::faultsAsTheLinkSeesThem()
{
    QFETCH(TriaxSimulator::Fault, fault);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);

    TriaxSimulator::Options options;
    options.faults = { fault };
    // Well past the first waiting time and well inside the second.
    options.faultDelay = 400;
    QVERIFY(start(options));
    QCOMPARE(exchange(*link, "H0\r"), first);
    // A raw byte the running instrument does not answer opens a second
    // reception for whatever comes after the first.
    QCOMPARE(exchange(*link, "\xf8", 500), second);
}

void TestTriaxSim::closeAndReopen()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::Late, "H0" } };
    options.faultDelay = 300;
    QVERIFY(start(options));
    QCOMPARE(exchange(*link, " "), QByteArray("F"));

    for (int round = 0; round < 2; ++round) {
        // The late answer falls due while the device is closed.
        QCOMPARE(exchange(*link, "H0\r"), noAnswer);
        link->closePort();
        const std::clock_t before = std::clock();
        QTest::qWait(500);
        const double cpuMs = double(std::clock() - before) * 1000.0 / CLOCKS_PER_SEC;
        QVERIFY2(cpuMs < 250, qPrintable(QStringLiteral("%1 ms of CPU").arg(cpuMs)));

        QCOMPARE(link->openPort(), 1);
        // Only the new answer: the one due while closed was lost, as on a
        // serial line.
        QCOMPARE(exchange(*link, " "), QByteArray("F"));
    }

    // A restarted panel opens the device anew.
    link.reset();
    SerialConnection other(simulator->devicePath(), 19200, 8, 0, 0, 0, 0);
    QCOMPARE(other.openPort(), 1);
    QCOMPARE(exchange(other, "j0,2\r"), QByteArray("o100"));
}

QTEST_GUILESS_MAIN(TestTriaxSim)
#include "tst_triaxsim.moc"
