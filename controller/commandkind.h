#ifndef COMMANDKIND_H
#define COMMANDKIND_H

#include "serialconnection.h"

#include <QByteArray>
#include <QString>

// What the command engine knows of one command: the bytes that go on the
// wire, how long the instrument is given to answer, what a complete answer
// looks like, and what may be done when the answer is missing or not
// understood.
struct CommandKind
{
    enum class Role {
        // A step of the wake-up sequence: when it gets no answer at all the
        // instrument is not there to be woken up.
        WakeUp,
        // Changes nothing on the instrument, so it may be asked again.
        Query,
        // Moves the instrument: never sent twice, since a repeated relative
        // move would move it twice; an answer lost is followed up by polling.
        Motion,
        // A motion that leaves the panel as it is while the motor runs, as
        // the operator's relative drive moves always have.
        QuietMotion,
        Other,
    };
    // Whether the bytes received so far already hold an answer the parser
    // understands. The reception may then end before waitMs, once the line
    // has gone quiet (the answer gap). Kinds without one always wait waitMs.
    using Shape = SerialConnection::AnswerShape;

    QByteArray wire;
    int waitMs;
    Shape shape;
    Role role;
    // What follows up a motion whose acknowledgement was lost: the query
    // that polls the motor.
    QString followUp;
    // The debug line for a reception that is empty; the line is flushed
    // after it, so that stray bytes of a late answer cannot pass for the next.
    const char *unanswered;
};

#endif
