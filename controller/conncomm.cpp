#include "triaxcontroller.h"

#include "commandkind.h"
#include "serialconnection.h"

#include <QDebug>
#include <QRegularExpression>

#include <utility>

namespace {

constexpr int shortWait = 200;
constexpr int wakeUpWait = 500;
// The instrument needs this long to start its firmware after "A".
constexpr int startWait = 90000;
// A query that changes nothing is asked this many times more before the
// instrument counts as silent.
constexpr int maxRetries = 3;

// A backslash and one to three digits 1 to 9: the command stands for one raw
// byte. Matched against the whole command, as the instrument's own tools do.
bool matchByteEscape(const QString &command, char *byte = nullptr)
{
    static const QRegularExpression byteEscape(QStringLiteral("^\\\\([1-9]{1,3}$)"));
    const QRegularExpressionMatch match = byteEscape.match(command);
    // "$" would also match before a final line feed: insist on the very end.
    if (!match.hasMatch() || match.capturedEnd() != command.size())
        return false;
    if (byte)
        *byte = static_cast<char>(match.captured(1).toInt(nullptr, 10) & 0xff);
    return true;
}

// A reception as one line of text: a garbled answer may hold any byte.
QString printable(const QByteArray &bytes)
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

// The shapes of complete answers, each what its parser needs and nothing
// more. A number is complete with its first digit, as it is for its parser,
// so the answer gap has to be longer than any pause the line makes inside
// an answer.
bool isAcknowledgement(const QByteArray &received)
{
    return received.startsWith('o');
}

bool isMotorState(const QByteArray &received)
{
    return received.startsWith("oz") || received.startsWith("oq");
}

bool isNumber(const QByteArray &received)
{
    return received.size() > 1 && received.at(0) == 'o' && received.at(1) >= '0'
        && received.at(1) <= '9';
}

// The panel shows two decimals cut off from at least three.
bool isWavelength(const QByteArray &received)
{
    static const QRegularExpression wavelength(QStringLiteral("^o\\d+\\.\\d{3}"));
    return wavelength.match(QString::fromLatin1(received)).hasMatch();
}

} // namespace

// The one place that says what each command is. The first row that fits
// decides; the rows without a handler of their own go to parseDEFAULT.
const CommandKind &TriaxController::kindOf(const QString &command) const
{
    using K = CommandKind;
    static const CommandKind kinds[] = {
        { K::Match::Exactly, QLatin1String(" "), K::Framing::Bare, wakeUpWait, nullptr,
            &TriaxController::parseSPACE, K::Role::WakeUp },
        { K::Match::Exactly, QLatin1String("O2000"), K::Framing::NulTerminated, wakeUpWait, nullptr,
            &TriaxController::parseO2000, K::Role::WakeUp },
        { K::Match::Exactly, QLatin1String("\\247"), K::Framing::Byte, shortWait, nullptr,
            &TriaxController::parse247, K::Role::WakeUp },
        { K::Match::Exactly, QLatin1String("A"), K::Framing::Bare, startWait, nullptr,
            &TriaxController::parseA, K::Role::WakeUp },
        { K::Match::Exactly, QLatin1String("E"), K::Framing::Bare, shortWait, isMotorState,
            &TriaxController::parseE, K::Role::Query },
        { K::Match::StartsWith, QLatin1String("F"), K::Framing::CarriageReturn, shortWait,
            isAcknowledgement, &TriaxController::parseF, K::Role::QuietMotion },
        { K::Match::StartsWith, QLatin1String("H"), K::Framing::CarriageReturn, shortWait, isNumber,
            &TriaxController::parseH, K::Role::Query },
        { K::Match::StartsWith, QLatin1String("Z61"), K::Framing::CarriageReturn, shortWait,
            isAcknowledgement, &TriaxController::parseZ61, K::Role::Motion },
        { K::Match::StartsWith, QLatin1String("Z62"), K::Framing::CarriageReturn, shortWait,
            isWavelength, &TriaxController::parseZ62, K::Role::Query },
        { K::Match::StartsWith, QLatin1String("Z452"), K::Framing::CarriageReturn, shortWait,
            isNumber, &TriaxController::parseZ452, K::Role::Query },
        { K::Match::StartsWith, QLatin1String("Z451"), K::Framing::CarriageReturn, shortWait,
            isAcknowledgement, &TriaxController::parseZ451, K::Role::Motion },
        { K::Match::StartsWith, QLatin1String("j"), K::Framing::CarriageReturn, shortWait, isNumber,
            &TriaxController::parseReadSlitPosition, K::Role::Query },
        { K::Match::StartsWith, QLatin1String("k"), K::Framing::CarriageReturn, shortWait,
            isAcknowledgement, &TriaxController::parseNewSlitPosition, K::Role::Motion },
        { K::Match::ByteEscape, QLatin1String(), K::Framing::Byte, shortWait, nullptr,
            &TriaxController::parseDEFAULT, K::Role::Other },
        { K::Match::LetterCommand, QLatin1String(), K::Framing::CarriageReturn, shortWait, nullptr,
            &TriaxController::parseDEFAULT, K::Role::Other },
        { K::Match::Anything, QLatin1String(), K::Framing::Bare, shortWait, nullptr,
            &TriaxController::parseDEFAULT, K::Role::Other },
    };

    const auto fits = [this, &command](const CommandKind &kind) {
        switch (kind.match) {
        case K::Match::Exactly:
            return command == kind.text;
        case K::Match::StartsWith:
            return command.startsWith(kind.text);
        case K::Match::ByteEscape:
            return matchByteEscape(command);
        case K::Match::LetterCommand:
            return !command.isEmpty() && commandLetters.contains(command.at(0));
        case K::Match::Anything:
            return true;
        }
        return false;
    };
    for (const CommandKind &kind : kinds) {
        if (fits(kind))
            return kind;
    }
    return std::end(kinds)[-1];
}

void TriaxController::openPort()
{
    const int opened = serial->openPort();
    if (opened == 1) {
        // Whatever the last connection ended with no longer holds.
        setState(State::WakingUp);
        queueCommand(QStringLiteral(" "));
        return;
    }
    // Not opened, the link's reason is the status until the next try; open
    // already, the state tells how the instrument is, and stays.
    const QString line
        = QStringLiteral("serial port %1: %2").arg(serial->devicePath(), serial->statusMsg);
    if (opened == 0)
        setFault(State::OpenFailed, line, serial->statusMsg);
    else
        warn(line);
}

void TriaxController::closePort()
{
    m_ready = 0;
    // The queue drains on the closed port; nothing it still holds is an answer.
    readBackEnds.clear();
    setState(State::Closed);
    serial->closePort();
}

bool TriaxController::setDevicePath(const QString &path)
{
    if (path == serial->devicePath())
        return true;
    if (!serial->setDevicePath(path))
        return false;
    emit devicePathChanged(path);
    return true;
}

void TriaxController::portLost(const QString &reason)
{
    dropQueue();
    m_ready = 0;
    setFault(State::PortLost,
        QStringLiteral("serial port %1 lost: %2").arg(serial->devicePath(), reason));
}

void TriaxController::dropQueue()
{
    headPosition += commandQueue.size();
    commandQueue.clear();
    typedPositions.clear();
    readBackEnds.clear();
    inFlight = false;
    retries = 0;
    wholeWaitNext = false;
}

void TriaxController::queueCommand(const QString &command)
{
    commandQueue.append(command);
    emit checkQueue();
}

void TriaxController::readCommandQueue()
{
    if (commandQueue.isEmpty() || inFlight)
        return;
    const QString head = commandQueue.first();
    if (verbose)
        stopwatch.start();

    // Set before the write: a write that fails delivers its reception inside
    // transmitMsg, and the dispatch of that reception ends the flight.
    inFlight = true;
    transmit(head, kindOf(head));
}

void TriaxController::transmit(const QString &head, const CommandKind &kind)
{
    // Nothing is known of what the operator's own commands answer, so they
    // always get their whole waiting time; so does the exchange after a
    // misfire, whose reception is where the rest of a late or split answer
    // has always landed, rather than in some later command's.
    const bool afterMisfire = std::exchange(wholeWaitNext, false);
    const CommandKind::Shape shape = afterMisfire || headIsTyped() ? nullptr : kind.shape;
    switch (kind.framing) {
    case CommandKind::Framing::Byte: {
        char byte = 0;
        matchByteEscape(head, &byte);
        serial->transmitMsg(&byte, 1, kind.waitMs, shape);
        return;
    }
    case CommandKind::Framing::NulTerminated: {
        const QByteArray bytes = head.toLatin1() + '\0';
        serial->transmitMsg(bytes.constData(), int(bytes.size()), kind.waitMs, shape);
        return;
    }
    case CommandKind::Framing::CarriageReturn:
        serial->transmitMsg(head, QStringLiteral("\r"), kind.waitMs, shape);
        return;
    case CommandKind::Framing::Bare:
        serial->transmitMsg(head, QString(), kind.waitMs, shape);
        return;
    }
}

bool TriaxController::headIsTyped() const
{
    return !typedPositions.isEmpty() && typedPositions.constFirst() == headPosition;
}

void TriaxController::messageReceived()
{
    // Only the link's event-driven mode can deliver a reception that no
    // write asked for; there is no command it could belong to.
    if (commandQueue.isEmpty())
        return;
    // Until its answer has been handled the head counts as out, whichever
    // way the reception came: a follow-up appended by a parser must not
    // write it again.
    inFlight = true;
    const bool typed = headIsTyped();

    if (verbose) {
        const qint64 elapsed = elapsedSinceSent();
        const QString head = takeCarriageReturns();
        trace(QStringLiteral("tx: \"%1\" rx: \"%2\" elapsed time (ms): %3")
                  .arg(head, QString::fromLatin1(serial->rxMsg))
                  .arg(elapsed));
    }

    const QString head = commandQueue.constFirst();
    const CommandKind &kind = kindOf(head);
    const bool isAnswer = !serial->rxMsg.isEmpty();
    bool understood = false;
    if (isAnswer) {
        understood = (this->*kind.parser)();
    } else if (head == QLatin1String("\\248")) {
        qDebug("<248> was sent, no answer");
    } else if (head == QLatin1String("\\222")) {
        qDebug("<222> was sent, no answer");
    } else if (head == QLatin1String(" ")) {
        qDebug("not receiving answer (space) after 500ms");
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
        endReadBack();
        currentCommand = commandQueue.takeFirst();
        ++headPosition;
        if (typed)
            typedPositions.removeFirst();
    }
    // The flight ends only now: whatever a parser appended while the head
    // was still out goes after it, and is written exactly once.
    inFlight = false;
    // After an empty reception the queue rests until an action moves it.
    if (moveOn)
        emit checkQueue();
}

// What becomes of a command whose answer was missing, empty or not
// understood. The operator's own commands are never sent again.
TriaxController::Misfire TriaxController::handleMisfire(
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
    case CommandKind::Role::QuietMotion:
        // The instrument may have taken the command and lost only its
        // answer: polling finds out when the motor stops, and the read-back
        // then shows where it really is.
        warn(
            QStringLiteral("instrument: \"%1\" not acknowledged (answer \"%2\"); polling the motor")
                .arg(head, printable(received)));
        showMotorBusy(kind.role == CommandKind::Role::QuietMotion);
        commandQueue.append(QStringLiteral("E"));
        wholeWaitNext = true;
        return Misfire::FollowUp;
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

// The instrument has stopped answering: say so, and leave only closing the
// port, since nothing more can come of the queue.
void TriaxController::showNoAnswer(const QString &head)
{
    const int tries = retries + 1;
    const QString line
        = QStringLiteral("instrument: no answer to \"%1\" after %2 %3, last reception \"%4\"")
              .arg(printable(head.toLatin1()))
              .arg(tries)
              .arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"),
                  printable(serial->rxMsg));
    currentCommand = head;
    dropQueue();
    m_ready = 0;
    setFault(State::NoAnswer, line);
}

QString TriaxController::takeCarriageReturnsFromHead()
{
    commandQueue.first().remove(u'\r');
    return commandQueue.first();
}

// Verbose traces show the exchange without the carriage returns, in the
// reception and in the head command alike.
QString TriaxController::takeCarriageReturns()
{
    serial->rxMsg.replace('\r', QByteArray());
    return takeCarriageReturnsFromHead();
}

// The stopwatch runs only for commands sent in verbose mode; one never
// started reads 0.
qint64 TriaxController::elapsedSinceSent() const
{
    return stopwatch.isValid() ? stopwatch.elapsed() : 0;
}
