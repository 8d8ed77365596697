#include "scpiconnection.h"

#include "monopanelversion.h"
#include "remoteaccess.h"
#include "statename.h"
#include "triaxlimits.h"

#include <QLocale>
#include <QTcpSocket>

#include <algorithm>
#include <climits>
#include <cmath>
#include <type_traits>

namespace {

using Command = ScpiParser::Command;
using Function = ScpiParser::Function;
using Value = ScpiParser::Value;
using State = TriaxController::State;

// The SCPI version whose conventions the commands follow, as SYSTem:VERSion? answers it.
const QString scpiVersion = QStringLiteral("1999.0");

// *IDN?: maker, model, serial number (the instrument's is not read: 0) and version.
const QString identity = QStringLiteral("monopanel,Triax,0," MONOPANEL_VERSION);

// A string as the standard writes one: in double quotes, each of its own doubled.
QString quoted(QString text)
{
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString number(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// Why the instrument takes no request in a state, as the error queue has it: a motion
// conflicts with another, a closed or waking instrument cannot carry one out, and a fault is
// the instrument's own.
ScpiErrors::Error notTakenError(State state)
{
    switch (state) {
    case State::Busy:
    case State::Moving:
        return ScpiErrors::settingsConflict;
    case State::NoAnswer:
        return ScpiErrors::timeOutError;
    case State::PortLost:
        return ScpiErrors::communicationError;
    case State::OpenFailed:
        return ScpiErrors::deviceSpecificError;
    case State::Closed:
    case State::WakingUp:
    case State::ReadingBack:
    case State::Ready:
        break;
    }
    return ScpiErrors::executionError;
}

// MIN and MAX from the limit. A whole number is rounded to the nearest, as the standard has
// instruments do; one past any int is past every limit too.
template<typename T>
T valueOf(const Command &command, const TriaxLimit<T> &limit)
{
    switch (command.value) {
    case Value::Minimum:
        return limit.minimum;
    case Value::Maximum:
        return limit.maximum;
    case Value::Number:
    case Value::None:
        break;
    }
    if constexpr (std::is_integral_v<T>)
        return T(std::clamp(std::round(command.number), double(INT_MIN), double(INT_MAX)));
    else
        return command.number;
}

} // namespace

ScpiConnection::ScpiConnection(QTcpSocket *socket, TriaxController *controller, QObject *parent)
    : QObject(parent)
    , socket(socket)
    , controller(controller)
    , origin(RemoteAccess::addressText(socket->peerAddress()) + QStringLiteral(" (SCPI)"))
{
    socket->setParent(this);
    // While the client leaves its answers unread its lines are left unread too; Qt stops
    // reading from the system once this much waits, and TCP then holds the client back.
    socket->setReadBufferSize(64 * 1024);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A client whose machine went away without a word is noticed in the end.
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &ScpiConnection::readInput);
    // Once answers have gone out, lines held back meanwhile are read.
    connect(socket, &QTcpSocket::bytesWritten, this, &ScpiConnection::readInput);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    readInput();
}

void ScpiConnection::readInput()
{
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() > 0
        && socket->bytesToWrite() <= MaxUnreadAnswers) {
        const QByteArray received = socket->readAll();
        qsizetype start = 0;
        while (start < received.size() && socket->state() == QAbstractSocket::ConnectedState) {
            const qsizetype end = received.indexOf('\n', start);
            const QByteArrayView piece
                = QByteArrayView(received).sliced(start, (end < 0 ? received.size() : end) - start);
            start = end < 0 ? received.size() : end + 1;
            if (skippingLine) {
                skippingLine = end < 0;
                continue;
            }
            if (partialLine.size() + piece.size() <= MaxLineLength) {
                partialLine += piece;
                if (end >= 0) {
                    takeLine(partialLine);
                    partialLine.clear();
                }
                continue;
            }
            // An HTTP request line that is too long for a line is still one.
            if (firstLine && ScpiParser::looksLikeHttp(partialLine + piece.toByteArray())) {
                refuseHttp();
                return;
            }
            firstLine = false;
            partialLine.clear();
            skippingLine = end < 0;
            Command tooLong;
            tooLong.error = ScpiErrors::tooMuchData;
            tooLong.text
                = QStringLiteral("a line longer than %1 bytes was ignored").arg(MaxLineLength);
            queue({ tooLong });
        }
    }
}

void ScpiConnection::takeLine(QByteArrayView line)
{
    if (line.endsWith('\r'))
        line.chop(1);
    if (firstLine) {
        firstLine = false;
        if (ScpiParser::looksLikeHttp(line)) {
            refuseHttp();
            return;
        }
    }
    const QList<Command> commands = ScpiParser::parse(line);
    if (!commands.isEmpty())
        queue(commands);
}

void ScpiConnection::queue(const QList<Command> &line)
{
    qsizetype waiting = 0;
    for (const QList<Command> &commands : std::as_const(pending))
        waiting += commands.size();
    if (waiting + line.size() > MaxQueuedCommands) {
        status.push(ScpiErrors::inputBufferOverrun,
            QStringLiteral("%1 commands wait behind *OPC? or *WAI: a line was ignored")
                .arg(waiting));
        return;
    }
    pending.append(line);
    runQueue();
}

void ScpiConnection::runQueue()
{
    while (!blockingWait && !pending.isEmpty()) {
        QList<Command> &line = pending.first();
        if (line.isEmpty()) {
            pending.removeFirst();
            writeAnswers();
        } else {
            execute(line.takeFirst());
        }
    }
}

void ScpiConnection::writeAnswers()
{
    if (answers.isEmpty())
        return;
    socket->write(answers.join(QLatin1Char(';')).toUtf8() + '\n');
    answers.clear();
}

void ScpiConnection::execute(const Command &command)
{
    if (!command.isValid()) {
        status.push(command.error, command.text);
        return;
    }
    const TriaxController::Requester by { origin, command.text };
    switch (command.function) {
    case Function::Identify:
        answers.append(identity);
        break;
    case Function::ClearStatus:
        status.clear();
        delete operationWait;
        break;
    case Function::OperationComplete:
        if (command.query)
            waitReady(true);
        else
            waitForOperationComplete();
        break;
    case Function::Wait:
        waitReady(false);
        break;
    case Function::EventStatus:
        answers.append(QString::number(status.takeEventStatus()));
        break;
    case Function::EventStatusEnable:
        if (command.query)
            answers.append(QString::number(status.eventStatusEnable()));
        else
            setMask(command, &ScpiStatus::setEventStatusEnable);
        break;
    case Function::StatusByte:
        answers.append(QString::number(status.statusByte()));
        break;
    case Function::ServiceRequestEnable:
        if (command.query)
            answers.append(QString::number(status.serviceRequestEnable()));
        else
            setMask(command, &ScpiStatus::setServiceRequestEnable);
        break;
    case Function::NextError:
        answers.append(status.takeError());
        break;
    case Function::ErrorCount:
        answers.append(QString::number(status.errorCount()));
        break;
    case Function::AllErrors: {
        QStringList errors { status.takeError() };
        while (status.errorCount() > 0)
            errors.append(status.takeError());
        answers.append(errors.join(QLatin1Char(',')));
        break;
    }
    case Function::Version:
        answers.append(scpiVersion);
        break;
    case Function::Connect:
        controller->openPort(by);
        if (controller->state() == State::OpenFailed)
            status.push(ScpiErrors::deviceSpecificError, controller->faultReason());
        break;
    case Function::Close:
        controller->closePort(by);
        break;
    case Function::Position:
        answers.append(QString::number(controller->position()));
        break;
    case Function::State:
        answers.append(quoted(stateName(controller->state())));
        break;
    case Function::StateReason:
        answers.append(quoted(controller->faultReason()));
        break;
    case Function::Wavelength:
    case Function::MoveRelative:
    case Function::EntranceSlit:
    case Function::ExitSlit:
    case Function::Grating:
        request(command);
        break;
    }
}

// A setting goes to the controller, a query reads its last value or a limit.
void ScpiConnection::request(const Command &command)
{
    if (command.query) {
        switch (command.function) {
        case Function::Wavelength:
            answers.append(limitOr(command, controller->wavelength()));
            break;
        case Function::EntranceSlit:
            answers.append(limitOr(command, controller->inSlitSteps()));
            break;
        case Function::ExitSlit:
            answers.append(limitOr(command, controller->outSlitSteps()));
            break;
        default:
            answers.append(limitOr(command, controller->grating()));
            break;
        }
        return;
    }
    const State before = controller->state();
    const TriaxController::Requester by { origin, command.text };
    QString verdict;
    switch (command.function) {
    case Function::Wavelength:
        verdict
            = controller->newWavelength(valueOf(command, TriaxLimits::wavelength), QString(), by);
        break;
    case Function::MoveRelative:
        verdict
            = controller->moveRelative(valueOf(command, TriaxLimits::relativeMove), QString(), by);
        break;
    case Function::EntranceSlit:
        verdict = controller->newInSlit(valueOf(command, TriaxLimits::slit), QString(), by);
        break;
    case Function::ExitSlit:
        verdict = controller->newOutSlit(valueOf(command, TriaxLimits::slit), QString(), by);
        break;
    default:
        verdict = controller->changeGrating(valueOf(command, TriaxLimits::grating), by);
        break;
    }
    if (verdict.isEmpty())
        return;
    // Taken in that state, the request was refused for its value.
    status.push(TriaxController::accepts(before).requests ? ScpiErrors::dataOutOfRange
                                                          : notTakenError(before),
        verdict);
}

QString ScpiConnection::limitOr(const Command &command, double value) const
{
    const auto limit = [&command](const auto &bounds) {
        return command.value == Value::Minimum ? double(bounds.minimum) : double(bounds.maximum);
    };
    if (command.value != Value::Minimum && command.value != Value::Maximum)
        return number(value);
    switch (command.function) {
    case Function::Wavelength:
        return number(limit(TriaxLimits::wavelength));
    case Function::Grating:
        return number(limit(TriaxLimits::grating));
    default:
        return number(limit(TriaxLimits::slit));
    }
}

void ScpiConnection::setMask(const Command &command, void (ScpiStatus::*set)(int))
{
    double mask = std::round(command.number);
    if (command.value == Value::Minimum)
        mask = 0;
    else if (command.value == Value::Maximum)
        mask = 255;
    if (!(mask >= 0 && mask <= 255)) {
        status.push(
            ScpiErrors::dataOutOfRange, QStringLiteral("%1: a mask is 0 to 255").arg(command.text));
        return;
    }
    (status.*set)(int(mask));
}

void ScpiConnection::waitReady(bool answer)
{
    blockingWait = new ReadyWait(controller, ReadyWait::MaxSeconds, this);
    connect(blockingWait, &ReadyWait::finished, this,
        [this, answer](ReadyWait::Outcome outcome, const QString &reason) {
            blockingWait->deleteLater();
            blockingWait = nullptr;
            judgeWait(outcome, reason);
            // The instrument has settled as far as it will: *OPC? says so whatever the
            // outcome, which the error queue holds.
            if (answer)
                answers.append(QStringLiteral("1"));
            runQueue();
        });
}

void ScpiConnection::waitForOperationComplete()
{
    delete operationWait;
    operationWait = new ReadyWait(controller, ReadyWait::MaxSeconds, this);
    connect(operationWait, &ReadyWait::finished, this,
        [this](ReadyWait::Outcome outcome, const QString &reason) {
            operationWait->deleteLater();
            judgeWait(outcome, reason);
            status.setOperationComplete();
        });
}

void ScpiConnection::judgeWait(ReadyWait::Outcome outcome, const QString &reason)
{
    switch (outcome) {
    case ReadyWait::Outcome::Ready:
        break;
    case ReadyWait::Outcome::Failed:
        status.push(notTakenError(controller->state()), reason);
        break;
    case ReadyWait::Outcome::TimedOut:
        status.push(ScpiErrors::executionError, reason);
        break;
    }
}

void ScpiConnection::refuseHttp()
{
    const QString line = QStringLiteral("SCPI: closed the connection from %1 without carrying "
                                        "out anything: its first line is an HTTP request, which "
                                        "a web page may have sent")
                             .arg(RemoteAccess::addressText(socket->peerAddress()));
    socket->abort();
    deleteLater();
    emit warningLogged(line);
}
