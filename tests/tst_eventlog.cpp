#include "debuglog.h"
#include "eventlog.h"

#include <QTest>

// The event log's folding of repetitions and its bounds, which keep a looping
// client from flooding the log, the faces and the journal.
class TestEventLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void repetitionsAreFolded();
    void memoryIsBounded();
};

using Kind = EventLog::Kind;

void TestEventLog::repetitionsAreFolded()
{
    EventLog log;
    DebugLog journal;
    const QString refused = QStringLiteral("setWavelength 2000 refused: outside 250 to 1300 nm");
    log.record(Kind::Taken, "10.0.0.1", "connect taken");
    for (int i = 0; i < 3; ++i)
        log.record(Kind::Refused, "10.0.0.2", refused);
    const quint64 seen = log.lastId();
    log.record(Kind::Refused, "10.0.0.2", refused);
    // Another origin, another kind: no repetition.
    log.record(Kind::Refused, "10.0.0.3", refused);
    log.record(Kind::Warning, "instrument", "port lost");
    log.record(Kind::Warning, "instrument", "port lost");
    log.record(Kind::State, "instrument", "closed");

    QStringList lines;
    for (const EventLog::Event &event : log.after(0, 100))
        lines << QStringLiteral("%1 %2").arg(event.id).arg(event.line());
    QCOMPARE(lines,
        QStringList({ "1 request from 10.0.0.1: connect taken",
            "5 request from 10.0.0.2: " + refused + " (4 times)",
            "6 request from 10.0.0.3: " + refused, "8 port lost (2 times)",
            "9 instrument: closed" }));
    // A reader that has seen the third hears of the fourth.
    QCOMPARE(log.after(seen, 1).constFirst().count, 4);
    // The journal hears of a repetition once, when it has ended.
    QCOMPARE(journal.warnings(), QStringList({ "port lost", "port lost (2 times)" }));
}

void TestEventLog::memoryIsBounded()
{
    EventLog log;
    for (int i = 1; i <= EventLog::Capacity + 5; ++i)
        log.record(Kind::State, "instrument", QString::number(i));
    const QList<EventLog::Event> kept = log.after(0, 2 * EventLog::Capacity);
    QCOMPARE(kept.size(), EventLog::Capacity);
    QCOMPARE(kept.constFirst().id, quint64(6));
    QCOMPARE(log.after(kept.constFirst().id, 3).constLast().id, quint64(9));
    QVERIFY(log.after(log.lastId(), 3).isEmpty());
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
