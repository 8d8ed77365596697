#ifndef TRIAXPROTOCOL_H
#define TRIAXPROTOCOL_H

#include "commandkind.h"

#include <QByteArray>
#include <QChar>
#include <QList>
#include <QString>

// The instrument's command language: how each command goes on the wire, what
// its answers say, and the commands the panel builds. Functions of a command
// and the bytes received for it; nothing here holds state.
namespace TriaxProtocol {

// What an answer says, as far as the panel acts on it.
struct Reading
{
    enum class Meaning {
        NotUnderstood,
        // A command the panel knows nothing of: any answer will do.
        Other,
        // A step of the wake-up; text is the command to send next.
        Next,
        // The instrument has woken up and is ready.
        Awake,
        // A motion taken: the panel is locked while the motor is polled.
        MotionTaken,
        // A relative drive move taken: polled, with the panel left open.
        QuietMotionTaken,
        StillMoving,
        MotionEnded,
        // Read-backs; text is the value as the instrument wrote it.
        Position,
        Wavelength,
        InSlit,
        OutSlit,
        Grating,
    };

    Meaning meaning = Meaning::NotUnderstood;
    QString text;
    // For an answer not understood, the debug line the panel writes about it,
    // where it has always written one.
    const char *complaint = nullptr;
};

enum class Slit { Entrance, Exit };
enum class ReadBackAfter { WakeUp, Motion };

CommandKind kindOf(const QString &command);
Reading read(const QString &command, const QByteArray &received);
// The answer as text, up to its first NUL byte.
QString answerText(const QByteArray &received);
// First characters of the commands that end with a carriage return.
const QList<QChar> &commandLetters();

QString wakeUpCommand();
QString pollCommand();
// The values the panel shows, asked for whenever the instrument becomes ready.
QList<QString> readBack(ReadBackAfter after);
// The arguments as the instrument reads them: a point for decimals, no group
// separators, no exponent.
QString wavelengthCommand(const QString &nanometres);
QString relativeMoveCommand(const QString &steps);
QString slitMoveCommand(Slit slit, int steps);
QString gratingCommand(int index);

} // namespace TriaxProtocol

#endif
