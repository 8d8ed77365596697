#include "eventlog.h"

#include "instrumentlog.h"

#include <algorithm>

QString EventLog::Event::line() const
{
    QString shown;
    switch (kind) {
    case Kind::Taken:
    case Kind::Refused:
        shown = origin.isEmpty() ? QStringLiteral("request: %1").arg(text)
                                 : QStringLiteral("request from %1: %2").arg(origin, text);
        break;
    case Kind::State:
        shown = QStringLiteral("%1: %2").arg(origin, text);
        break;
    case Kind::Warning:
        // Warnings have always named what they are about themselves.
        shown = text;
        break;
    }
    return count > 1 ? QStringLiteral("%1 (%2 times)").arg(shown).arg(count) : shown;
}

void EventLog::record(Kind kind, const QString &origin, const QString &text, Journal journal)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!events.empty()) {
        Event &last = events.back();
        if (last.kind == kind && last.origin == origin && last.text == text) {
            ++last.count;
            last.time = now;
            last.id = nextId++;
            emit recorded(last);
            return;
        }
        // The journal hears of a repetition once it has ended.
        if (last.count > 1)
            write(last);
    }
    events.push_back({ nextId++, now, origin, text, kind, 1 });
    if (events.size() > Capacity)
        events.pop_front();
    if (journal == Journal::Write)
        write(events.back());
    emit recorded(events.back());
}

QList<EventLog::Event> EventLog::after(quint64 id, int most) const
{
    // Ids rise along the log.
    auto first = std::upper_bound(events.cbegin(), events.cend(), id,
        [](quint64 value, const Event &event) { return value < event.id; });
    QList<Event> found;
    for (; first != events.cend() && found.size() < most; ++first)
        found.append(*first);
    return found;
}

void EventLog::write(const Event &event) const
{
    if (event.kind == Kind::Warning)
        qCWarning(lcInstrument, "%s", qPrintable(event.line()));
    else
        qCInfo(lcInstrument, "%s", qPrintable(event.line()));
}
