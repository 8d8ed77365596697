#include "debuglog.h"
#include "pseudoterminal.h"
#include "serialconnection.h"
#include "triaxcontroller.h"

#include <QTest>
#include <QTimer>

#include <memory>

// Answers handed to the controller's dispatch as the serial link would
// deliver them, for the answers a well-behaved instrument never gives.
class TestAnswers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void followUpsAndDiagnostics_data();
    void followUpsAndDiagnostics();
    void readBacksRecordValues_data();
    void readBacksRecordValues();
    void readBackIsCountedWhenComplete();
    void relativeMoveLeavesThePanelOpen();
    void gratingReadBackSelectsTheGratingOnce();
    void emptyReceptionsLetTheQueueRest();
    void verboseTrace();
    void commandsGoOutInTheirFraming_data();
    void commandsGoOutInTheirFraming();
    void connectSendsOneSpaceOnce();
    void noDoubleTransmission();
    void closeKeepsTheQueue();

private:
    // Puts `head` at the front of the queue and delivers `received` as its
    // reception; returns the debug lines, then the warnings, written meanwhile.
    QStringList deliver(const QString &head, const QByteArray &received);

    std::unique_ptr<PseudoTerminal> instrument;
    std::unique_ptr<TriaxController> triax;
};

void TestAnswers::init()
{
    instrument = std::make_unique<PseudoTerminal>();
    QVERIFY(instrument->isValid());
    triax = std::make_unique<TriaxController>(instrument->devicePath());
    // Follow-ups really go out; nobody answers them within a test.
    QCOMPARE(triax->serial->openPort(), 1);
}

void TestAnswers::cleanup()
{
    triax.reset();
    instrument.reset();
}

QStringList TestAnswers::deliver(const QString &head, const QByteArray &received)
{
    const DebugLog log;
    triax->commandQueue = { head };
    triax->serial->rxMsg = received;
    emit triax->serial->endReception();
    return log.lines() + log.warnings();
}

void TestAnswers::followUpsAndDiagnostics_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QList<QString>>("queued");
    QTest::addColumn<QStringList>("lines");

    const QByteArray noAnswer("RX_ERROR: empty answer/timeout ?");
    const QList<QString> nothing;
    const QStringList silent;

    QTest::newRow("space, other") << " " << QByteArray("x") << nothing << silent;
    QTest::newRow("space, no instrument")
        << " " << noAnswer << nothing
        << QStringList { "instrument: no answer to \" \" after 1 try, last reception "
                         "\"RX_ERROR: empty answer/timeout ?\"" };
    QTest::newRow("O2000, other") << "O2000" << QByteArray("o") << nothing << silent;
    QTest::newRow("autobaud, other")
        << "\\247" << QByteArray("x") << nothing
        << QStringList { "<247> returned <> '=' so... autobaud again (counter++)" };
    QTest::newRow("A, other") << "A" << QByteArray("=") << nothing
                              << QStringList { "A returned strange result <> 'o' !" };
    // A query not understood stays at the head and is asked again.
    const QList<QString> again { "E" };
    QTest::newRow("E, o alone") << "E" << QByteArray("o") << again
                                << QStringList { "E returned strange result <> 'o[q,z]' !" };
    QTest::newRow("E, other") << "E" << QByteArray("x") << again
                              << QStringList { "E returned strange result <> 'o' !" };
    QTest::newRow("E, no answer") << "E" << noAnswer << again << silent;
    QTest::newRow("F taken") << "F0,100" << QByteArray("o") << QList<QString> { "E" } << silent;
    // A motion not acknowledged may have started all the same: the motor is
    // polled, the command itself never sent again.
    const QList<QString> poll { "E" };
    QTest::newRow("F refused") << "F0,100" << QByteArray("b") << poll
                               << QStringList { "F returned strange result <> 'o' !",
                                      "instrument: \"F0,100\" not acknowledged (answer \"b\"); "
                                      "polling the motor" };
    QTest::newRow("Z61 refused")
        << "Z61,0,546.07" << noAnswer << poll
        << QStringList { "instrument: \"Z61,0,546.07\" not acknowledged (answer \"RX_ERROR: empty "
                         "answer/timeout ?\"); polling the motor" };
    QTest::newRow("Z451 refused") << "Z451,0,0,0,2" << QByteArray("#\r?") << poll
                                  << QStringList { "Z451 returned strange result <> 'o' !",
                                         "instrument: \"Z451,0,0,0,2\" not acknowledged (answer "
                                         "\"#\\x0d?\"); polling the motor" };
    QTest::newRow("k refused") << "k0,2,-5" << QByteArray("b") << poll
                               << QStringList { "k returned strange result <> 'o' !",
                                      "instrument: \"k0,2,-5\" not acknowledged (answer \"b\"); "
                                      "polling the motor" };
    QTest::newRow("typed G, quiet") << "G1" << QByteArray("o") << nothing << silent;
    QTest::newRow("byte escape answered") << "\\248" << QByteArray("x") << nothing << silent;
}

void TestAnswers::followUpsAndDiagnostics()
{
    QFETCH(QString, head);
    QFETCH(QByteArray, received);
    QFETCH(QList<QString>, queued);
    QFETCH(QStringList, lines);

    QCOMPARE(deliver(head, received), lines);
    QCOMPARE(triax->commandQueue, queued);
    if (queued.value(0) != head)
        QCOMPARE(triax->currentCommand, head);
}

void TestAnswers::readBacksRecordValues_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("recorded"); // "-" when nothing must be recorded

    QTest::newRow("position, five digits kept") << "H0" << QByteArray("o123456") << "position"
                                                << "12345";
    QTest::newRow("position, no o") << "H0" << QByteArray("123") << "position"
                                    << "-";
    QTest::newRow("wavelength cut to two decimals")
        << "Z62,0" << QByteArray("o546.0799\r") << "wavelength"
        << "546.07";
    QTest::newRow("wavelength needs a third decimal")
        << "Z62,0" << QByteArray("o546.07") << "wavelength"
        << "-";
    QTest::newRow("entrance slit") << "j0,0" << QByteArray("o12") << "inSlit"
                                   << "12";
    QTest::newRow("exit slit") << "j0,2\r" << QByteArray("o0700") << "outSlit"
                               << "0700";
    QTest::newRow("slit 1 does not exist") << "j0,1" << QByteArray("o0700") << "outSlit"
                                           << "-";
    QTest::newRow("answer stops at NUL") << "H0"
                                         << QByteArray("o1\0"
                                                       "99",
                                                5)
                                         << "position"
                                         << "1";
}

void TestAnswers::readBacksRecordValues()
{
    QFETCH(QString, head);
    QFETCH(QByteArray, received);
    QFETCH(QString, value);
    QFETCH(QString, recorded);

    deliver(head, received);
    const QMap<QString, QPair<QString, int>> values {
        { QStringLiteral("position"), { triax->positionText(), triax->position() } },
        { QStringLiteral("wavelength"), { triax->wavelengthText(), 0 } },
        { QStringLiteral("inSlit"), { triax->inSlitText(), triax->inSlitSteps() } },
        { QStringLiteral("outSlit"), { triax->outSlitText(), triax->outSlitSteps() } },
    };
    if (recorded == QLatin1String("-")) {
        QVERIFY(values.value(value).first.isEmpty());
    } else {
        QCOMPARE(values.value(value).first, recorded);
        if (value != QLatin1String("wavelength"))
            QCOMPARE(values.value(value).second, recorded.toInt());
    }
    // A read-back not understood is at most asked again; nothing else is queued.
    QVERIFY(triax->commandQueue.isEmpty() || triax->commandQueue == QList<QString> { head });
}

// The count grows once the last command of a set has been answered, and the
// state turns from reading back to ready only then.
void TestAnswers::readBackIsCountedWhenComplete()
{
    deliver(QStringLiteral(" "), "F");
    QCOMPARE(triax->state(), TriaxController::State::ReadingBack);
    QCOMPARE(triax->ready(), 1);
    const QList<QString> readBack = triax->commandQueue;
    QCOMPARE(readBack.size(), 5);
    const QByteArray answers[] = { "o20000", "o500.000", "o100", "o100", "o0" };
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(triax->readBacks(), 0);
        triax->serial->rxMsg = answers[i];
        emit triax->serial->endReception();
    }
    QCOMPARE(triax->readBacks(), 1);
    QCOMPARE(triax->state(), TriaxController::State::Ready);
    QCOMPARE(triax->wavelengthText(), QStringLiteral("500.00"));
    QCOMPARE(triax->position(), 20000);
}

void TestAnswers::relativeMoveLeavesThePanelOpen()
{
    deliver(QStringLiteral(" "), "F");
    deliver(QStringLiteral("F0,100"), "o");
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral("E") });
    QCOMPARE(triax->statusText(), QStringLiteral("ready"));
    QCOMPARE(triax->state(), TriaxController::State::Moving);
}

void TestAnswers::gratingReadBackSelectsTheGratingOnce()
{
    triax->m_ready = 1;
    deliver(QStringLiteral("Z452,0,0,0"), "o1");
    QCOMPARE(triax->grating(), 1);
    QCOMPARE(triax->ready(), 0);
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral("Z451,0,0,0,1") });
    // The grating command went out once, after the read-back had ended.
    QCOMPARE(instrument->read(13, 300), QByteArray("Z451,0,0,0,1\r"));

    deliver(QStringLiteral("Z452,0,0,0"), "o1");
    QVERIFY(triax->commandQueue.isEmpty());
}

void TestAnswers::emptyReceptionsLetTheQueueRest()
{
    // A reception that no command is waiting for belongs to nothing.
    triax->serial->rxMsg = "F";
    emit triax->serial->endReception();
    QVERIFY(triax->commandQueue.isEmpty());
    QVERIFY(triax->currentCommand.isNull());

    triax->commandQueue = { QStringLiteral("\\222"), QStringLiteral("H0") };
    triax->serial->rxMsg.clear();
    emit triax->serial->endReception();
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral("H0") });
    QCOMPARE(triax->currentCommand, QStringLiteral("\\222"));
    QVERIFY(instrument->readFor(50).isEmpty());

    QCOMPARE(deliver(QStringLiteral("\\248"), QByteArray()),
        QStringList { "<248> was sent, no answer" });
    QCOMPARE(deliver(QStringLiteral("G1"), QByteArray()), QStringList());

    // Stray bytes after a missing wake-up answer are dropped, so they cannot
    // pass for the answer to the next command.
    instrument->write("junk");
    instrument->readFor(50);
    triax->setVerbose(true);
    const QStringList lines = deliver(QStringLiteral(" "), "\r\r");
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(1), QStringLiteral("not receiving answer (space) after 500ms"));
    QCOMPARE(triax->state(), TriaxController::State::NoAnswer);
    QVERIFY(triax->commandQueue.isEmpty());

    triax->commandQueue = { QStringLiteral("H0") };
    emit triax->checkQueue();
    QCOMPARE(instrument->read(3, 300), QByteArray("H0\r"));
    instrument->write("o7");
    QTRY_COMPARE(triax->position(), 7);
}

void TestAnswers::verboseTrace()
{
    QCOMPARE(deliver(QStringLiteral("G1"), "x"), QStringList());

    triax->setVerbose(true);
    triax->stopwatch.start();
    const QStringList lines = deliver(QStringLiteral("G1\r"), "o\r12");
    QCOMPARE(lines.size(), 2);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^tx: \"G1\" rx: \"o12\" elapsed time \\(ms\\): \\d+$"))
            .match(lines.at(0))
            .hasMatch(),
        qPrintable(lines.at(0)));
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^tx: \"G1\" rx: \"o12\"      elapsed time \\(ms\\): \\d+ $"))
                 .match(lines.at(1))
                 .hasMatch(),
        qPrintable(lines.at(1)));
    QCOMPARE(triax->answer, QStringLiteral("o12"));
    QCOMPARE(triax->currentCommand, QStringLiteral("G1"));
}

void TestAnswers::commandsGoOutInTheirFraming_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("wait");

    QTest::newRow("byte escape 248") << "\\248" << QByteArray("\xf8") << 200;
    QTest::newRow("byte escape 247") << "\\247" << QByteArray("\xf7") << 200;
    QTest::newRow("byte escape 222") << "\\222" << QByteArray("\xde") << 200;
    QTest::newRow("byte escape 256 wraps") << "\\256" << QByteArray(1, '\0') << 200;
    QTest::newRow("byte escape 999 wraps") << "\\999" << QByteArray("\xe7") << 200;
    QTest::newRow("digit 0 is text") << "\\200" << QByteArray("\\200") << 200;
    QTest::newRow("two digits with 0") << "\\10" << QByteArray("\\10") << 200;
    QTest::newRow("escape then line feed is text") << "\\248\n" << QByteArray("\\248\n") << 200;
    QTest::newRow("O2000") << "O2000" << QByteArray::fromHex("4f3230303000") << 500;
    QTest::newRow("O2000 and a space") << "O2000 " << QByteArray("O2000 ") << 200;
    QTest::newRow("letter command") << "H0" << QByteArray("H0\r") << 200;
    QTest::newRow("wavelength command") << "Z61,0,546.07" << QByteArray("Z61,0,546.07\r") << 200;
    QTest::newRow("slit command") << "k0,2,-5" << QByteArray("k0,2,-5\r") << 200;
    QTest::newRow("lower case from l on") << "lx" << QByteArray("lx") << 200;
    QTest::newRow("upper case not listed") << "Dx" << QByteArray("Dx") << 200;
    QTest::newRow("motor busy query") << "E" << QByteArray("E") << 200;
    QTest::newRow("space") << " " << QByteArray(" ") << 500;
    QTest::newRow("start") << "A" << QByteArray("A") << 90000;
}

void TestAnswers::commandsGoOutInTheirFraming()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, wire);
    QFETCH(int, wait);

    triax->commandQueue.append(command);
    emit triax->checkQueue();

    QCOMPARE(instrument->read(int(wire.size()), 150), wire);
    auto *timer = triax->serial->findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), wait);
    QVERIFY(instrument->readFor(30).isEmpty());
    QCOMPARE(triax->commandQueue.first(), command);
}

void TestAnswers::connectSendsOneSpaceOnce()
{
    triax->serial->closePort();
    triax->openPort();
    QTest::ignoreMessage(QtWarningMsg,
        "serial port " + instrument->devicePath().toLatin1() + ": port already opened");
    triax->openPort();
    QCOMPARE(triax->commandQueue, QList<QString> { QStringLiteral(" ") });
    QCOMPARE(instrument->readFor(300), QByteArray(" "));
    QCOMPARE(triax->state(), TriaxController::State::WakingUp);
    QVERIFY(!triax->isVerbose());
    QVERIFY(!triax->stopwatch.isValid());
}

// Requests that come while a command is in flight wait their turn; each goes
// out once, and so does the polling after them.
void TestAnswers::noDoubleTransmission()
{
    triax->serial->closePort();
    triax->openPort();
    QCOMPARE(instrument->read(1, 300), QByteArray(" "));
    triax->newWavelength(QStringLiteral("546.07"));
    triax->sendCLICommand(QStringLiteral("H0"));
    QCOMPARE(triax->commandQueue,
        (QList<QString> {
            QStringLiteral(" "), QStringLiteral("Z61,0,546.07"), QStringLiteral("H0") }));
    // An answer the wake-up does not know ends it quietly.
    instrument->write("x");
    QVERIFY(instrument->readFor(300).isEmpty());
    QCOMPARE(instrument->read(13, 1000), QByteArray("Z61,0,546.07\r"));
    instrument->write("o");
    QCOMPARE(instrument->read(3, 1000), QByteArray("H0\r"));
    instrument->write("o1");
    QCOMPARE(instrument->readFor(300), QByteArray("E"));
}

void TestAnswers::closeKeepsTheQueue()
{
    deliver(QStringLiteral(" "), "F");
    QCOMPARE(triax->commandQueue.size(), 5);
    triax->closePort();
    QCOMPARE(triax->statusText(), QStringLiteral("not ready"));
    QCOMPARE(triax->ready(), 0);
    QCOMPARE(triax->commandQueue.size(), 5);
    QCOMPARE(triax->serial->openPort(), 1);
}

QTEST_MAIN(TestAnswers)
#include "tst_answers.moc"
