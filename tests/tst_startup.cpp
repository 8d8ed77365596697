#include "readback.h"
#include "triaxcontroller.h"
#include "triaxsimulator.h"

#include <QTest>

#include <memory>

// The start-up paths through "A": the panel gives the instrument 90 s to
// start before it reads the answer, so both paths run side by side.
class TestStartUp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startAndAutobaudPaths();
};

void TestStartUp::startAndAutobaudPaths()
{
    const QList<QByteArray> readBack = readBackOnTheLine(TriaxProtocol::ReadBackAfter::WakeUp);
    const QByteArray o2000("O2000\0", 6);

    TriaxSimulator::Options needsStart;
    needsStart.state = TriaxModel::State::NeedsStart;
    TriaxSimulator::Options needsAutobaud;
    needsAutobaud.state = TriaxModel::State::NeedsAutobaud;

    TriaxSimulator startSimulator(needsStart);
    TriaxSimulator autobaudSimulator(needsAutobaud);
    QVERIFY(startSimulator.isValid() && autobaudSimulator.isValid());
    TriaxController startPanel(startSimulator.devicePath());
    TriaxController autobaudPanel(autobaudSimulator.devicePath());
    startPanel.openPort();
    autobaudPanel.openPort();

    // The wait for "A" holds each panel, not yet ready.
    QTRY_COMPARE_WITH_TIMEOUT(autobaudSimulator.commands().size(), 4, 3000);
    QCOMPARE(startPanel.queuedCommands(), QList<QString> { QStringLiteral("A") });
    QCOMPARE(autobaudPanel.state(), TriaxController::State::WakingUp);

    const auto settled = [](const TriaxController &panel) {
        return panel.state() == TriaxController::State::Ready && panel.queuedCommands().isEmpty();
    };
    QVERIFY(QTest::qWaitFor([&] { return settled(startPanel) && settled(autobaudPanel); }, 100000));

    QCOMPARE(startSimulator.commands(), (QList<QByteArray> { " ", o2000, "A", " " } + readBack));
    QCOMPARE(autobaudSimulator.commands(),
        (QList<QByteArray> { " ", "\xf7", o2000, "A", " " } + readBack));
    QCOMPARE(autobaudPanel.readBacks(), 1);
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
