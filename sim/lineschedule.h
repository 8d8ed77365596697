#ifndef LINESCHEDULE_H
#define LINESCHEDULE_H

#include <QByteArray>
#include <QList>

// When each byte the instrument sends has gone over the serial line. At a
// baud rate a byte takes ten bits (start, eight data, stop) and the line
// carries one byte after the other; without one (0) every byte is through
// the moment it is due. Each piece of output falls due at a time of its own
// (an answer once the instrument has thought, the rest of a split answer
// later) and pieces go out in the order they fall due: one due while the line
// still carries another waits for it. Times are in nanoseconds on the
// caller's clock.
class LineSchedule
{
public:
    explicit LineSchedule(int baud = 0);

    int baud() const { return bitsPerSecond; }
    // How long that many bytes take on the line.
    qint64 transmissionTime(qsizetype bytes) const;

    void add(const QByteArray &bytes, qint64 due);
    // The bytes that have gone over the line by `now`, in order.
    QByteArray take(qint64 now);
    // When the next byte will have gone over; -1 when nothing waits.
    qint64 nextDue() const;

private:
    struct Piece
    {
        QByteArray bytes;
        qint64 due;
    };

    qint64 byteTime() const { return transmissionTime(1); }

    int bitsPerSecond;
    QList<Piece> pieces;
    // When the line has carried the last byte taken.
    qint64 lineFree = 0;
};

#endif
