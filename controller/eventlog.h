#ifndef EVENTLOG_H
#define EVENTLOG_H

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>

// What happened to the instrument lately, and who asked: every request with
// its verdict, every change of state, every fault and warning. Each face shows
// these same events, and the journal gets each once, as one line.
//
// Memory is bounded: the last Capacity events are kept. An event identical to
// the one before it, from the same origin, is folded into it: the event counts
// it, takes its time and a new id, so that a client that loops on a refused
// request floods neither the log nor the journal, and a reader that asks for
// what came after an id still hears of the repetition.
class EventLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int Capacity = 1000;

    enum class Kind {
        Taken, // a request taken
        Refused, // a request refused
        State, // the instrument changed its state
        Warning, // a fault, or anything else an operator should know
    };
    Q_ENUM(Kind)

    struct Event
    {
        quint64 id = 0;
        QDateTime time;
        // Who asked, for a request: "the window", a client's address; else
        // the part of the program that tells: "instrument", "remote control".
        QString origin;
        QString text;
        Kind kind = Kind::Warning;
        int count = 1;

        // The event as one line of the journal and the window's log.
        QString line() const;
    };

    // Whether record() writes the journal line, or its caller already has.
    enum class Journal { Write, Written };

    using QObject::QObject;

    void record(
        Kind kind, const QString &origin, const QString &text, Journal journal = Journal::Write);
    // The events after id, oldest first, at most most of them.
    QList<Event> after(quint64 id, int most) const;
    quint64 lastId() const { return nextId - 1; }

Q_SIGNALS:
    // A new event, or the last one again with a higher count.
    void recorded(const EventLog::Event &event);

private:
    void write(const Event &event) const;

    std::deque<Event> events;
    quint64 nextId = 1;
};

#endif
