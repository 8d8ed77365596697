#include "commandengine.h"

#include "instrumentlog.h"
#include "serialconnection.h"
#include "seriallog.h"

#include <QDebug>

#include <utility>

namespace {

// A query that changes nothing is asked this many times more before the
// instrument counts as silent.
constexpr int maxRetries = 3;

} // namespace

CommandEngine::CommandEngine(
    SerialConnection *serial, Classifier kindOf, Reader reader, QObject *parent)
    : QObject(parent)
    , serial(serial)
    , kindOf(kindOf)
    , reader(std::move(reader))
{
    connect(this, &CommandEngine::checkQueue, this, &CommandEngine::readCommandQueue);
    connect(serial, &SerialConnection::endReception, this, &CommandEngine::messageReceived);
}

QString CommandEngine::printable(const QByteArray &bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto value = static_cast<uchar>(byte);
        if (value >= 0x20 && value < 0x7f)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    return text;
}

void CommandEngine::queueCommand(const QString &command)
{
    commandQueue.append(command);
    emit checkQueue();
}

void CommandEngine::queueTyped(const QString &command)
{
    // Noted before queuing: on a closed port the reception comes at once.
    typedPositions.append(headPosition + commandQueue.size());
    queueCommand(command);
}

// Positions count as in the queue's bookkeeping.
void CommandEngine::queueSet(const QList<QString> &commands)
{
    commandQueue.append(commands);
    setEnds.append(headPosition + commandQueue.size() - 1);
    emit checkQueue();
}

void CommandEngine::forgetSets()
{
    setEnds.clear();
}

void CommandEngine::dropQueue()
{
    headPosition += commandQueue.size();
    commandQueue.clear();
    typedPositions.clear();
    setEnds.clear();
    inFlight = false;
    retries = 0;
    wholeWaitNext = false;
}

qint64 CommandEngine::elapsedSinceSent() const
{
    return stopwatch.isValid() ? stopwatch.elapsed() : 0;
}

bool CommandEngine::headIsTyped() const
{
    return !typedPositions.isEmpty() && typedPositions.constFirst() == headPosition;
}

void CommandEngine::readCommandQueue()
{
    if (commandQueue.isEmpty() || inFlight)
        return;
    const CommandKind kind = kindOf(commandQueue.constFirst());
    if (verbose)
        stopwatch.start();

    // Set before the write: a write that fails delivers its reception inside
    // transmitMsg, and the dispatch of that reception ends the flight.
    inFlight = true;
    // Nothing is known of what the operator's own commands answer, so they
    // always get their whole waiting time; so does the exchange after a
    // misfire, whose reception is where the rest of a late or split answer
    // has always landed, rather than in some later command's.
    const bool afterMisfire = std::exchange(wholeWaitNext, false);
    const CommandKind::Shape shape = afterMisfire || headIsTyped() ? nullptr : kind.shape;
    serial->transmitMsg(kind.wire, kind.waitMs, shape);
}

void CommandEngine::messageReceived()
{
    // Only the link's event-driven mode can deliver a reception that no
    // write asked for; there is no command it could belong to.
    if (commandQueue.isEmpty())
        return;
    // Until its answer has been handled the head counts as out, whichever
    // way the reception came: a follow-up appended by the reader must not
    // write it again.
    inFlight = true;
    const bool typed = headIsTyped();
    const QString head = commandQueue.constFirst();
    const QByteArray received = serial->rxMsg;

    // The trace shows the exchange without its carriage returns; what is
    // read is the exchange as it was.
    if (verbose) {
        const qint64 elapsed = elapsedSinceSent();
        trace(QStringLiteral("tx: \"%1\" rx: \"%2\" elapsed time (ms): %3")
                  .arg(QString(head).remove(u'\r'),
                      QString::fromLatin1(QByteArray(received).replace('\r', QByteArray())))
                  .arg(elapsed));
    }

    const CommandKind kind = kindOf(head);
    const bool isAnswer = !received.isEmpty();
    bool understood = false;
    if (isAnswer) {
        understood = reader(head, received);
    } else if (kind.unanswered) {
        qCDebug(lcInstrument, "%s", kind.unanswered);
        serial->flush();
    }

    // After the operator has closed the port the queue drains as it always
    // has; a misfire is only dealt with on an open line.
    bool moveOn = isAnswer;
    if (!understood && serial->isPortOpen()) {
        switch (handleMisfire(head, kind, typed)) {
        case Misfire::AskAgain:
        case Misfire::GiveUp:
            return;
        case Misfire::FollowUp:
            moveOn = true;
            break;
        case Misfire::Ignore:
            break;
        }
    }

    retries = 0;
    if (!commandQueue.isEmpty()) {
        if (!setEnds.isEmpty() && setEnds.constFirst() == headPosition) {
            setEnds.removeFirst();
            emit setAnswered();
        }
        commandQueue.removeFirst();
        ++headPosition;
        if (typed)
            typedPositions.removeFirst();
    }
    // The flight ends only now: whatever the reader appended while the head
    // was still out goes after it, and is written exactly once.
    inFlight = false;
    // After an empty reception the queue rests until an action moves it.
    if (moveOn)
        emit checkQueue();
}

// What becomes of a command whose answer was missing, empty or not
// understood. The operator's own commands are never sent again.
CommandEngine::Misfire CommandEngine::handleMisfire(
    const QString &head, const CommandKind &kind, bool typed)
{
    const QByteArray &received = serial->rxMsg;
    switch (kind.role) {
    case CommandKind::Role::Query:
        if (typed)
            return Misfire::Ignore;
        if (retries < maxRetries) {
            ++retries;
            // Bytes still trickling in from the lost answer must not pass for
            // the answer to the repeated query.
            serial->flush();
            inFlight = false;
            wholeWaitNext = true;
            emit checkQueue();
            return Misfire::AskAgain;
        }
        showNoAnswer(head);
        return Misfire::GiveUp;
    case CommandKind::Role::Motion:
    case CommandKind::Role::QuietMotion: {
        // The instrument may have taken the command and lost only its
        // answer: polling finds out when the motor stops, and the read-back
        // then shows where it really is.
        const QString line = QStringLiteral(
            "instrument: \"%1\" not acknowledged (answer \"%2\"); polling the motor")
                                 .arg(head, printable(received));
        emit warningLogged(line);
        emit motionUnconfirmed(kind.role == CommandKind::Role::QuietMotion);
        commandQueue.append(kind.followUp);
        wholeWaitNext = true;
        return Misfire::FollowUp;
    }
    case CommandKind::Role::WakeUp:
        if (typed || !(received.isEmpty() || received.startsWith("RX_ERROR: ")))
            return Misfire::Ignore;
        showNoAnswer(head);
        return Misfire::GiveUp;
    case CommandKind::Role::Other:
        break;
    }
    return Misfire::Ignore;
}

// The instrument has stopped answering: nothing more can come of the queue.
void CommandEngine::showNoAnswer(const QString &head)
{
    const int tries = retries + 1;
    const QString line
        = QStringLiteral("instrument: no answer to \"%1\" after %2 %3, last reception \"%4\"")
              .arg(printable(head.toLatin1()))
              .arg(tries)
              .arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"),
                  printable(serial->rxMsg));
    dropQueue();
    emit gaveUp(line);
}

void CommandEngine::trace(const QString &line)
{
    qCDebug(lcSerial, "%s", qPrintable(line));
    emit exchangeTraced(line);
}
