#include "debuglog.h"
#include "serialconnection.h"
#include "triax.h"
#include "triaxsimulator.h"

#include "xmlrpcserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(TriaxSimulator::Fault)

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
    void lostPollAnswerIsAskedAgain();
    void silentInstrumentHandsControlBack();
    void unacknowledgedMotionIsFollowedUp_data();
    void unacknowledgedMotionIsFollowedUp();
    void vanishedPortIsNoticed();

private:
    void start(const TriaxSimulator::Options &options, const QString &device = QString());
    void enter(QLineEdit *field, const QString &text);
    bool looksFaulty(const QString &status) const;
    template<typename T>
    T remote(const char *method) const;
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

void TestDialogue::start(const TriaxSimulator::Options &options, const QString &device)
{
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY2(simulator->isValid(), qPrintable(simulator->errorString()));
    triax = std::make_unique<WidgetTriax>(
        nullptr, device.isEmpty() ? simulator->devicePath() : device, 9123);
    triax->pbOpen->click();
}

// A remote method as the server calls it.
template<typename T>
T TestDialogue::remote(const char *method) const
{
    T result {};
    QMetaObject::invokeMethod(
        triax->remoteApi, method, QReturnArgument<T>(QMetaType::fromType<T>().name(), result));
    return result;
}

void TestDialogue::enter(QLineEdit *field, const QString &text)
{
    field->clear();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

// A fault look: the status says what went wrong, nothing reaches the
// instrument, and remote clients are told it is not ready.
bool TestDialogue::looksFaulty(const QString &status) const
{
    return triax->lbReady->text() == status && triax->ready == 0 && remote<int>("status") == 0
        && remote<QString>("checkConnection") == QLatin1String("0")
        && !triax->leWavelength->isEnabled() && !triax->leCommandLI->isEnabled()
        && triax->pbQuit->isEnabled() && triax->commandQueue.isEmpty();
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

    QTRY_VERIFY_WITH_TIMEOUT(looksFaulty(QStringLiteral("no answer")), 2000);
    QCOMPARE(wire(), QList<QByteArray> { " " });
    QVERIFY(triax->pbClose->isEnabled() && !triax->pbOpen->isEnabled());
    QCOMPARE(triax->currentCommand, QStringLiteral(" "));
    triax->pbClose->click();
    QCOMPARE(triax->lbReady->text(), QStringLiteral("not ready"));
    QVERIFY(triax->pbOpen->isEnabled() && !triax->pbClose->isEnabled());
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

void TestDialogue::lostPollAnswerIsAskedAgain()
{
    TriaxSimulator::Options options;
    options.speed = 1e6; // done before the first poll
    options.faults = { { TriaxSimulator::Fault::NoAnswer, "E", 1 } };
    start(options);
    QVERIFY(settle());
    simulator->clearCommands();

    enter(triax->leWavelength, QStringLiteral("546.07"));
    QVERIFY(settle());
    QCOMPARE(wire(), (QList<QByteArray> { "Z61,0,546.07\r", "E", "E" } + motionReadBack));
    QCOMPARE(remote<int>("status"), 1);
    QCOMPARE(remote<double>("getWavelength"), 546.07);
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
        enter(triax->leWavelength, QStringLiteral("546.07"));
        QTRY_VERIFY_WITH_TIMEOUT(looksFaulty(QStringLiteral("no answer")), 3000);
        lines = log.warnings();
    }
    QCOMPARE(wire(), (QList<QByteArray> { "Z61,0,546.07\r", "E", "E", "E", "E" }));
    QVERIFY(triax->pbClose->isEnabled() && !triax->pbOpen->isEnabled());
    QCOMPARE(lines,
        QStringList("instrument: no answer to \"E\" after 4 tries, last reception "
                    "\"RX_ERROR: empty answer/timeout ?\""));

    // Close and connect wake the instrument afresh.
    simulator->clearCommands();
    triax->pbClose->click();
    triax->pbOpen->click();
    QVERIFY(settle());
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(triax->leWavelength->text(), QStringLiteral("546.07"));
}

void TestDialogue::unacknowledgedMotionIsFollowedUp_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<TriaxSimulator::Fault>("fault");
    QTest::addColumn<QString>("position");

    QTest::newRow("wavelength, garbled")
        << "leWavelength"
        << "546.07" << TriaxSimulator::Fault { TriaxSimulator::Fault::Garbage, "Z61" } << "21843";
    QTest::newRow("relative move, lost")
        << "leMoveRel"
        << "2000" << TriaxSimulator::Fault { TriaxSimulator::Fault::NoAnswer, "F" } << "22000";
}

void TestDialogue::unacknowledgedMotionIsFollowedUp()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(TriaxSimulator::Fault, fault);
    QFETCH(QString, position);

    TriaxSimulator::Options options;
    options.speed = 2000; // several polls
    options.faults = { fault };
    start(options);
    QVERIFY(settle());
    simulator->clearCommands();

    enter(triax->findChild<QLineEdit *>(field), typed);
    QVERIFY(settle());
    const QList<QByteArray> sent = wire();
    const qsizetype polls = sent.count("E");
    QVERIFY2(polls >= 2, qPrintable(QString::number(polls)));
    QCOMPARE(sent.mid(1, polls), QList<QByteArray>(polls, "E"));
    QCOMPARE(sent.mid(1 + polls), motionReadBack);
    QCOMPARE(triax->leMotPos->text(), position);
    QCOMPARE(remote<int>("getPosition"), position.toInt());
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

    enter(triax->leWavelength, QStringLiteral("546.07"));
    QTRY_VERIFY_WITH_TIMEOUT(wire().contains("E"), 2000);
    simulator->hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(looksFaulty(QStringLiteral("port lost")), 2000);
    QVERIFY(triax->pbOpen->isEnabled() && !triax->pbClose->isEnabled());

    // Gone for now: connect says why and stays available.
    triax->pbOpen->click();
    QCOMPARE(triax->lbReady->text(), QStringLiteral("file not found: %1").arg(device));
    QVERIFY(triax->pbOpen->isEnabled());

    // Back under the same name, where the move took it.
    options.wavelength = 546.07;
    simulator = std::make_unique<TriaxSimulator>(options);
    QVERIFY(simulator->isValid());
    triax->pbOpen->click();
    QVERIFY(settle());
    QCOMPARE(wire(), QList<QByteArray> { " " } + startUpReadBack);
    QCOMPARE(triax->leMotPos->text(), QStringLiteral("21843"));
}

QTEST_MAIN(TestDialogue)
#include "tst_dialogue.moc"
