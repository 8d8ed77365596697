#ifndef COMMANDKIND_H
#define COMMANDKIND_H

#include "serialconnection.h"

#include <QLatin1String>

class TriaxController;

// Everything the panel knows of one kind of instrument command: which
// commands belong to it, how they go on the wire, how long the instrument is
// given to answer, what a complete answer looks like, which handler reads the
// answer, and what may be done when the answer is missing or not understood.
struct CommandKind
{
    enum class Match {
        Exactly, // the command is `text`
        StartsWith, // the command begins with `text`
        ByteEscape, // a backslash and one to three digits 1 to 9
        LetterCommand, // the first character is one of the controller's commandLetters
        Anything,
    };
    enum class Framing {
        Byte, // the one byte the escape stands for
        NulTerminated, // the characters and a NUL
        CarriageReturn, // the characters and "\r"
        Bare, // the characters alone
    };
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
    // Reads the answer to the command at the head of the queue; returns
    // whether the answer was understood.
    using Parser = bool (TriaxController::*)();

    Match match;
    QLatin1String text;
    Framing framing;
    int waitMs;
    Shape shape;
    Parser parser;
    Role role;
};

#endif
