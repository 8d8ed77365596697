#ifndef COMMANDENGINE_H
#define COMMANDENGINE_H

#include "commandkind.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class SerialConnection;

// The command queue on a serial link: commands go out strictly one at a
// time from commandQueue, whose element 0 is the command in flight or the
// next one to send. It knows of each command only its kind (the bytes, the
// waiting time, its role), asks the reader to understand each answer, and
// deals with the answers that are missing or not understood: a query is
// asked again, a motion is followed up by polling, and a silent instrument
// is given up on.
class CommandEngine : public QObject
{
    Q_OBJECT

public:
    using Classifier = CommandKind (*)(const QString &command);
    // Reads the answer received for the command at the head of the queue,
    // which stays at the head meanwhile; may queue follow-ups; returns
    // whether the answer was understood.
    using Reader = std::function<bool(const QString &head, const QByteArray &received)>;

    CommandEngine(
        SerialConnection *serial, Classifier kindOf, Reader reader, QObject *parent = nullptr);

    // Appends a command; it goes out once those before it are answered.
    void queueCommand(const QString &command);
    // A command typed by the operator, sent as it is and never repeated.
    void queueTyped(const QString &command);
    // A set of commands whose last answer is announced by setAnswered().
    void queueSet(const QList<QString> &commands);
    bool setsPending() const { return !setEnds.isEmpty(); }
    // The sets still queued are no longer awaited: the queue drains on a
    // closed port, and nothing it still holds is an answer.
    void forgetSets();
    // Empties the queue, the command in flight included.
    void dropQueue();

    QList<QString> queuedCommands() const { return commandQueue; }
    bool isVerbose() const { return verbose; }
    void setVerbose(bool on) { verbose = on; }
    // Milliseconds since the head was sent; the stopwatch runs only for
    // commands sent in verbose mode, and one never started reads 0.
    qint64 elapsedSinceSent() const;
    // Writes a traced exchange on the debug output.
    void trace(const QString &line);
    // A reception as one line of text: a garbled answer may hold any byte.
    static QString printable(const QByteArray &bytes);

Q_SIGNALS:
    void checkQueue();
    void setAnswered();
    // A motion's acknowledgement was lost and its poll queued; quiet for a
    // motion that leaves the panel open.
    void motionUnconfirmed(bool quiet);
    // The instrument has stopped answering; the queue has been dropped.
    void gaveUp(const QString &line);
    // A warning for the operator, which the controller writes.
    void warningLogged(const QString &line);
    void exchangeTraced(const QString &line);

private Q_SLOTS:
    void readCommandQueue();
    void messageReceived();

private:
    enum class Misfire { Ignore, AskAgain, FollowUp, GiveUp };
    Misfire handleMisfire(const QString &head, const CommandKind &kind, bool typed);
    bool headIsTyped() const;
    void showNoAnswer(const QString &head);

    SerialConnection *serial;
    const Classifier kindOf;
    const Reader reader;
    QList<QString> commandQueue;
    QElapsedTimer stopwatch;
    bool verbose = false;
    // Set while the head of the queue has been written and its reception is
    // awaited, so that a command appended meanwhile does not send the head a
    // second time.
    bool inFlight = false;
    // Commands count from the first one ever queued; headPosition is the
    // count of the head. typedPositions holds the counts of the queued
    // commands the operator typed, which are sent exactly as often as the
    // operator asked; setEnds the counts of the last command of each set
    // still to be answered.
    qint64 headPosition = 0;
    QList<qint64> typedPositions;
    QList<qint64> setEnds;
    // How often in a row the head has been asked again.
    int retries = 0;
    // The next command written waits its whole time whatever its answer.
    bool wholeWaitNext = false;
};

#endif
