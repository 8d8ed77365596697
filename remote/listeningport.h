#ifndef LISTENINGPORT_H
#define LISTENINGPORT_H

#include <QHostAddress>
#include <QString>

// Where a server of the program listens, or why it does not: the facts from which the operator
// is told where clients reach it.
struct ListeningPort
{
    // The port asked for, narrowed to 16 bits; 0 for a server that is off.
    quint16 requested = 0;
    // Null, and port 0, when it does not listen.
    QHostAddress address;
    quint16 port = 0;
    // Why listening failed; empty while it listens, or when it was not asked to.
    QString error;
};

#endif
