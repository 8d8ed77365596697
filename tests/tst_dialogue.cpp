#include "debuglog.h"
#include "serialconnection.h"
#include "triax.h"
#include "triaxsimulator.h"

#include <QTest>

#include <memory>

// The panel against the simulated instrument, over a pseudo-terminal: what
// goes over the wire, and what the operator sees.
class TestDialogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void startUpOnRunningInstrument();
    void wavelengthMoveIsPolledAndReadBack();
    void startUpOnAnotherGratingSelectsItOnce();
    void slitMovesAreRelativeToTheReadBack();
    void noInstrumentLeavesThePanelIdle();
    void closeDrainsTheQueue();

private:
    void start(const TriaxSimulator::Options &options);
    // Waits until the instrument is ready and every queued command answered.
    bool settle(int timeoutMs = 5000);
    QList<QByteArray> wire() const { return simulator->commands(); }

    std::unique_ptr<TriaxSimulator> simulator;
    std::unique_ptr<WidgetTriax> triax;
};

namespace {

const QList<QByteArray> startUpReadBack { "H0\r", "Z62,0\r", "j0,0\r", "j0,2\r", "Z452,0,0,0\r" };
const QList<QByteArray> motionReadBack { "H0\r", "Z62,0\r", "Z452,0,0,0\r", "j0,0\r", "j0,2\r" };

} // namespace

void TestDialogue::cleanup()
{
    triax.reset();
    simulator.reset();
}

void TestDialogue::start(const TriaxSimulator::Options &options)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    triax = std::make_unique<WidgetTriax>(nullptr, simulator->devicePath(), 9123);
    triax->pbOpen->click();
}

bool TestDialogue::settle(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return triax->ready == 1 && triax->commandQueue.isEmpty(); }, timeoutMs);
}

void TestDialogue::startUpOnRunningInstrument()
{
    TriaxSimulator::Options options;
    options.wavelength = 546.1;
    options.entranceSlit = 250;
    options.exitSlit = 1400;
    start(options);

    QTRY_COMPARE_WITH_TIMEOUT(triax->lbReady->text(), QStringLiteral("ready"), 2000);
    QVERIFY(triax->leWavelength->isEnabled() && triax->pbClose->isEnabled());
    QVERIFY(!triax->pbOpen->isEnabled() && !triax->pbQuit->isEnabled());
    QVERIFY(settle());

    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(triax->leMotPos->text(), QStringLiteral("21844"));
    QCOMPARE(triax->leWavelength->text(), QStringLiteral("546.10"));
    QCOMPARE(triax->wavelengthText, QStringLiteral("546.10"));
    QCOMPARE(triax->leInSlit->text(), QStringLiteral("250"));
    QCOMPARE(triax->outSlitSteps, 1400);
    QCOMPARE(triax->cbGrating->currentIndex(), 0);
}

void TestDialogue::wavelengthMoveIsPolledAndReadBack()
{
    TriaxSimulator::Options options;
    // 46.07 nm at 40 steps per nm take about 0.9 s: several polls.
    options.speed = 2000;
    start(options);
    QVERIFY(settle());
    simulator->clearCommands();

    triax->leWavelength->clear();
    QTest::keyClicks(triax->leWavelength, QStringLiteral("546.07"));
    QTest::keyClick(triax->leWavelength, Qt::Key_Return);
    QCOMPARE(triax->ready, 0);
    QTRY_COMPARE_WITH_TIMEOUT(triax->lbReady->text(), QStringLiteral("motor busy"), 1000);
    QVERIFY(!triax->pbOpen->isEnabled() && !triax->pbClose->isEnabled());
    QVERIFY(!triax->pbQuit->isEnabled() && !triax->leWavelength->isEnabled());
    QVERIFY(settle());

    const QList<QByteArray> sent = wire();
    QCOMPARE(sent.first(), QByteArray("Z61,0,546.07\r"));
    const qsizetype polls = sent.count("E");
    QVERIFY2(polls >= 3, qPrintable(QString::number(polls)));
    QCOMPARE(sent.mid(1, polls), QList<QByteArray>(polls, "E"));
    QCOMPARE(sent.mid(1 + polls), motionReadBack);

    QCOMPARE(triax->lbReady->text(), QStringLiteral("ready"));
    QCOMPARE(triax->leMotPos->text(), QStringLiteral("21843"));
    QCOMPARE(triax->leWavelength->text(), QStringLiteral("546.07"));
    QVERIFY(triax->leWavelength->isEnabled() && triax->pbClose->isEnabled());
}

void TestDialogue::startUpOnAnotherGratingSelectsItOnce()
{
    TriaxSimulator::Options options;
    options.grating = 1;
    options.speed = 20000;
    start(options);
    QVERIFY(settle());

    const QList<QByteArray> sent = wire();
    QCOMPARE(sent.count("Z451,0,0,0,1\r"), 1);
    const qsizetype select = sent.indexOf("Z451,0,0,0,1\r");
    QCOMPARE(sent.mid(0, select), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(sent.mid(sent.size() - motionReadBack.size()), motionReadBack);
    QVERIFY(sent.mid(select + 1, sent.size() - select - 1 - motionReadBack.size()).count("E") >= 1);
    QCOMPARE(triax->cbGrating->currentIndex(), 1);
    QCOMPARE(triax->grating, 1);
}

void TestDialogue::slitMovesAreRelativeToTheReadBack()
{
    TriaxSimulator::Options options;
    options.entranceSlit = 1000;
    options.speed = 20000;
    start(options);
    QVERIFY(settle());

    for (const auto &[typed, command] :
        { std::pair { "700", "k0,0,-300\r" }, std::pair { "1400", "k0,0,700\r" } }) {
        simulator->clearCommands();
        triax->leInSlit->clear();
        QTest::keyClicks(triax->leInSlit, QString::fromLatin1(typed));
        QTest::keyClick(triax->leInSlit, Qt::Key_Return);
        QVERIFY(settle());
        QCOMPARE(wire().first(), QByteArray(command));
        QCOMPARE(triax->inSlitSteps, QByteArray(typed).toInt());
        QCOMPARE(simulator->model().entranceSlit(), QByteArray(typed).toInt());
    }
}

void TestDialogue::noInstrumentLeavesThePanelIdle()
{
    TriaxSimulator::Options options;
    options.faults = { { TriaxSimulator::Fault::NoAnswer, QByteArray() } };
    start(options);

    QTRY_VERIFY_WITH_TIMEOUT(triax->commandQueue.isEmpty(), 2000);
    QCOMPARE(wire(), QList<QByteArray> { " " });
    QCOMPARE(triax->ready, 0);
    QCOMPARE(triax->lbReady->text(), QStringLiteral("not ready"));
    QVERIFY(!triax->leWavelength->isEnabled() && !triax->pbClose->isEnabled());
    QCOMPARE(triax->currentCommand, QStringLiteral(" "));
}

void TestDialogue::closeDrainsTheQueue()
{
    TriaxSimulator::Options options;
    start(options);
    QTRY_COMPARE_WITH_TIMEOUT(triax->lbReady->text(), QStringLiteral("ready"), 2000);
    QCOMPARE(triax->commandQueue.size(), 5);

    QStringList lines;
    {
        const DebugLog log;
        triax->ckbVerbose->setChecked(true);
        triax->pbClose->click();
        QTRY_VERIFY_WITH_TIMEOUT(triax->commandQueue.isEmpty(), 2000);
        lines = log.lines();
    }

    // The reception under way ends empty-handed; every later command fails
    // to write and is dispatched at once.
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.at(0).startsWith(QLatin1String("tx: \"H0\" rx: \"RX_ERROR: ")),
        qPrintable(lines.at(0)));
    for (int i = 1; i < 5; ++i)
        QVERIFY2(lines.at(i).contains(QLatin1String("rx: \"TX_ERROR: ")), qPrintable(lines.at(i)));
    QCOMPARE(triax->lbReady->text(), QStringLiteral("not ready"));
    QVERIFY(triax->pbOpen->isEnabled());

    // Connecting again runs the handshake from the start.
    simulator->clearCommands();
    triax->pbOpen->click();
    QVERIFY(settle());
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
}

QTEST_MAIN(TestDialogue)
#include "tst_dialogue.moc"
