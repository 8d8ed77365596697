#include "lineschedule.h"

#include <QtGlobal>

#include <algorithm>

LineSchedule::LineSchedule(int baud)
    : bitsPerSecond(qMax(0, baud))
{ }

qint64 LineSchedule::transmissionTime(qsizetype bytes) const
{
    return bitsPerSecond > 0 ? qint64(bytes) * 10 * 1000000000 / bitsPerSecond : 0;
}

void LineSchedule::add(const QByteArray &bytes, qint64 due)
{
    if (bytes.isEmpty())
        return;
    // After every piece due no later: pieces due together keep their order.
    const auto later = std::upper_bound(pieces.begin(), pieces.end(), due,
        [](qint64 time, const Piece &piece) { return time < piece.due; });
    pieces.insert(later, { bytes, due });
}

QByteArray LineSchedule::take(qint64 now)
{
    QByteArray through;
    while (!pieces.isEmpty()) {
        const qint64 arrives = nextDue();
        if (arrives > now)
            break;
        Piece &piece = pieces.first();
        through += piece.bytes.front();
        piece.bytes.remove(0, 1);
        lineFree = arrives;
        if (piece.bytes.isEmpty())
            pieces.removeFirst();
    }
    return through;
}

qint64 LineSchedule::nextDue() const
{
    if (pieces.isEmpty())
        return -1;
    return qMax(pieces.constFirst().due, lineFree) + byteTime();
}
