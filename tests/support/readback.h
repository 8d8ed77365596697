#ifndef READBACK_H
#define READBACK_H

#include "triaxprotocol.h"

#include <QByteArray>
#include <QList>

// The read-back set as the instrument receives it, in the protocol's own order.
inline QList<QByteArray> readBackOnTheLine(TriaxProtocol::ReadBackAfter after)
{
    QList<QByteArray> wire;
    for (const QString &command : TriaxProtocol::readBack(after))
        wire.append(TriaxProtocol::kindOf(command).wire);
    return wire;
}

#endif
