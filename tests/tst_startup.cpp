#include "readback.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"

#include <QTest>

// The longest start-up, through the autobaud byte and "A": the panel gives the instrument 90 s
// to start before it reads the answer.
class TestStartUp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void autobaudAndStart();
};

void TestStartUp::autobaudAndStart()
{
    TriaxSimulator::Options options;
    options.state = TriaxModel::State::NeedsAutobaud;
    TriaxSimulator simulator(options);
    QVERIFY(simulator.isValid());
    TriaxController panel(simulator.devicePath());
    panel.openPort();

    // The wait for "A" holds the panel, not yet ready.
    QTRY_COMPARE_WITH_TIMEOUT(simulator.commands().size(), 4, 3000);
    QCOMPARE(panel.queuedCommands(), QList<QString> { QStringLiteral("A") });
    QCOMPARE(panel.state(), TriaxController::State::WakingUp);

    QVERIFY(QTest::qWaitFor(
        [&panel] {
            return panel.state() == TriaxController::State::Ready
                && panel.queuedCommands().isEmpty();
        },
        100000));
    QCOMPARE(simulator.commands(),
        (QList<QByteArray> { " ", "\xf7", QByteArray("O2000\0", 6), "A", " " }
            + readBackOnTheLine(TriaxProtocol::ReadBackAfter::WakeUp)));
    QCOMPARE(panel.readBacks(), 1);
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
